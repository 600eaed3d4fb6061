#pragma once
// Step 2 (c) (ExhaustivePartitionInfo): the file systems a search for lost
// partitions found, "File System 1 - FAT32" and so on under the node "File
// System", with the properties of the selected one. Next builds the chosen
// file system's tree (Step 3, then Step 4); Save Log writes the list to a
// ".ST2C" log. After such a log was loaded, the logged choice goes on to
// its tree at once; Back from Step 4 returns here to choose another.
#include <QWidget>
#include <vector>

#include "ui/wizard_window.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace dravolin::ui {

class ExhaustivePartitionInfo : public WizardPage {
  Q_OBJECT
 public:
  // After a loaded log (afterLoadedLog) the node of the logged choice is
  // selected and Next follows at once, the first time the page shows.
  explicit ExhaustivePartitionInfo(MainWindow& window, bool afterLoadedLog = false);
  void entered() override;
  void updateMenu(WizardMenu& menu) override;
  bool confirmExit() override;
  // Save Log: asks for the log's name, then saveLogTo.
  void saveLog() override;
  void saveLogTo(const QString& path);
  void next();

  QTreeWidget* tree() const { return tree_; }
  QPushButton* nextButton() const { return next_; }
  // Selects the node of found file system `ordinal` (1-based); false when absent.
  bool selectFileSystem(int ordinal);
  // The texts of the file-system nodes, in list order.
  QStringList nodeTexts() const;
  QString header() const;
  QStringList propertyTexts() const;

 private:
  void showSelection();

  QTreeWidget* tree_;
  QLabel* header_;
  std::vector<QLabel*> labels_;
  std::vector<QLabel*> values_;
  QPushButton* next_ = nullptr;
  bool nothingFound_ = false;
  bool toldNothingFound_ = false;
  bool nextAtOnce_ = false;
};

}  // namespace dravolin::ui
