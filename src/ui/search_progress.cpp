#include "ui/search_progress.h"

#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/search_operation.h"
#include "app/wizard_messages.h"
#include "ui/exhaustive_partition_info.h"
#include "ui/file_display.h"

namespace dravolin::ui {

SearchProgress::SearchProgress(MainWindow& window, StepThreeJob job)
    : WizardPage(window, 4),
      job_(std::move(job)),
      controller_(std::make_unique<SearchController>(window.session(), window.prompter(), ticks_)) {
  setObjectName(QStringLiteral("SearchProgress"));
  Session& session = window_.session();
  const MessageCatalog& texts = session.messages();
  const SearchLabels labels = searchLabels(session.state, controller_->kind());
  fromLoadedLog_ = session.state.LoadFromLog;

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("<b>Step 3 : Searching</b>"), this));
  auto* row = new QHBoxLayout;
  auto* picture = new QLabel(this);
  // The first pass of a search for lost partitions leads to Step 2 (c), not Step 4.
  const bool lostPass = session.state.LostPartitionSearch && session.state.LostSearchPass == 0;
  picture->setPixmap(
      QIcon(dataFile(session, lostPass ? QStringLiteral("step2b.svg") : QStringLiteral("step3.svg"))).pixmap(96, 96));
  picture->setAlignment(Qt::AlignTop);
  row->addWidget(picture);
  auto* right = new QVBoxLayout;
  auto* wait = new QLabel(QStringLiteral("Please wait while Dravolin recovers your partition"), this);
  right->addWidget(wait);
  description_ = new QLabel(QString::fromStdString(labels.description), this);
  description_->setObjectName(QStringLiteral("description"));
  description_->setWordWrap(true);
  right->addWidget(description_);
  auto* hint = new QLabel(
      QStringLiteral("Selecting \"Hide Progress Details\" will improve performance. You may return to view partition "
                     "recovery progress details at any time by selecting \"Show Progress Details\""),
      this);
  hint->setWordWrap(true);
  right->addWidget(hint);

  auto* grid = new QGridLayout;
  auto addRow = [&](int at, const QString& label, const char* name) {
    auto* caption = new QLabel(label, this);
    auto* value = new QLabel(this);
    value->setObjectName(QString::fromUtf8(name));
    caption->setObjectName(QString::fromUtf8(name) + QStringLiteral("Label"));
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(caption, at, 0);
    grid->addWidget(value, at, 1);
    detailWidgets_.push_back(caption);
    detailWidgets_.push_back(value);
    return std::make_pair(caption, value);
  };
  clock_ = addRow(0, QString::fromStdString(texts.text(67, "Time Elapsed          :-")), "clock").second;
  // The worker's own labels win over the language file's: a job that shows
  // the current sector must not be labelled "Total Size", nor the raw
  // search's bytes "Directories Found".
  const WorkerKind kind = controller_->kind();
  const std::string valueText = kind == WorkerKind::NtfsChosenTree
                                    ? session.messages().fromLanguageFile(68).value_or(labels.value)
                                    : labels.value;
  const std::string countText = kind == WorkerKind::RawCarving
                                    ? labels.count
                                    : session.messages().fromLanguageFile(69).value_or(labels.count);
  auto valueRow = addRow(1, QString::fromStdString(valueText), "value");
  valueLabel_ = valueRow.first;
  value_ = valueRow.second;
  auto dirRow = addRow(2, QString::fromStdString(countText), "directories");
  directories_ = dirRow.second;
  auto fileRow = addRow(3, QStringLiteral("Files Found              :-"), "files");
  files_ = fileRow.second;
  lastName_ = addRow(4, QString::fromStdString(texts.text(71, "Last Name               :-")), "lastName").second;
  QFont nameFont = lastName_->font();
  nameFont.setPointSize(12);
  lastName_->setFont(nameFont);
  grid->setColumnStretch(1, 1);
  right->addLayout(grid);
  if (!labels.showCounts)
    for (QWidget* w : {dirRow.first, dirRow.second, fileRow.first, fileRow.second}) w->hide();
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status"));
  status_->setVisible(labels.showStatus);
  right->addWidget(status_);
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setRange(0, 100);
  right->addWidget(progress_);
  right->addStretch(1);
  row->addLayout(right, 1);
  layout->addLayout(row, 1);

  auto* buttons = new QHBoxLayout;
  details_ = new QPushButton(QString::fromStdString(texts.text(72, "Hide Progress Details")), this);
  details_->setObjectName(QStringLiteral("details"));
  pause_ = new QPushButton(QIcon(dataFile(session, QStringLiteral("pause.svg"))), QStringLiteral("&Pause"), this);
  pause_->setObjectName(QStringLiteral("pause"));
  stop_ = new QPushButton(QIcon(dataFile(session, QStringLiteral("stop.svg"))), QStringLiteral("S&top"), this);
  stop_->setObjectName(QStringLiteral("stop"));
  back_ = new QPushButton(QString::fromStdString(texts.text(1, "< &Back")), this);
  back_->setObjectName(QStringLiteral("back"));
  buttons->addWidget(details_);
  buttons->addStretch(1);
  buttons->addWidget(pause_);
  buttons->addWidget(stop_);
  buttons->addWidget(back_);
  layout->addLayout(buttons);
  connect(details_, &QPushButton::clicked, this, &SearchProgress::toggleDetails);
  connect(pause_, &QPushButton::clicked, this, &SearchProgress::togglePause);
  connect(stop_, &QPushButton::clicked, this, &SearchProgress::stop);
  connect(back_, &QPushButton::clicked, this, &SearchProgress::back);

  pollTimer_.setInterval(50);
  clockTimer_.setInterval(1000);
  pulseTimer_.setInterval(2000);
  connect(&pollTimer_, &QTimer::timeout, this, &SearchProgress::poll);
  connect(&clockTimer_, &QTimer::timeout, this, [this] {
    controller_->tick();
    clock_->setText(clockText());
  });
  connect(&pulseTimer_, &QTimer::timeout, this, [this] { progress_->setValue(pulse_.advance()); });
}

