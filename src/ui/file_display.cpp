#include "ui/file_display.h"

#include <QAction>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <utility>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/wizard_messages.h"
#include "results/browser_texts.h"
#include "results/saving.h"
#include "ui/name_search_dialog.h"
#include "ui/open_with_dialog.h"
#include "ui/result_models.h"
#include "ui/saving_dialogs.h"
#include "ui/search_progress.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace dravolin::ui {

namespace {

// Hands the free pages of every malloc arena back to the system (glibc keeps
// them otherwise, so a closed window's memory would stay with the process).
void releaseFreeMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

}  // namespace

FileDisplay::FileDisplay(MainWindow& window, WorkerKind searchKind)
    : WizardPage(window, 3),
      searchKind_(searchKind),
      treeView_(new QTreeView(this)),
      listView_(new QTableView(this)),
      summary_(new QLabel(this)),
      status_(new QLabel(this)),
      progress_(new QProgressBar(this)) {
  setObjectName(QStringLiteral("FileDisplay"));
  Session& session = window_.session();
  auto* layout = new QVBoxLayout(this);

  auto* toolbar = new QHBoxLayout;
  auto tool = [&](const char* text, const char* icon, const char* name, auto slot) {
    auto* b = new QToolButton(this);
    b->setText(QString::fromUtf8(text));
    b->setObjectName(QString::fromUtf8(name));
    b->setToolTip(QString::fromUtf8(text).remove(QLatin1Char('&')));
    b->setIcon(QIcon(dataFile(session, QString::fromUtf8(icon))));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setIconSize(QSize(24, 24));
    connect(b, &QToolButton::clicked, this, slot);
    toolbar->addWidget(b);
    return b;
  };
  tool("&Up", "up.svg", "up", [this] { up(); });
  tool("Sa&ve", "save.svg", "save", [this] { recoverSelected(); });
  tool("Save &File / Folder", "save.svg", "saveFileFolder", [this] { recoverSelected(); });
  tool("Search File/Fol&der", "search.svg", "searchFiles", [this] { searchFiles(); });
  tool("Save Lo&g", "savelog.svg", "saveLog", [this] { saveLog(); });
  tool("Load Lo&g", "loadlog.svg", "loadLog", [] {})->setEnabled(false);
  toolbar->addStretch(1);
  tool("< &Back", "back.svg", "back", [this] { back(); });
  tool("E&xit", "exit.svg", "exit", [this] { window_.close(); });
  tool("&Help", "help.svg", "help", [this] { window_.openHelp(); });
  tool("Su&pport", "support.svg", "support", [this] { window_.openSupport(QStringLiteral("support")); });
  layout->addLayout(toolbar);

  auto* splitter = new QSplitter(this);
  treeView_->setObjectName(QStringLiteral("folderTree"));
  treeView_->setHeaderHidden(true);
  treeView_->setEditTriggers(QAbstractItemView::EditKeyPressed);
  listView_->setObjectName(QStringLiteral("folderList"));
  listView_->setSelectionBehavior(QAbstractItemView::SelectRows);
  listView_->setShowGrid(true);
  listView_->setEditTriggers(QAbstractItemView::EditKeyPressed);
  listView_->verticalHeader()->hide();
  listView_->verticalHeader()->setDefaultSectionSize(listView_->fontMetrics().height() + 6);
  listView_->horizontalHeader()->setSectionsClickable(true);
  listView_->setWordWrap(false);
  splitter->addWidget(treeView_);
  splitter->addWidget(listView_);
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 3);
  layout->addWidget(splitter, 1);

  summary_->setObjectName(QStringLiteral("summary"));
  summary_->setTextFormat(Qt::RichText);
  layout->addWidget(summary_);
  auto* rule = new QFrame(this);  // the red rule under the summary
  rule->setFrameShape(QFrame::HLine);
  rule->setStyleSheet(QStringLiteral("color: #c0392b;"));
  layout->addWidget(rule);
  auto* statusRow = new QHBoxLayout;
  status_->setObjectName(QStringLiteral("status"));
  statusRow->addWidget(status_, 1);
  progress_->setRange(0, 100);
  progress_->setMaximumWidth(200);
  statusRow->addWidget(progress_);
  layout->addLayout(statusRow);
  setTabOrder(treeView_, listView_);

  // F2 in the page: rename in the list or the tree.
  status_->setText(QString::fromUtf8(msg::kFillingTree));
  // After a search for lost partitions the tree shows the chosen file system only.
  const auto partition = static_cast<std::uint16_t>(
      session.state.LostPartitionSearch ? session.state.SelectedFoundFileSystem : 0);
  tree_ = std::make_unique<ResultTree>(session.entries, session.state.FileSystemType, window_.options().codePage,
                                       partition);
  fillJob_ = std::make_unique<WorkerJob>(window_.prompter());
  fillJob_->start([tree = tree_.get()](Job& job) { tree->build(&job); });
  fillTimer_.setInterval(30);
  connect(&fillTimer_, &QTimer::timeout, this, &FileDisplay::pollFill);
  fillTimer_.start();
  connect(&previewTimer_, &QTimer::timeout, this, &FileDisplay::pollPreview);
  connect(&markTimer_, &QTimer::timeout, this, &FileDisplay::pollMark);
}

