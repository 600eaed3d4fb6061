#include "gui/wizard_harness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <sys/statvfs.h>

#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "ui/partition_pages.h"
#include "ui/file_display.h"
#include "ui/step1_page.h"

namespace dravolin::test {

DialogScript::DialogScript() {
  connect(&timer_, &QTimer::timeout, this, &DialogScript::poll);
  timer_.start(5);
}

void DialogScript::expect(const QString& dialog, std::function<void(QDialog*)> act) {
  steps_.push_back({dialog, std::move(act)});
}

void DialogScript::answer(const QString& dialog, bool yes) {
  expect(dialog, [yes](QDialog* d) {
    if (auto* button = d->findChild<QPushButton*>(yes ? QStringLiteral("yes") : QStringLiteral("no"))) button->click();
    else if (yes) d->accept();
    else d->reject();
  });
}

void DialogScript::clickButton(const QString& dialog, const QString& buttonText) {
  expect(dialog, [buttonText](QDialog* d) { clickDialogButton(d, buttonText); });
}

void clickDialogButton(QDialog* dialog, const QString& text) {
  for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>())
    if (b->text().remove(QLatin1Char('&')) == text) {
      b->click();
      return;
    }
  ADD_FAILURE() << "no button " << text.toStdString() << " in " << dialog->objectName().toStdString();
  dialog->done(QDialog::Rejected);
}

void DialogScript::poll() {
  auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
  if (!dialog || dialog->property("scripted").toBool()) return;
  dialog->setProperty("scripted", true);
  QString text;
  if (auto* label = dialog->findChild<QLabel*>(QStringLiteral("text"))) text = label->text();
  seen_.push_back({dialog->objectName(), text});
  // Dialogs that close by themselves are only recorded, unless a step waits for them.
  const bool passive = dialog->objectName() == QStringLiteral("FileSize") || dialog->objectName() == QStringLiteral("SavingDlg");
  if (passive && (steps_.empty() || steps_.front().dialog != dialog->objectName())) return;
  if (steps_.empty()) {
    unexpected.push_back(dialog->objectName() + QStringLiteral(": ") + text);
    QTimer::singleShot(0, dialog, [dialog] { dialog->done(QDialog::Rejected); });
    return;
  }
  Step step = std::move(steps_.front());
  steps_.pop_front();
  if (step.dialog != dialog->objectName())
    unexpected.push_back(QStringLiteral("expected ") + step.dialog + QStringLiteral(", got ") + dialog->objectName() +
                         QStringLiteral(": ") + text);
  // Act after this slot has returned: the action may open nested dialogs.
  QPointer<QDialog> guarded(dialog);
  QTimer::singleShot(0, this, [guarded, act = std::move(step.act)] {
    if (guarded) act(guarded);
  });
}

TransferStatus GatedSource::read(SectorNumber first, std::uint32_t count, std::span<std::byte> out) {
  {
    std::unique_lock lock(gate_->mutex);
    if (gate_->armed && !gate_->open && first >= gate_->gateSector) {
      ++gate_->waiting;
      gate_->opened.wait(lock, [this] { return gate_->open; });
      --gate_->waiting;
    }
    for (SectorNumber bad : gate_->failing)
      if (bad >= first && bad - first < count) return TransferStatus::IoError;
  }
  return inner_->read(first, count, out);
}

WizardFixture::WizardFixture(std::vector<DeviceInfo> disks) : devices(std::move(disks)) {
  ui::WizardOptions options;
  options.devices = [this] { return devices; };
  // Open With reads the desktop files of this folder only.
  options.applicationFolders = {QString::fromStdString((home.path() / "applications").string())};
  options.startProgram = [this](const QString& program, const QStringList& arguments) {
    startedPrograms.push_back(QStringList{program} + arguments);
    return true;
  };
  options.freeSpace = [this](const std::filesystem::path& folder) -> std::optional<std::uint64_t> {
    if (freeSpace) return freeSpace;
    struct statvfs info{};
    if (::statvfs(folder.c_str(), &info) != 0) return std::nullopt;
    return std::uint64_t{info.f_bavail} * std::uint64_t{info.f_frsize};
  };
  options.openUrl = [this](const QUrl& url) { openedUrls.push_back(url); };
  options.wrapSource = [gate = gate](std::unique_ptr<SectorSource> inner) -> std::unique_ptr<SectorSource> {
    return std::make_unique<GatedSource>(std::move(inner), gate);
  };
  window = std::make_unique<ui::MainWindow>(session, options);
  window->show();
}

WizardFixture::~WizardFixture() {
  gate->release();
  window.reset();
}

void WizardFixture::toStep2(const std::string& image) {
  ASSERT_TRUE(window->desktopPage()->chooseImage(QString::fromStdString(fixturePath(image).string())));
  window->desktopPage()->findChild<QPushButton*>(QStringLiteral("next"))->click();
  ASSERT_NE(page<ui::PartitionInfo>(), nullptr);
}

