#pragma once
// Step 3 without windows: chooses the worker for the committed selection,
// runs it on its own thread under the Job contract, keeps the elapsed-time
// clock and the statistics texts, handles pause, stop and back, and on
// completion writes the step's block to the activity report and tells the
// front end where the wizard goes next.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "app/session.h"
#include "common/job.h"
#include "common/worker_job.h"

namespace dravolin {

// Milliseconds from a steady clock; tests give a fake one.
class TickSource {
 public:
  virtual ~TickSource() = default;
  virtual std::uint64_t nowMs() const = 0;
};

class SteadyTickSource final : public TickSource {
 public:
  std::uint64_t nowMs() const override;
};

// The clock shown as "%d : %d : %d". Seconds are counted from the start of
// the current minute less the time paused within it; at each minute rollover
// the paused time is forgotten.
class ElapsedClock {
 public:
  void start(std::uint64_t now);
  void tick(std::uint64_t now);  // the once-a-second timer
  void pause(std::uint64_t now);
  void resume(std::uint64_t now);
  std::string text() const;
  int hours() const { return hours_; }
  int minutes() const { return minutes_; }
  int seconds() const { return seconds_; }

 private:
  std::uint64_t startTick_ = 0;
  std::uint64_t pausedTicks_ = 0;
  std::uint64_t pauseTick_ = 0;
  int hours_ = 0, minutes_ = 0, seconds_ = 0;
};

// What UpdateSearchStatistics shows. Values change on the first call and on
// every 300th call after it, and not at all while the details are hidden.
class StatisticsDisplay {
 public:
  struct Texts {
    std::string value;        // "2048/4194303" or "12.500 MB"
    std::string directories;  // left alone in raw mode
    std::string files;
    std::string lastName;
    bool visible = true;
  };
  void update(const SearchStatistics& statistics, RecoveryMode recoveryMode, std::int64_t partitionEnd);
  // What update() does to a report that changes no text: counts it towards
  // the next refresh and returns true; false (and nothing counted) when the
  // report is due to change the texts. Workers report after every sector or
  // entry, so this path takes no lock. Only the worker's thread counts.
  bool countUnlessDue(std::uint32_t reports) {
    const int counter = refreshCounter_.load();
    if (detailsHidden_.load() || counter == 0 || reports != 1) return false;
    refreshCounter_.store((counter + 1) % 300);
    return true;
  }
  void setLastName(const std::string& name) {
    if (!detailsHidden_) texts_.lastName = name;
  }
  void hideDetails();
  void showDetails();
  bool detailsHidden() const { return detailsHidden_; }
  const Texts& texts() const { return texts_; }
  int refreshCounter() const { return refreshCounter_; }

 private:
  std::atomic<bool> detailsHidden_{false};
  bool detailsJustHidden_ = false;
  std::atomic<int> refreshCounter_{0};
  Texts texts_;
};

enum class WorkerKind {
  None,
  RawCarving,
  ImageCreation,
  LostPartitionSearch,
  FatExhaustive,
  FatDirectoryTree,
  NtfsChosenTree,
  NtfsExhaustive,
  ExfatTree,
  ExfatExhaustive,
  NtfsMftWalk,
};

// The worker for the wizard state, tested in the wizard's order.
WorkerKind chooseWorker(const WizardState& state);

// Labels of the Step 3 page for the worker that runs.
struct SearchLabels {
  std::string value;        // "Current Sector            :-" or "Total Size                :-"
  std::string count;        // "Directories Found    :-" or, in raw mode, "Bytes Recovered    :-"
  std::string description;  // what is running
  bool showStatus = true;   // the worker status line
  bool showCounts = true;   // directory and file counts
};
SearchLabels searchLabels(const WizardState& state, WorkerKind kind);

// The pulse of the progress bar during a directory tree search: 1..99, then over.
class ProgressPulse {
 public:
  int advance() {
    position_ = position_ + 1 >= 100 ? 0 : position_ + 1;
    return position_;
  }

 private:
  int position_ = 0;
};

// Where the wizard goes when the worker has ended.
enum class SearchOutcome {
  Running,        // not finished yet
  Close,          // raw carving or imaging finished: back to the caller
  LostPassList,   // a lost-partition pass ended: the list of found file systems
  ShowResults,    // the result browser
  Cancelled,      // Back: the lists were freed
  Failed,         // the worker ended with an error (see error())
};

struct SearchTotals {
  std::uint64_t totalSize = 0;
  std::uint64_t directories = 0;
  std::uint64_t files = 0;
};

// What a stopped search covered, for the user: "search stopped at sector N
// of M (P%): the listing holds what was found before" when the stop ended
// its sweep of the range, "search stopped before its end: ..." otherwise.
std::string describeSearchStop(const SearchStop& stop);

class SearchController final : public WorkerJob {
 public:
  SearchController(Session& session, Prompter& prompter, const TickSource& ticks);
  ~SearchController() override;

  WorkerKind kind() const { return kind_; }
  // The copy of the volume parameters and type that the worker reads.
  const VolumeParameters& searchVolumeParameters() const { return searchParameters_; }
  FsType searchFileSystem() const { return searchFileSystem_; }

  // Copies the volume parameters, starts the clock and runs the worker.
  void start(Worker worker);
  // Stop after the user confirmed it (WorkerJob::stop): the worker sees
  // StopRequested and finishes as its rules say.
  // Back after the user confirmed it: the worker unwinds at its next
  // checkpoint, then freeLists runs and ExhaustiveSearch is cleared.
  void back(const std::function<void()>& freeLists);
  // Waits for the worker and applies the completion rules; totals gives
  // the counts of the Step 3 block (or of the lost pass).
  SearchOutcome finish(const std::function<SearchTotals()>& totals);
  bool workerEnded() const { return ended(); }

  // The clock's once-a-second timer.
  void tick();
  std::string clockText() const;
  StatisticsDisplay::Texts statisticsTexts() const;
  void hideDetails();
  void showDetails();

  // Job: the statistics feed the display of the page.
  void setLastName(const std::string& name) override;
  void updateStatistics(const SearchStatistics& statistics) override;

 protected:
  void onPaused() override;
  void onResumed() override;

 private:
  void writeStep3Block(const SearchTotals& totals);
  bool isExhaustiveLostOrImaging() const;
  void noteStop();
  void writeStopAndReadReport();

  Session& session_;
  const TickSource& ticks_;
  WorkerKind kind_;
  VolumeParameters searchParameters_;
  FsType searchFileSystem_ = FsType::Unknown;
  mutable std::mutex displayMutex_;  // the clock and the statistics texts
  ElapsedClock clock_;
  StatisticsDisplay statistics_;
  // The last sector a sweep reported (worker thread), for what a stop covered.
  std::atomic<std::uint64_t> sweptSector_{0};
  std::atomic<bool> swept_{false};
  bool fromStoppedLog_ = false;  // the search reloads the log of a stopped search
  std::uint64_t rangeStart_ = 0, rangeEnd_ = 0;
};

}  // namespace dravolin
