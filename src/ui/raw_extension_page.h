#pragma once
// Step 2 (b) of Raw Recovery (RawDefaultExtension): the file types raw
// recovery knows, each with a check box; Next asks for the saving path and
// runs the raw search as Step 3, which ends back on this page.
#include "ui/wizard_window.h"

class QTableWidget;

namespace dravolin::ui {

class RawDefaultExtension : public WizardPage {
  Q_OBJECT
 public:
  explicit RawDefaultExtension(MainWindow& window);
  void entered() override;
  void updateMenu(WizardMenu& menu) override;
  void next();
  void back();
  QTableWidget* extensions() const { return list_; }
  // Ticks the rows of these type names ("JPEG", "PDF", ...).
  void tick(const QStringList& names);

 private:
  QTableWidget* list_;
};

}  // namespace dravolin::ui
