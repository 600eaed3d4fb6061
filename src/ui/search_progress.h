#pragma once
// Step 3: starts the search the earlier steps chose under a search
// controller, shows its progress, clock and statistics from timers, and
// offers pause, stop, hide details and back. When the worker has ended it
// writes the step's block and moves on to Step 4.
#include <QTimer>
#include <functional>
#include <memory>

#include "app/search_controller.h"
#include "ui/wizard_window.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace dravolin::ui {

// A Step 3 job other than the file-system search: raw carving or imaging.
struct StepThreeJob {
  // Makes the worker once the controller exists; an error is told and
  // nothing runs.
  std::function<Result<SearchController::Worker>(SearchController&)> worker;
  // The value of the count row while the worker runs (raw recovery: the
  // bytes recovered).
  std::function<QString()> countText;
  // Runs on the window's thread when the worker has finished, before the
  // page closes.
  std::function<void()> finished;
};

class SearchProgress : public WizardPage {
  Q_OBJECT
 public:
  explicit SearchProgress(MainWindow& window, StepThreeJob job = {});
  ~SearchProgress() override;
  void entered() override;
  void updateMenu(WizardMenu& menu) override;
  bool confirmExit() override;

  void togglePause();
  void stop();
  void back();
  void toggleDetails();

  SearchController* controller() const { return controller_.get(); }
  bool running() const { return controller_ && started_ && !finished_; }
  QString clockText() const;
  QString statusText() const;
  int progressValue() const;

 signals:
  // The worker could not start (a file system app/ cannot search yet).
  void notAvailable(const QString& reason);

 private:
  void start();
  void poll();
  void finish();
  void leaveWhenEnded(std::function<void()> then);

  StepThreeJob job_;  // outlives the controller, whose worker may use it
  SteadyTickSource ticks_;
  std::unique_ptr<SearchController> controller_;
  bool started_ = false;
  bool finished_ = false;
  bool leaving_ = false;
  bool detailsHidden_ = false;
  bool pulsing_ = false;
  // The pass reloads a search log (the list it leads to is the log's).
  bool fromLoadedLog_ = false;
  ProgressPulse pulse_;
  QTimer pollTimer_;   // the worker's progress and completion
  QTimer clockTimer_;  // once a second
  QTimer pulseTimer_;  // every two seconds during a directory tree search
  QLabel* valueLabel_;
  QLabel* clock_;
  QLabel* value_;
  QLabel* directories_;
  QLabel* files_;
  QLabel* lastName_;
  QLabel* status_;
  QLabel* description_;
  QProgressBar* progress_;
  QPushButton* pause_;
  QPushButton* stop_;
  QPushButton* back_;
  QPushButton* details_;
  std::vector<QWidget*> detailWidgets_;
};

}  // namespace dravolin::ui
