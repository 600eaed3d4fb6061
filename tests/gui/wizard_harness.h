#pragma once
// What the wizard tests share: a window over an isolated session, a script
// that answers the modal dialogs as they open, a source whose reads can be
// held at a gate, and the fixture manifest.
#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/session.h"
#include "disk/sector_source.h"
#include "support/test_support.h"
#include "ui/wizard_window.h"

namespace dravolin::test {

// Answers modal dialogs in order: each step names the dialog class it
// expects and what to do with it. Every dialog seen is recorded with its text.
class DialogScript : public QObject {
  Q_OBJECT
 public:
  struct Seen {
    QString dialog;
    QString text;
  };
  DialogScript();
  // Expect a dialog (by object name) and act on it.
  void expect(const QString& dialog, std::function<void(QDialog*)> act);
  // Shorthands for the message boxes.
  void answer(const QString& dialog, bool yes);  // QuestionMessage Yes/No, MessagesInfo OK
  void clickButton(const QString& dialog, const QString& buttonText);
  bool done() const { return steps_.empty(); }
  const std::vector<Seen>& seen() const { return seen_; }
  QString lastText() const { return seen_.empty() ? QString() : seen_.back().text; }
  std::vector<QString> unexpected;

 private:
  void poll();
  struct Step {
    QString dialog;
    std::function<void(QDialog*)> act;
  };
  std::deque<Step> steps_;
  std::vector<Seen> seen_;
  QTimer timer_;
};

// Clicks the button of a dialog whose text (without '&') is this.
void clickDialogButton(QDialog* dialog, const QString& text);

// A source whose reads of sectors at or after gateSector wait, once armed,
// until the gate is opened, and whose reads over a failing sector fail.
class GatedSource final : public SectorSource {
 public:
  struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool armed = false;
    bool open = false;
    SectorNumber gateSector = 0;
    std::vector<SectorNumber> failing;  // reads that cover one of these fail
    std::atomic<int> waiting{0};
    void release() {
      {
        std::lock_guard lock(mutex);
        open = true;
      }
      opened.notify_all();
    }
  };
  GatedSource(std::unique_ptr<SectorSource> inner, std::shared_ptr<Gate> gate)
      : inner_(std::move(inner)), gate_(std::move(gate)) {}
  std::uint64_t sizeInBytes() const override { return inner_->sizeInBytes(); }
  TransferStatus read(SectorNumber first, std::uint32_t count, std::span<std::byte> out) override;
  bool isImage() const override { return inner_->isImage(); }
  std::string description() const override { return inner_->description(); }

 private:
  std::unique_ptr<SectorSource> inner_;
  std::shared_ptr<Gate> gate_;
};

// A wizard window over its own settings and logs, offering no disk of the
// machine: only images chosen in Step 1.
struct WizardFixture {
  TempDir home;
  Session session{isolatedEnvironment(home)};
  std::vector<QUrl> openedUrls;
  // The disks Step 1 offers (none unless a test sets them before the tab
  // is first shown), the programs Open With started, and the free space
  // each folder is made to have (none: the file system is asked).
  std::vector<DeviceInfo> devices;
  std::vector<QStringList> startedPrograms;
  std::optional<std::uint64_t> freeSpace;
  std::shared_ptr<GatedSource::Gate> gate = std::make_shared<GatedSource::Gate>();
  std::unique_ptr<ui::MainWindow> window;

  explicit WizardFixture(std::vector<DeviceInfo> disks = {});
  ~WizardFixture();
  // Step 1 with the image chosen and Next clicked: Step 2 on show.
  void toStep2(const std::string& image = "fat32.img");
  // Step 2 with the partition chosen and Next clicked: the search runs.
  void startSearch(int partition = 1);
  // Raw (tab 3) or Image Recovery (tab 1): Step 1 with Disk0 chosen, Step 2
  // with the whole disk, Step 2 (a) with the type UNKNOWN: Step 2 (b) on show.
  void toStep2b(int tab);
  // Waits until Step 4 shows its filled tree (answering the hint box).
  void waitForStep4(DialogScript& script);
  template <typename Page>
  Page* page() const {
    return qobject_cast<Page*>(window->currentPage());
  }
};

// Measures how long the event loop of this thread goes without running a
// 10 ms timer. Time the thread spent ready but waiting for a processor
// (the machine busy with other processes) is taken out, so that what is
// left is time the wizard itself kept the loop from running.
class StallMeter : public QObject {
  Q_OBJECT
 public:
  StallMeter();
  void start();
  void stop();
  double longestMs() const { return longest_; }        // without the run-queue wait
  double longestWallMs() const { return longestWall_; }  // as measured

 private:
  void tick();
  static double runQueueWaitMs();
  QTimer timer_;
  double lastWall_ = 0, lastWait_ = 0, longest_ = 0, longestWall_ = 0;
};

// A disk of the machine as Step 1 lists it, backed by a file of the tests.
DeviceInfo fixtureDisk(std::uint32_t number, const std::filesystem::path& path, const std::string& model = "Test Disk");

struct ManifestRow {
  bool deleted = false;
  bool folder = false;
  std::uint64_t size = 0;
  std::string sha256;
  std::string path;
};
std::vector<ManifestRow> readManifest(const std::string& image, std::vector<std::string>* overwritten = nullptr);

// First sector of the data region of a FAT32 volume of a fixture: a gate
// there holds the search but not the partition listing or the volume check.
SectorNumber firstDataSector(const std::string& image, SectorNumber volumeStart = 0);

// Waits (with the event loop running) until the condition holds.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 60000);

}  // namespace dravolin::test