SearchProgress::~SearchProgress() {
  // Leaving the wizard during a search: the worker unwinds before the page goes.
  if (controller_ && started_ && !finished_) {
    controller_->cancel();
    controller_->wait();
  }
}

void SearchProgress::entered() {
  WizardPage::entered();
  if (!started_) QTimer::singleShot(0, this, &SearchProgress::start);
}

void SearchProgress::updateMenu(WizardMenu& menu) {
  WizardPage::updateMenu(menu);
  for (QAction* a : {menu.activityReport, menu.recoveryHistory, menu.clearActivityReport, menu.activityReportPath,
                     menu.recoveryHistoryPath, menu.savingUsingFilter, menu.largeIcons, menu.details, menu.smallIcons})
    a->setEnabled(false);
}

void SearchProgress::start() {
  if (started_) return;
  started_ = true;
  Session& session = window_.session();
  auto worker = job_.worker ? job_.worker(*controller_)
                            : makeSearchWorker(session, *controller_, window_.options().codePage);
  if (!worker) {
    // Nothing runs: the page shows its labels and waits for Back.
    finished_ = true;
    pause_->setEnabled(false);
    stop_->setEnabled(false);
    status_->setVisible(true);
    status_->setText(QString::fromStdString(worker.error().message));
    emit notAvailable(QString::fromStdString(worker.error().message));
    window_.prompter().inform(worker.error().message);
    return;
  }
  controller_->start(std::move(*worker));
  pulsing_ = controller_->kind() == WorkerKind::FatDirectoryTree && !session.state.ExhaustiveSearch;
  if (pulsing_) pulseTimer_.start();
  clockTimer_.start();
  pollTimer_.start();
  clock_->setText(clockText());
}

QString SearchProgress::clockText() const { return QString::fromStdString(controller_->clockText()); }
QString SearchProgress::statusText() const { return status_->text(); }
int SearchProgress::progressValue() const { return progress_->value(); }

void SearchProgress::poll() {
  if (!controller_ || finished_) return;
  if (!pulsing_ || window_.session().state.ExhaustiveSearch) {
    // A directory tree search that switched to the exhaustive search reports percentages.
    if (pulsing_) {
      pulsing_ = false;
      pulseTimer_.stop();
    }
    progress_->setValue(controller_->percent());
  }
  const auto texts = controller_->statisticsTexts();
  if (!detailsHidden_) {
    value_->setText(QString::fromStdString(texts.value));
    directories_->setText(job_.countText ? job_.countText() : QString::fromStdString(texts.directories));
    files_->setText(QString::fromStdString(texts.files));
    lastName_->setText(QString::fromStdString(texts.lastName));
  }
  status_->setText(QString::fromStdString(controller_->status()));
  if (controller_->workerEnded() && !controller_->paused()) finish();
}