FileDisplay::~FileDisplay() {
  if (markJob_) markJob_->wait();
  // The views and models go before the result tree they read.
  treeView_->setModel(nullptr);
  listView_->setModel(nullptr);
  delete treeModel_;
  delete listModel_;
  if (previewJob_) {
    previewJob_->cancel();
    previewJob_->wait();
  }
  if (fillJob_) {
    fillJob_->cancel();
    fillJob_->wait();
  }
}

void FileDisplay::entered() { WizardPage::entered(); }

void FileDisplay::updateMenu(WizardMenu& menu) {
  WizardPage::updateMenu(menu);
  menu.recoverSelected->setEnabled(true);
  menu.searchFiles->setEnabled(true);
  menu.rename->setEnabled(true);
  menu.saveLog->setEnabled(true);
  const bool exhaustiveOrLost = searchKind_ == WorkerKind::FatExhaustive || searchKind_ == WorkerKind::NtfsExhaustive ||
                                window_.session().state.LostPartitionSearch;
  menu.exhaustiveRecovery->setEnabled(!exhaustiveOrLost);
}

void FileDisplay::saveLog() { saveSearchLogAs(SearchLogKind::Results); }

void FileDisplay::saveLogTo(const QString& path) { writeSearchLog(path, SearchLogKind::Results); }

void FileDisplay::pollFill() {
  progress_->setValue(fillJob_->percent());
  if (!fillJob_->ended()) return;
  fillTimer_.stop();
  fillEnded_ = true;
  fillJob_->wait();
  attachModels();
  emit treeFilled();
  const bool exhaustiveOrLost = searchKind_ == WorkerKind::FatExhaustive || searchKind_ == WorkerKind::NtfsExhaustive ||
                                window_.session().state.LostPartitionSearch;
  if (!exhaustiveOrLost) QTimer::singleShot(0, this, [this] { window_.prompter().inform(msg::kExhaustiveHint); });
}

