#pragma once
// Saving from the result browser: the destination dialog (SavingPath), the
// size count (FileSize) and the saving itself (SavingDlg), each running its
// worker on its own thread and watching it from a timer.
#include <QDialog>
#include <QTimer>
#include <memory>
#include <optional>

#include "common/worker_job.h"
#include "results/saving.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace dravolin::ui {

class MainWindow;

// A destination on the disk being recovered may overwrite what is still to
// be recovered: the user is asked whether to write there all the same.
// True when the destination lies elsewhere or the user said Yes.
bool confirmDestinationOffSource(MainWindow& window, const std::filesystem::path& destination);

class SavingPath : public QDialog {
  Q_OBJECT
 public:
  // With the result tree: the saving of Step 4. Without one: raw recovery,
  // where OK only checks the folder (creating it) and keeps it; Settings is
  // greyed.
  SavingPath(MainWindow& window, ResultTree* tree);
  QLineEdit* destinationEdit() const { return destination_; }
  void accept() override;
  // Raw recovery: the checked folder after OK, else empty.
  const std::string& chosenPath() const { return chosen_; }

 private:
  MainWindow& window_;
  ResultTree* tree_;
  QLineEdit* destination_;
  std::string chosen_;
};

class FileSize : public QDialog {
  Q_OBJECT
 public:
  FileSize(MainWindow& window, Saver& saver);
  // The count, or nothing when the user stopped it.
  std::optional<SelectionCount> count() const { return stopped_ ? std::nullopt : std::optional(count_); }

 private:
  void poll();
  void stop();

  MainWindow& window_;
  WorkerJob job_;
  SelectionCount count_;
  bool stopped_ = false;
  QTimer timer_;
  QLabel* files_;
  QLabel* size_;
};

class SavingDlg : public QDialog {
  Q_OBJECT
 public:
  SavingDlg(MainWindow& window, Saver& saver, std::filesystem::path destination, SelectionCount count);
  ~SavingDlg() override;
  const SavingResult& result() const { return result_; }
  void togglePause();
  void stop();
  void skip();
  void settings();
  void toggleDetails();

 protected:
  void reject() override;  // Escape and the close box are Stop

 private:
  void poll();
  void finished();

  MainWindow& window_;
  Saver& saver_;
  WorkerJob job_;
  SavingResult result_;
  QTimer timer_;
  bool detailsHidden_ = false;
  bool done_ = false;
  QPushButton* pause_;
  QPushButton* details_;
  QLabel *elapsed_, *remaining_, *required_, *copied_, *lastName_, *directory_;
  QProgressBar* current_;
  QProgressBar* overall_;
  std::vector<QWidget*> detailWidgets_;
};

}  // namespace dravolin::ui
