#pragma once
// LogPath: shows the folder of the activity report or the recovery history
// and moves it to a folder the user picks.
#include <QDialog>

#include "app/session.h"

class QLineEdit;

namespace dravolin::ui {

class MainWindow;

class LogPath : public QDialog {
  Q_OBJECT
 public:
  LogPath(MainWindow& window, LogKind kind);
  QLineEdit* folderEdit() const { return folder_; }
  void accept() override;

 private:
  MainWindow& window_;
  LogKind kind_;
  QLineEdit* folder_;
};

}  // namespace dravolin::ui