void FileDisplay::attachModels() {
  treeModel_ = new FolderTreeModel(*tree_, this);
  listModel_ = new FolderListModel(*tree_, this);
  QStringList headings;
  const char* defaults[] = {"Name", "Type", "Size", "Modified Date", "Created Date", "Accessed Date"};
  for (int i = 0; i < 6; ++i)
    headings << QString::fromStdString(window_.session().messages().fromLanguageFile(61 + i).value_or(defaults[i]));
  headings << QStringLiteral("ID");
  listModel_->setHeadings(headings);
  treeView_->setModel(treeModel_);
  listView_->setModel(listModel_);
  const int widths[] = {210, 100, 95, 160, 160, 160, 80};
  for (int i = 0; i < 7; ++i) listView_->setColumnWidth(i, widths[i]);
  summary_->setText(QStringLiteral("<span style=\"font-family: Arial, sans-serif; font-size: 11pt;\"><b>%1</b></span>")
                        .arg(QString::fromStdString(tree_->summary()).toHtmlEscaped()));

  connect(treeModel_, &FolderTreeModel::checkToggled, this, &FileDisplay::setFolderChecked);
  connect(treeModel_, &FolderTreeModel::folderRenamed, this, [this] { listModel_->refresh(); });
  connect(listModel_, &FolderListModel::folderCheckToggled, this, [this](std::size_t directory, bool checked) {
    if (auto item = tree_->itemOfDirectory(directory)) setFolderChecked(*item, checked);
  });
  connect(listModel_, &FolderListModel::fileCheckToggled, this, &FileDisplay::setFileChecked);
  connect(listModel_, &FolderListModel::renamed, this, [this] { treeModel_->refresh(); treeView_->viewport()->update(); });
  connect(treeView_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid() && treeModel_->itemOf(current) != listModel_->folder()) {
              listModel_->setFolder(treeModel_->itemOf(current));
              status_->setText(QString::fromUtf8(msg::kCurrentFolder) +
                               QString::fromStdString(tree_->pathText(listModel_->folder())));
            }
          });
  connect(listView_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
    listModel_->sortColumn(column);
    listView_->horizontalHeader()->setSortIndicatorShown(true);
    listView_->horizontalHeader()->setSortIndicator(column, listModel_->sortDirection() ? Qt::DescendingOrder
                                                                                        : Qt::AscendingOrder);
  });
  connect(listView_, &QTableView::doubleClicked, this, &FileDisplay::rowActivated);
  // The list's context menu: a file opened with the default application or
  // with a program chosen in Open With.
  listView_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(listView_, &QTableView::customContextMenuRequested, this, [this](const QPoint& at) {
    const QModelIndex index = listView_->indexAt(at);
    if (!index.isValid()) return;
    const ResultRow& row = listModel_->row(index.row());
    if (row.kind == RowKind::Folder) return;
    const std::size_t file = row.index;
    QMenu menu(this);
    menu.addAction(QStringLiteral("&Open"), this, [this, file] { preview(file); });
    menu.addAction(QStringLiteral("Open &With..."), this, [this, file] { openWith(file); });
    menu.exec(listView_->viewport()->mapToGlobal(at));
  });
  // The View menu: icon sizes of the list.
  auto iconSize = [this](int size) {
    listView_->setIconSize(QSize(size, size));
    listView_->verticalHeader()->setDefaultSectionSize(std::max(size, listView_->fontMetrics().height()) + 6);
  };
  WizardMenu& menu = window_.menu();
  connect(menu.largeIcons, &QAction::triggered, this, [iconSize] { iconSize(32); });
  connect(menu.smallIcons, &QAction::triggered, this, [iconSize] { iconSize(16); });
  connect(menu.details, &QAction::triggered, this, [iconSize] { iconSize(16); });
  treeView_->expand(treeModel_->indexOfItem(ResultTree::kTopItem));
  showFolder(ResultTree::kTopItem);
  treeView_->setFocus();
}

QString FileDisplay::summaryText() const { return QString::fromStdString(tree_ ? tree_->summary() : std::string()); }
QString FileDisplay::statusText() const { return status_->text(); }

void FileDisplay::showFolder(std::size_t item) {
  if (!filled()) return;
  const QModelIndex index = treeModel_->indexOfItem(item);
  if (!index.isValid()) return;
  treeView_->expand(index.parent());
  treeView_->expand(index);
  treeView_->setCurrentIndex(index);
  if (listModel_->folder() != item || listModel_->rowCount() == 0) listModel_->setFolder(item);
  status_->setText(QString::fromUtf8(msg::kCurrentFolder) + QString::fromStdString(tree_->pathText(item)));
}

void FileDisplay::up() {
  if (!filled() || listModel_->folder() == ResultTree::kTopItem) return;
  showFolder(tree_->item(listModel_->folder()).parent);
}

void FileDisplay::rowActivated(const QModelIndex& index) {
  if (!index.isValid()) return;
  const ResultRow& row = listModel_->row(index.row());
  if (row.kind == RowKind::Folder) {
    if (auto item = tree_->itemOfDirectory(row.index)) showFolder(*item);
  } else {
    openWith(row.index);
  }
}

void FileDisplay::refreshChecks() {
  treeModel_->refresh();
  listModel_->refresh();
  treeView_->viewport()->update();
  listView_->viewport()->update();
}

void FileDisplay::setFolderChecked(std::size_t item, bool checked) {
  if (!filled() || markJob_) return;
  if (checked && item == ResultTree::kTopItem) {
    // The top node marks every node at once.
    tree_->checkFolder(item);
    refreshChecks();
    return;
  }
  // A folder's subtree is marked on a worker; the views wait, greyed, and
  // the status line says what is going on.
  treeView_->setEnabled(false);
  listView_->setEnabled(false);
  status_->setText(QString::fromUtf8(checked ? msg::kSelectingFiles : msg::kUnselectingFiles));
  markJob_ = std::make_unique<WorkerJob>(window_.prompter());
  markJob_->start([tree = tree_.get(), item, checked](Job& job) {
    if (checked) {
      tree->checkFolder(item, &job);
      tree->checkPathTo(item);
    } else {
      tree->uncheckFolder(item, &job);
    }
  });
  markTimer_.start(10);
}

