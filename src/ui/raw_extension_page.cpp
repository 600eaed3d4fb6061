#include "ui/raw_extension_page.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <memory>

#include "app/raw_recovery.h"
#include "common/format.h"
#include "ui/saving_dialogs.h"
#include "ui/search_progress.h"

namespace dravolin::ui {

namespace {

// The saving path of the raw search: chosen on the page, asked again from
// the worker when the target is full.
std::string askSavingPath(MainWindow& window) {
  SavingPath dialog(window, nullptr);
  dialog.exec();
  return dialog.chosenPath();
}

// What the raw search's worker and the page share while it runs.
struct RawSearch {
  RawPageChoice page;
  std::unique_ptr<RawRecoveryRun> run;
};

}  // namespace

RawDefaultExtension::RawDefaultExtension(MainWindow& window)
    : WizardPage(window, 10), list_(new QTableWidget(static_cast<int>(kExtensionCount), 1, this)) {
  setObjectName(QStringLiteral("RawDefaultExtension"));
  auto* layout = new QVBoxLayout(this);
  addPageHeading(layout, QStringLiteral("Step 2 (b) : Select Extensions"),
                 QStringLiteral("Tick the types of the files to look for, then click Next > and choose the folder "
                                "they are saved in (Step 3). Each type gets a folder of its own there."));
  auto* row = new QHBoxLayout;
  row->addWidget(pagePicture(QStringLiteral("step2b.svg")));
  list_->setObjectName(QStringLiteral("extensions"));
  list_->setHorizontalHeaderLabels({QStringLiteral("Select Extensions")});
  list_->horizontalHeader()->setStretchLastSection(true);
  list_->verticalHeader()->hide();
  list_->setShowGrid(true);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  for (std::size_t i = 0; i < kExtensionCount; ++i) {
    auto* item = new QTableWidgetItem(QString::fromLatin1(kExtensionNames[i].data(),
                                                          static_cast<int>(kExtensionNames[i].size())));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    list_->setItem(static_cast<int>(i), 0, item);
  }
  list_->resizeRowsToContents();
  row->addWidget(list_, 1);
  layout->addLayout(row, 1);

  const ButtonRow buttons = addButtonRow(layout);
  QPushButton* help = buttons.help;
  QPushButton* backButton = buttons.back;
  QPushButton* nextButton = buttons.next;
  connect(backButton, &QPushButton::clicked, this, &RawDefaultExtension::back);
  connect(nextButton, &QPushButton::clicked, this, &RawDefaultExtension::next);
  // Space or a click on the row ticks it.
  connect(list_, &QTableWidget::itemActivated, this, [](QTableWidgetItem* item) {
    item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
  });
  setTabOrder(list_, help);
  setTabOrder(help, backButton);
  setTabOrder(backButton, nextButton);
}

void RawDefaultExtension::entered() {
  WizardPage::entered();
  window_.session().state.RecoveryMode = kRawRecoverySearch;
  list_->setFocus();
}

void RawDefaultExtension::updateMenu(WizardMenu& menu) {
  WizardPage::updateMenu(menu);
  // Only the items of a result list are greyed here.
  menu.rename->setEnabled(true);
  for (QAction* a : {menu.savingUsingFilter, menu.largeIcons, menu.details, menu.smallIcons}) a->setEnabled(false);
}

void RawDefaultExtension::tick(const QStringList& names) {
  for (int i = 0; i < list_->rowCount(); ++i)
    if (names.contains(list_->item(i, 0)->text())) list_->item(i, 0)->setCheckState(Qt::Checked);
}

void RawDefaultExtension::back() {
  window_.session().state.RecoveryMode = kRawRecovery;
  window_.pop();
}

void RawDefaultExtension::next() {
  Session& session = window_.session();
  ExtensionTicks ticks{};
  for (int i = 0; i < list_->rowCount() && i < static_cast<int>(kExtensionCount); ++i)
    ticks[static_cast<std::size_t>(i)] = list_->item(i, 0)->checkState() == Qt::Checked;
  auto choice = commitRawExtensionPage(ticks, session.activityLog(), [this] { return askSavingPath(window_); });
  if (!choice) {
    window_.prompter().inform(choice.error().message);
    return;
  }
  auto search = std::make_shared<RawSearch>();
  search->page = std::move(*choice);
  MainWindow* window = &window_;
  StepThreeJob job;
  job.worker = [search, window](SearchController& controller) -> Result<SearchController::Worker> {
    Session& s = window->session();
    if (!s.reader()) return makeError(ErrorKind::InvalidArgument, "No disk is open.");
    // Asked on the worker when the target is full: the saving-path dialog on
    // the window's thread, the worker waiting for it.
    auto another = [window] {
      std::string path;
      QMetaObject::invokeMethod(window, [&] { path = askSavingPath(*window); }, Qt::BlockingQueuedConnection);
      return path;
    };
    search->run = std::make_unique<RawRecoveryRun>(s, controller, std::move(search->page), another,
                                                   window->options().freeSpace);
    return search->run->worker();
  };
  job.countText = [search] {
    return search->run ? QString::fromStdString(formatMegaGiga(search->run->bytesRecovered())) : QString();
  };
  job.finished = [search, window] {
    if (!search->run) return;
    if (window->prompter().informWithReport(search->run->result().message)) window->viewReport(LogKind::Recovery);
  };
  window_.push(new SearchProgress(window_, std::move(job)));
}

}  // namespace dravolin::ui
