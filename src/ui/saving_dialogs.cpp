#include "ui/saving_dialogs.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <ctime>

#include "app/wizard_messages.h"
#include "common/format.h"
#include "common/worker_job.h"
#include "app/source_resolver.h"
#include "results/destination.h"
#include "ui/message_dialogs.h"
#include "ui/wizard_window.h"

namespace dravolin::ui {

bool confirmDestinationOffSource(MainWindow& window, const std::filesystem::path& destination) {
  const auto onSource = destinationOnSourceDisk(window.session().device(), destination);
  if (!onSource) return true;
  return window.prompter().askYesNo(destination.string() + " lies on the disk being recovered (" + *onSource +
                                    "): writing there may overwrite what is still to be recovered.\r\n"
                                    "Are you sure you want to continue ?");
}

// ---- SavingPath

SavingPath::SavingPath(MainWindow& window, ResultTree* tree)
    : QDialog(&window), window_(window), tree_(tree), destination_(new QLineEdit(this)) {
  setObjectName(QStringLiteral("SavingPath"));
  setWindowTitle(window_.caption());
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(QStringLiteral("&Destination folder :"), this);
  label->setBuddy(destination_);
  layout->addWidget(label);
  auto* row = new QHBoxLayout;
  destination_->setObjectName(QStringLiteral("destination"));
  destination_->setMinimumWidth(360);
  row->addWidget(destination_, 1);
  auto* browse = new QPushButton(QStringLiteral("B&rowse..."), this);
  browse->setObjectName(QStringLiteral("browse"));
  row->addWidget(browse);
  layout->addLayout(row);
  auto* note = new QLabel(QString::fromUtf8(msg::kSavingNote), this);
  note->setWordWrap(true);
  layout->addWidget(note);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* settings = buttons->addButton(QStringLiteral("Se&ttings"), QDialogButtonBox::ActionRole);
  settings->setObjectName(QStringLiteral("settings"));
  settings->setEnabled(tree_ != nullptr);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &SavingPath::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(settings, &QPushButton::clicked, &window_, &MainWindow::openSettings);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString folder = QFileDialog::getExistingDirectory(this, windowTitle(), destination_->text());
    if (!folder.isEmpty()) destination_->setText(folder);
  });
}

void SavingPath::accept() {
  Session& session = window_.session();
  GuiPrompter& prompter = window_.prompter();
  auto destination = checkDestination(destination_->text().toStdString());
  if (!destination) {
    prompter.inform(destination.error().message);
    return;
  }
  if (!confirmDestinationOffSource(window_, *destination)) return;
  if (!tree_) {
    chosen_ = destination->string();
    QDialog::accept();
    return;
  }
  Saver saver(*tree_, session.savingSettings,
              SavingSource{*session.reader(), session.state.volumeParameters, session.state.FileSystemType,
                           static_cast<std::uint64_t>(session.state.PartitionEnd), &session.mftRunList});
  FileSize size(window_, saver);
  size.exec();
  const auto count = size.count();
  if (!count) return;
  if (count->SelectedFileCount < 1) {
    prompter.inform(kNothingSelectedMessage);
    return;
  }
  const auto freeSpace = freeSpaceOf(*destination);
  if (freeSpace && needsFreeSpaceQuestion(count->SelectedSize, *freeSpace)) {
    // Holes take no space: the bytes to be allocated decide.
    std::uint64_t required = count->SelectedSize;
    WorkerJob job(prompter);
    job.runHere([&](Job& j) { required = saver.allocatedSize(j, *count); });
    if (needsFreeSpaceQuestion(required, *freeSpace) && !prompter.askYesNo(insufficientSpaceQuestion(required)))
      return;
  }
  hide();
  SavingDlg saving(window_, saver, *destination, *count);
  saving.exec();
  QDialog::accept();
}

// ---- FileSize

FileSize::FileSize(MainWindow& window, Saver& saver)
    : QDialog(&window), window_(window), job_(window.prompter()), files_(new QLabel(this)), size_(new QLabel(this)) {
  setObjectName(QStringLiteral("FileSize"));
  setWindowTitle(window_.caption());
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QString::fromUtf8(msg::kCalculatingSize), this));
  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("Total Files :"), this), 0, 0);
  grid->addWidget(files_, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("Total Size :"), this), 1, 0);
  grid->addWidget(size_, 1, 1);
  grid->setColumnStretch(1, 1);
  layout->addLayout(grid);
  auto* stopButton = new QPushButton(QStringLiteral("S&top"), this);
  stopButton->setObjectName(QStringLiteral("stop"));
  layout->addWidget(stopButton, 0, Qt::AlignRight);
  connect(stopButton, &QPushButton::clicked, this, &FileSize::stop);
  connect(&timer_, &QTimer::timeout, this, &FileSize::poll);
  job_.start([this, &saver](Job& job) { count_ = saver.countSelection(job); });
  timer_.start(20);
  setMinimumWidth(340);
}

void FileSize::poll() {
  const std::string running = job_.lastName();
  if (const auto slash = running.find(" / "); slash != std::string::npos) {
    files_->setText(QString::fromStdString(running.substr(0, slash)));
    size_->setText(QString::fromStdString(running.substr(slash + 3)));
  }
  if (!job_.ended() || job_.paused()) return;
  timer_.stop();
  job_.wait();
  if (job_.stopRequested()) stopped_ = true;
  QDialog::accept();
}

void FileSize::stop() {
  job_.pause();
  if (window_.prompter().askYesNo(msg::kTerminateQuestion)) {
    stopped_ = true;
    job_.stop();
    return;
  }
  job_.resume();
}

// ---- SavingDlg

