#pragma once
// Step 4, the result browser: the folder tree and the list of the folder
// chosen in it, check boxes, sorting, renaming, preview of one file, the
// summary line, and the commands that save, search and go back.
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

#include "app/search_controller.h"
#include "common/worker_job.h"
#include "results/result_tree.h"
#include "results/saving.h"
#include "ui/wizard_window.h"

class QLabel;
class QProgressBar;
class QTableView;
class QTreeView;

namespace dravolin::ui {

class FolderListModel;
class FolderTreeModel;

class FileDisplay : public WizardPage {
  Q_OBJECT
 public:
  FileDisplay(MainWindow& window, WorkerKind searchKind);
  ~FileDisplay() override;
  void entered() override;
  void updateMenu(WizardMenu& menu) override;
  void exhaustiveRecovery() override;
  void recoverSelected() override;
  void searchFiles() override;
  void renameEntry() override;
  // Save Log: asks for a path ("*.St4"), then saveLogTo.
  void saveLog() override;
  // Writes the results to the log at path (upper-cased, ".ST4" added); a
  // failure is shown with its message, success shows nothing.
  void saveLogTo(const QString& path);

  bool filled() const { return tree_ && fillEnded_; }
  ResultTree* resultTree() const { return tree_.get(); }
  QTreeView* treeView() const { return treeView_; }
  QTableView* listView() const { return listView_; }
  FolderTreeModel* treeModel() const { return treeModel_; }
  FolderListModel* listModel() const { return listModel_; }
  QString summaryText() const;
  QString statusText() const;

  // Lists a folder and selects its node in the tree.
  void showFolder(std::size_t item);
  void up();
  void back();
  // Check marks with their rules: a folder marks its subtree and unchecking
  // walks up; a file marks itself. Checking also ticks the folders above, so
  // that the saving of checked items reaches what was checked.
  void setFolderChecked(std::size_t item, bool checked);
  void setFileChecked(std::size_t fileIndex, bool checked);
  // Writes one file into a private temporary folder and opens it with the
  // default application.
  void preview(std::size_t fileIndex);
  // The same copy, offered to the Open With dialog (a double-click on a file).
  void openWith(std::size_t fileIndex);
  // A folder's marks are being set on a worker.
  bool marking() const;

 signals:
  void treeFilled();
  void previewOpened(const QString& path);
  void openWithShown(const QString& path);
  void checksApplied();

 private:
  void pollFill();
  void attachModels();
  void refreshChecks();
  void rowActivated(const QModelIndex& index);
  void pollPreview();
  void pollMark();

  WorkerKind searchKind_;
  std::unique_ptr<ResultTree> tree_;
  std::unique_ptr<WorkerJob> fillJob_;
  bool fillEnded_ = false;
  QTimer fillTimer_;
  FolderTreeModel* treeModel_ = nullptr;
  FolderListModel* listModel_ = nullptr;
  QTreeView* treeView_;
  QTableView* listView_;
  QLabel* summary_;
  QLabel* status_;
  QProgressBar* progress_;
  std::unique_ptr<QTemporaryDir> previewFolder_;
  std::unique_ptr<Saver> previewSaver_;
  std::unique_ptr<WorkerJob> previewJob_;
  std::optional<std::filesystem::path> previewWritten_;
  bool previewWithChoice_ = false;
  QTimer previewTimer_;
  std::unique_ptr<WorkerJob> markJob_;
  QTimer markTimer_;
};

}  // namespace dravolin::ui