void WizardFixture::startSearch(int partition) {
  auto* step2 = page<ui::PartitionInfo>();
  ASSERT_NE(step2, nullptr);
  ASSERT_TRUE(step2->selectPartition(partition));
  step2->findChild<QPushButton*>(QStringLiteral("next"))->click();
}

void WizardFixture::toStep2b(int tab) {
  window->tabs()->setCurrentIndex(tab);
  auto* step1 = qobject_cast<ui::DiskSelectionPage*>(window->tabs()->currentWidget());
  ASSERT_NE(step1, nullptr);
  ASSERT_GT(step1->disksNode()->childCount(), 0);
  step1->driveTree()->setCurrentItem(step1->disksNode()->child(0));
  step1->next();
  auto* step2 = page<ui::PartitionInfo>();
  ASSERT_NE(step2, nullptr);
  EXPECT_FALSE(step2->searchExhaustive()->isVisible()) << "no lost-partition search in this mode";
  step2->tree()->setCurrentItem(step2->tree()->topLevelItem(0));
  step2->next();
  auto* range = page<ui::PartitionRange>();
  ASSERT_NE(range, nullptr);
  range->fileSystem()->setCurrentIndex(3);  // UNKNOWN
  range->next();
}

DeviceInfo fixtureDisk(std::uint32_t number, const std::filesystem::path& path, const std::string& model) {
  DeviceInfo d;
  d.number = number;
  d.name = "Disk" + std::to_string(number);
  d.devicePath = path.string();
  d.model = model;
  d.mediaType = "Fixed hard disk media";
  std::error_code ec;
  d.sizeBytes = std::filesystem::is_regular_file(path, ec) ? std::filesystem::file_size(path) : 0;
  d.cylinders = d.sizeBytes / 512 / 16065;
  return d;
}

void WizardFixture::waitForStep4(DialogScript& script) {
  script.answer(QStringLiteral("MessagesInfo"), true);  // the hint about the exhaustive search
  ASSERT_TRUE(waitUntil([&] {
    auto* step4 = page<ui::FileDisplay>();
    return step4 && step4->filled() && script.done() && !QApplication::activeModalWidget();
  }));
}

std::vector<ManifestRow> readManifest(const std::string& image, std::vector<std::string>* overwritten) {
  std::vector<ManifestRow> rows;
  std::ifstream in(fixturePath(image + ".manifest.tsv"));
  std::string line;
  std::getline(in, line);  // heading
  while (std::getline(in, line)) {
    if (line.rfind("# overwritten: ", 0) == 0) {
      if (overwritten) overwritten->push_back(line.substr(15));
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    if (fields.size() < 6) continue;
    rows.push_back({fields[1] == "deleted", fields[2] == "folder", std::stoull(fields[3]), fields[4], fields[5]});
  }
  return rows;
}

// First sector of the data region of the FAT32 fixture (no partition table).
SectorNumber firstDataSector(const std::string& image, SectorNumber volumeStart) {
  std::ifstream in(fixturePath(image), std::ios::binary);
  in.seekg(static_cast<std::streamoff>(volumeStart * 512));
  unsigned char boot[512] = {};
  in.read(reinterpret_cast<char*>(boot), sizeof boot);
  const std::uint32_t reserved = boot[14] | (boot[15] << 8);
  const std::uint32_t fatSize = boot[36] | (boot[37] << 8) | (boot[38] << 16) | (static_cast<std::uint32_t>(boot[39]) << 24);
  return volumeStart + reserved + 2ull * fatSize;
}

StallMeter::StallMeter() {
  timer_.setInterval(10);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &StallMeter::tick);
}

static double nowMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

double StallMeter::runQueueWaitMs() {
  // /proc/thread-self/schedstat: time on the processor, time waiting on a run queue (ns), slices.
  std::ifstream in("/proc/thread-self/schedstat");
  unsigned long long onCpu = 0, waiting = 0;
  in >> onCpu >> waiting;
  return static_cast<double>(waiting) / 1e6;
}

void StallMeter::start() {
  longest_ = longestWall_ = 0;
  lastWall_ = nowMs();
  lastWait_ = runQueueWaitMs();
  timer_.start();
}

void StallMeter::stop() {
  tick();
  timer_.stop();
}

void StallMeter::tick() {
  const double wall = nowMs(), wait = runQueueWaitMs();
  const double gap = wall - lastWall_;
  longestWall_ = std::max(longestWall_, gap);
  longest_ = std::max(longest_, gap - (wait - lastWait_));
  lastWall_ = wall;
  lastWait_ = wait;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
  return QTest::qWaitFor(condition, timeoutMs);
}

}  // namespace dravolin::test