SavingDlg::SavingDlg(MainWindow& window, Saver& saver, std::filesystem::path destination, SelectionCount count)
    : QDialog(&window), window_(window), saver_(saver), job_(window.prompter()) {
  setObjectName(QStringLiteral("SavingDlg"));
  setWindowTitle(window_.caption());
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  auto addField = [&](int at, const char* label, const char* name) {
    auto* caption = new QLabel(QString::fromUtf8(label), this);
    auto* value = new QLabel(this);
    value->setObjectName(QString::fromUtf8(name));
    value->setMinimumWidth(260);
    grid->addWidget(caption, at, 0);
    grid->addWidget(value, at, 1);
    detailWidgets_.push_back(caption);
    detailWidgets_.push_back(value);
    return value;
  };
  elapsed_ = addField(0, "Time Elapsed :", "timeElapsed");
  remaining_ = addField(1, "Time Remaining :", "timeRemaining");
  required_ = addField(2, "Size Required :", "sizeRequired");
  copied_ = addField(3, "Size Copied :", "sizeCopied");
  lastName_ = addField(4, "Last Name :", "lastName");
  directory_ = addField(5, "Directory Name :", "directoryName");
  grid->setColumnStretch(1, 1);
  layout->addLayout(grid);
  layout->addWidget(new QLabel(QStringLiteral("Current Progress"), this));
  current_ = new QProgressBar(this);
  current_->setObjectName(QStringLiteral("currentProgress"));
  layout->addWidget(current_);
  layout->addWidget(new QLabel(QStringLiteral("Overall Progress"), this));
  overall_ = new QProgressBar(this);
  overall_->setObjectName(QStringLiteral("overallProgress"));
  layout->addWidget(overall_);
  auto* buttons = new QHBoxLayout;
  details_ = new QPushButton(QStringLiteral("&Hide Progress Details"), this);
  pause_ = new QPushButton(QStringLiteral("&Pause"), this);
  pause_->setObjectName(QStringLiteral("pause"));
  auto* stopButton = new QPushButton(QStringLiteral("S&top"), this);
  stopButton->setObjectName(QStringLiteral("stop"));
  auto* skipButton = new QPushButton(QStringLiteral("S&kip"), this);
  skipButton->setObjectName(QStringLiteral("skip"));
  auto* settingsButton = new QPushButton(QStringLiteral("Se&ttings"), this);
  for (QPushButton* b : {details_, pause_, stopButton, skipButton, settingsButton}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  layout->addLayout(buttons);
  connect(details_, &QPushButton::clicked, this, &SavingDlg::toggleDetails);
  connect(pause_, &QPushButton::clicked, this, &SavingDlg::togglePause);
  connect(stopButton, &QPushButton::clicked, this, &SavingDlg::stop);
  connect(skipButton, &QPushButton::clicked, this, &SavingDlg::skip);
  connect(settingsButton, &QPushButton::clicked, this, &SavingDlg::settings);
  connect(&timer_, &QTimer::timeout, this, &SavingDlg::poll);

  Session& session = window_.session();
  saver_.setElapsedClock([this] { return job_.activeMilliseconds() / 1000; });
  const std::vector<std::string> header{session.state.caption, localDateLine()};
  job_.start([this, &session, destination = std::move(destination), count, header](Job& job) {
    result_ = saver_.save(job, destination, count, session.recoveryLog(), header);
  });
  timer_.start(50);
}

SavingDlg::~SavingDlg() {
  job_.cancel();
  job_.wait();
}

void SavingDlg::poll() {
  const SavingProgress p = saver_.progress();
  current_->setValue(p.currentPercent);
  overall_->setValue(p.overallPercent);
  if (!detailsHidden_) {
    const SavingFields f = saver_.fields();
    elapsed_->setText(QString::fromStdString(f.timeElapsed));
    remaining_->setText(QString::fromStdString(f.timeRemaining));
    required_->setText(QString::fromStdString(f.sizeRequired));
    copied_->setText(QString::fromStdString(f.sizeCopied));
    lastName_->setText(QString::fromStdString(f.lastName));
    directory_->setText(QString::fromStdString(f.directoryName));
  }
  if (job_.ended() && !job_.paused()) finished();
}

void SavingDlg::finished() {
  if (done_) return;
  done_ = true;
  timer_.stop();
  job_.wait();
  if (!job_.error().empty()) result_.message = "Saving not completed successfully. " + job_.error();
  if (window_.prompter().informWithReport(result_.message)) window_.viewReport(LogKind::Recovery);
  QDialog::accept();
}

void SavingDlg::togglePause() {
  if (job_.ended()) return;
  if (job_.paused()) {
    job_.resume();
    pause_->setText(QStringLiteral("&Pause"));
  } else {
    job_.pause();
    pause_->setText(QStringLiteral("&Resume"));
  }
}

void SavingDlg::stop() {
  if (job_.ended()) return;
  const bool wasPaused = job_.paused();
  job_.pause();
  if (window_.prompter().askYesNo(msg::kStopQuestion)) {
    pause_->setText(QStringLiteral("&Pause"));
    job_.stop();  // the worker writes the report and ends with "Saving aborted."
    return;
  }
  if (!wasPaused) job_.resume();
}

void SavingDlg::reject() { stop(); }

void SavingDlg::skip() { saver_.skipCurrentFile(); }

void SavingDlg::settings() {
  const bool wasPaused = job_.paused();
  job_.pause();
  window_.openSettings();
  if (!wasPaused) job_.resume();
}

void SavingDlg::toggleDetails() {
  detailsHidden_ = !detailsHidden_;
  for (QWidget* w : detailWidgets_) w->setVisible(!detailsHidden_);
  details_->setText(detailsHidden_ ? QStringLiteral("&Show Progress Details") : QStringLiteral("&Hide Progress Details"));
}

}  // namespace dravolin::ui
