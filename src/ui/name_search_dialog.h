#pragma once
// The name search of the result browser (FILE_SEARCH): a wildcard pattern
// with optional deleted-state, date and size filters, run on a worker; the
// hits can be opened in the browser, previewed and checked. The hits live in
// a NameSearchModel that holds only which nodes matched; it goes with the
// window.
#include <QDialog>
#include <QTimer>
#include <memory>
#include <vector>

#include "common/worker_job.h"
#include "results/name_search.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QModelIndex;
class QTreeView;

namespace dravolin::ui {

class FileDisplay;
class MainWindow;
class NameSearchModel;

class FileSearchDialog : public QDialog {
  Q_OBJECT
 public:
  FileSearchDialog(MainWindow& window, FileDisplay& display);
  ~FileSearchDialog() override;
  void startOrStop();
  bool searching() const { return job_ != nullptr; }
  QLineEdit* patternEdit() const { return pattern_; }
  QTreeView* hitList() const { return hits_; }
  NameSearchModel* hitModel() const { return model_; }
  QString countText() const;

 signals:
  void searchEnded();

 private:
  NameSearchRequest request() const;
  void poll();
  void showHits();
  void hitActivated(const QModelIndex& index);

  MainWindow& window_;
  FileDisplay& display_;
  QLineEdit* pattern_;
  QCheckBox* typeBox_;
  QCheckBox* dateBox_;
  QCheckBox* sizeBox_;
  std::vector<QRadioButton*> deleted_;
  QComboBox* dateKind_;
  std::vector<QComboBox*> dates_;  // from DD MM YYYY, to DD MM YYYY
  QLineEdit* sizeFrom_;
  QLineEdit* sizeTo_;
  QComboBox* unit_;
  QPushButton* start_;
  QLabel* count_;
  QTreeView* hits_;
  NameSearchModel* model_;
  std::unique_ptr<WorkerJob> job_;
  std::vector<NameSearchMatch> found_;  // written by the worker, handed to the model when it ends
  QTimer timer_;
};

}  // namespace dravolin::ui