void SearchProgress::finish() {
  if (finished_) return;
  finished_ = true;
  pollTimer_.stop();
  clockTimer_.stop();
  pulseTimer_.stop();
  Session& session = window_.session();
  const SearchOutcome outcome = controller_->finish([&session] { return foundTotals(session); });
  clock_->setText(clockText());
  switch (outcome) {
    case SearchOutcome::ShowResults:
      progress_->setValue(100);
      window_.replaceTop(new FileDisplay(window_, controller_->kind()));
      return;
    case SearchOutcome::Failed:
      pause_->setEnabled(false);
      stop_->setEnabled(false);
      window_.prompter().inform(controller_->error().empty() ? "The search ended without a result."
                                                             : "The search failed: " + controller_->error());
      return;
    case SearchOutcome::LostPassList:
      // The file systems found (or a loaded ".ST2C" log's list): Step 2 (c).
      progress_->setValue(100);
      window_.replaceTop(new ExhaustivePartitionInfo(window_, fromLoadedLog_));
      return;
    case SearchOutcome::Close:
      progress_->setValue(controller_->percent());
      if (!detailsHidden_ && job_.countText) directories_->setText(job_.countText());
      if (job_.finished) job_.finished();
      window_.pop();
      return;
    default:
      window_.pop();
      return;
  }
}

void SearchProgress::togglePause() {
  if (!running()) return;
  if (controller_->paused()) {
    controller_->resume();
    pause_->setText(QStringLiteral("&Pause"));
    pause_->setIcon(QIcon(dataFile(window_.session(), QStringLiteral("pause.svg"))));
    if (pulsing_) pulseTimer_.start();
    clockTimer_.start();
  } else {
    controller_->pause();
    pause_->setText(QStringLiteral("&Resume"));
    pause_->setIcon(QIcon(dataFile(window_.session(), QStringLiteral("resume.svg"))));
    pulseTimer_.stop();
    clockTimer_.stop();
  }
}

void SearchProgress::stop() {
  if (!running()) return;
  const bool wasPaused = controller_->paused();
  controller_->pause();
  pulseTimer_.stop();
  if (window_.prompter().askYesNo(msg::kStopQuestion)) {
    // The worker sees StopRequested and finishes as its rules say; the poll
    // timer then moves on to Step 4 with what was found.
    pause_->setText(QStringLiteral("&Pause"));
    controller_->stop();
    return;
  }
  if (!wasPaused) {
    controller_->resume();
    if (pulsing_) pulseTimer_.start();
  }
}

void SearchProgress::back() {
  if (leaving_) return;
  if (!running()) {
    // Nothing runs (a search that could not start, or one that ended
    // without a result): Back still ends the exhaustive mode, so that the
    // next search from Step 2 is a normal one.
    controller_->back({});
    window_.pop();
    return;
  }
  const bool wasPaused = controller_->paused();
  controller_->pause();
  pulseTimer_.stop();
  if (!window_.prompter().askYesNo(msg::kBackToStep2Question)) {
    if (!wasPaused) {
      controller_->resume();
      if (pulsing_) pulseTimer_.start();
    }
    return;
  }
  pollTimer_.stop();
  clockTimer_.stop();
  leaveWhenEnded([this] {
    Session& session = window_.session();
    controller_->back([&session] { session.entries.clear(); });
    window_.pop();
  });
}

void SearchProgress::leaveWhenEnded(std::function<void()> then) {
  // The worker unwinds at its next checkpoint. The page waits for it from a
  // timer, so that a question the worker asks meanwhile can still be answered.
  leaving_ = true;
  finished_ = true;
  controller_->cancel();
  auto* waiter = new QTimer(this);
  connect(waiter, &QTimer::timeout, this, [this, waiter, then = std::move(then)] {
    if (!controller_->workerEnded()) return;
    waiter->stop();
    then();
  });
  waiter->start(5);
}

void SearchProgress::toggleDetails() {
  detailsHidden_ = !detailsHidden_;
  for (QWidget* w : detailWidgets_) w->setVisible(!detailsHidden_);
  if (detailsHidden_) {
    controller_->hideDetails();
    clockTimer_.stop();
    details_->setText(QStringLiteral("&Show Progress Details"));
  } else {
    controller_->showDetails();
    if (running() && !controller_->paused()) clockTimer_.start();
    details_->setText(QStringLiteral("&Hide Progress Details"));
  }
}

bool SearchProgress::confirmExit() {
  if (leaving_) return controller_->workerEnded();
  if (!running()) return window_.prompter().askYesNo(msg::kExitDravolinQuestion);
  const bool wasPaused = controller_->paused();
  controller_->pause();
  if (window_.prompter().askYesNo(msg::kExitDravolinQuestion)) {
    pollTimer_.stop();
    clockTimer_.stop();
    leaveWhenEnded([this] { window_.close(); });
    return false;
  }
  if (!wasPaused) controller_->resume();
  return false;
}

}  // namespace dravolin::ui