void FileDisplay::pollMark() {
  if (!markJob_) return;
  progress_->setValue(markJob_->percent());
  if (!markJob_->ended()) return;
  markTimer_.stop();
  markJob_->wait();
  markJob_.reset();
  treeView_->setEnabled(true);
  listView_->setEnabled(true);
  status_->setText(QString::fromUtf8(msg::kCurrentFolder) + QString::fromStdString(tree_->pathText(listModel_->folder())));
  refreshChecks();
  emit checksApplied();
}

bool FileDisplay::marking() const { return markJob_ != nullptr; }

void FileDisplay::setFileChecked(std::size_t fileIndex, bool checked) {
  if (!filled() || markJob_) return;
  tree_->setFileChecked(fileIndex, checked);
  if (checked) {
    const std::uint32_t parent = tree_->entries().FileList.at(fileIndex).parentId;
    if (auto item = tree_->itemOfId(parent)) tree_->checkPathTo(*item);
  }
  refreshChecks();
}

void FileDisplay::openWith(std::size_t fileIndex) {
  if (previewJob_) return;
  preview(fileIndex);
  previewWithChoice_ = previewJob_ != nullptr;
}

void FileDisplay::preview(std::size_t fileIndex) {
  Session& session = window_.session();
  if (!filled() || !session.reader() || previewJob_) return;
  previewWithChoice_ = false;
  if (!previewFolder_) previewFolder_ = std::make_unique<QTemporaryDir>();
  if (!previewFolder_->isValid()) return;
  previewSaver_ = std::make_unique<Saver>(
      *tree_, session.savingSettings,
      SavingSource{*session.reader(), session.state.volumeParameters, session.state.FileSystemType,
                   static_cast<std::uint64_t>(session.state.PartitionEnd), &session.mftRunList});
  previewJob_ = std::make_unique<WorkerJob>(window_.prompter());
  const std::filesystem::path folder = previewFolder_->path().toStdString();
  previewJob_->start([this, fileIndex, folder](Job& job) {
    previewWritten_ = previewSaver_->saveSingleFile(job, fileIndex, folder);
  });
  previewTimer_.start(10);
}

void FileDisplay::pollPreview() {
  if (!previewJob_ || !previewJob_->ended()) return;
  previewTimer_.stop();
  previewJob_->wait();
  previewJob_.reset();
  previewSaver_.reset();
  const bool withChoice = std::exchange(previewWithChoice_, false);
  if (previewWritten_) {
    const QString path = QString::fromStdString(previewWritten_->string());
    previewWritten_.reset();
    if (withChoice) {
      emit openWithShown(path);
      OpenWith dialog(window_, path);
      dialog.exec();
      return;
    }
    window_.options().openUrl(QUrl::fromLocalFile(path));
    emit previewOpened(path);
  }
  previewWritten_.reset();
}

void FileDisplay::back() {
  if (!window_.prompter().askYesNo(msg::kBackToStep2Question)) return;
  Session& session = window_.session();
  if (fillJob_) {
    fillJob_->cancel();
    fillJob_->wait();
  }
  listView_->setModel(nullptr);
  treeView_->setModel(nullptr);
  session.entries.clear();
  session.state.ExhaustiveSearch = false;
  // After a search for lost partitions the list of found file systems shows
  // again, to choose another one.
  window_.popTo(window_.hasPage(8) ? 8 : 2);
}

void FileDisplay::exhaustiveRecovery() {
  if (!window_.prompter().askYesNo(msg::kExhaustiveQuestion)) return;
  window_.session().state.ExhaustiveSearch = true;
  listView_->setModel(nullptr);
  treeView_->setModel(nullptr);
  window_.replaceTop(new SearchProgress(window_));
}

void FileDisplay::recoverSelected() {
  if (!filled()) return;
  SavingPath dialog(window_, tree_.get());
  dialog.exec();
  refreshChecks();
}

void FileDisplay::searchFiles() {
  if (!filled()) return;
  {
    FileSearchDialog dialog(window_, *this);
    dialog.exec();
  }
  // The hit list of a large search was freed with the window; the free
  // pages go back to the system now rather than staying with the process.
  releaseFreeMemory();
  refreshChecks();
}

void FileDisplay::renameEntry() {
  if (!filled()) return;
  const QModelIndexList rows = listView_->selectionModel()->selectedRows();
  if (rows.size() == 1) {
    listView_->edit(listModel_->index(rows.front().row(), 0));
    return;
  }
  const QModelIndex current = treeView_->currentIndex();
  if (current.isValid() && treeModel_->itemOf(current) != ResultTree::kTopItem) treeView_->edit(current);
}

}  // namespace dravolin::ui
