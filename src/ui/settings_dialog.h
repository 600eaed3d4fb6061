#pragma once
// The Settings dialog of the saving: deleted-state filter, selection mode,
// source of FAT cluster chains, extension list and the three date ranges.
// Apply keeps the changes; Cancel restores what was set at opening.
#include <QDialog>
#include <array>
#include <functional>

#include "results/saving_settings.h"

class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace dravolin::ui {

class MainWindow;

class Settings : public QDialog {
  Q_OBJECT
 public:
  explicit Settings(MainWindow& window);
  void addExtension();
  void removeExtension();
  QLineEdit* extensionEdit() const { return extension_; }
  QListWidget* extensionList() const { return list_; }
  void accept() override;
  void reject() override;

 private:
  void showKind();
  void datesChanged();

  MainWindow& window_;
  SettingsDialogModel model_;
  QLineEdit* extension_;
  QListWidget* list_;
  QPushButton* remove_;
  QComboBox* kind_;
  std::array<QComboBox*, 6> dates_{};
  bool loading_ = false;
};

}  // namespace dravolin::ui
