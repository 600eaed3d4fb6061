#include "app/search_controller.h"

#include <algorithm>
#include <chrono>

#include "common/format.h"

namespace dravolin {

std::uint64_t SteadyTickSource::nowMs() const {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

// ---- clock

void ElapsedClock::start(std::uint64_t now) {
  startTick_ = now;
  pausedTicks_ = 0;
  hours_ = minutes_ = seconds_ = 0;
}

void ElapsedClock::tick(std::uint64_t now) {
  std::uint64_t elapsed = now - startTick_;
  std::uint64_t seconds = elapsed >= pausedTicks_ ? (elapsed - pausedTicks_) / 1000 : 0;
  if (seconds > 59) {
    pausedTicks_ = 0;
    seconds -= 60;
    minutes_ += 1;
    startTick_ = now;
  }
  if (minutes_ >= 60) {
    hours_ += 1;
    minutes_ -= 60;
  }
  seconds_ = static_cast<int>(seconds);
}

void ElapsedClock::pause(std::uint64_t now) { pauseTick_ = now; }

void ElapsedClock::resume(std::uint64_t now) { pausedTicks_ += now - pauseTick_; }

std::string ElapsedClock::text() const { return formatText("%d : %d : %d", hours_, minutes_, seconds_); }

// ---- statistics

void StatisticsDisplay::update(const SearchStatistics& s, RecoveryMode recoveryMode, std::int64_t partitionEnd) {
  if (detailsHidden_) {
    if (detailsJustHidden_) {
      detailsJustHidden_ = false;
      texts_.visible = false;
    }
    return;
  }
  const int counter = refreshCounter_.load();
  const std::uint32_t reports = std::max<std::uint32_t>(s.reports, 1);
  if (counter == 0 || static_cast<std::uint64_t>(counter) + reports > 300) {
    texts_.visible = true;
    if (s.format == StatisticsFormat::Sector)
      texts_.value = std::to_string(s.value) + "/" + std::to_string(partitionEnd);
    else
      texts_.value = formatMegaGiga(s.value);
    if (recoveryMode != kRawRecoverySearch) texts_.directories = std::to_string(s.directories);
    texts_.files = std::to_string(s.files);
    texts_.lastName = s.lastName;
  }
  refreshCounter_.store(static_cast<int>((static_cast<std::uint64_t>(counter) + reports) % 300));
}

void StatisticsDisplay::hideDetails() {
  detailsHidden_ = true;
  detailsJustHidden_ = true;
}

void StatisticsDisplay::showDetails() {
  detailsHidden_ = false;
  detailsJustHidden_ = false;
  texts_.visible = true;
}

// ---- worker choice

WorkerKind chooseWorker(const WizardState& s) {
  if (s.RecoveryMode == kRawRecoverySearch) return WorkerKind::RawCarving;
  if (s.ImageCreationMode) return WorkerKind::ImageCreation;
  if (isFat(s.FileSystemType)) {
    if (s.LostPartitionSearch) return s.LostSearchPass <= 1 ? WorkerKind::LostPartitionSearch : WorkerKind::None;
    if (s.ExhaustiveSearch) return WorkerKind::FatExhaustive;
    return WorkerKind::FatDirectoryTree;
  }
  if (s.FileSystemType == FsType::Ntfs) {
    if (s.LostPartitionSearch && s.LostSearchPass == 1) return WorkerKind::NtfsChosenTree;
    if (s.ExhaustiveSearch || s.LostPartitionSearch) return WorkerKind::NtfsExhaustive;
    return WorkerKind::NtfsMftWalk;
  }
  // A found exFAT volume of the search for lost partitions is searched as
  // a partition is.
  if (s.FileSystemType == FsType::ExFat)
    return s.ExhaustiveSearch ? WorkerKind::ExfatExhaustive : WorkerKind::ExfatTree;
  return WorkerKind::None;
}

SearchLabels searchLabels(const WizardState& s, WorkerKind kind) {
  static const std::string kCurrentSector = "Current Sector            :-";
  static const std::string kTotalSize = "Total Size                :-";
  SearchLabels labels{kCurrentSector, "Directories Found    :-", "", true, true};
  switch (kind) {
    case WorkerKind::RawCarving:
      labels.count = "Bytes Recovered    :-";
      labels.description =
          "Dravolin  is   now searching for selected extensions and   saving the same.  ";
      return labels;
    case WorkerKind::ImageCreation:
      labels.showStatus = labels.showCounts = false;
      labels.description =
          "Dravolin is now making the image   file of   your selected disk / partition.  After  finishing go back "
          "to Desktop Recovery and recover the image file by Select Image option. ";
      return labels;
    case WorkerKind::FatDirectoryTree:
    case WorkerKind::NtfsMftWalk:
    case WorkerKind::ExfatTree:
      labels.value = kTotalSize;
      labels.showStatus = false;
      break;
    case WorkerKind::LostPartitionSearch:
    case WorkerKind::FatExhaustive:
    case WorkerKind::ExfatExhaustive:
      if (s.LoadFromLog) labels.value = kTotalSize;
      break;
    case WorkerKind::NtfsExhaustive:
      if (s.LoadFromLog) {
        labels.value = kTotalSize;
        labels.showStatus = false;
      }
      break;
    default:
      break;
  }
  if (s.LostPartitionSearch && s.LostSearchPass == 0)
    labels.description =
        "Dravolin is  now  searching  for lost partitions/ file systems. After finishing  it   will   list  you   "
        "the  lost partitions/ file systems.  Click  next and proceed to Step 2C.";
  else
    labels.description =
        "Dravolin is now searching for files and folders. After finishing it will switch on to step 4.";
  return labels;
}

// ---- controller

SearchController::SearchController(Session& session, Prompter& prompter, const TickSource& ticks)
    : WorkerJob(prompter), session_(session), ticks_(ticks), kind_(chooseWorker(session.state)) {
  session_.state.CurrentStep = 4;
}

SearchController::~SearchController() {
  // The worker may still call the overrides of this class: end it first.
  cancel();
  wait();
}

void SearchController::start(Worker worker) {
  if (!session_.state.LoadFromLog) {
    searchParameters_ = session_.state.volumeParameters;
    searchFileSystem_ = session_.state.FileSystemType;
  }
  // A reloaded log keeps the mark of a stopped search it carries.
  fromStoppedLog_ = session_.state.LoadFromLog && session_.loadedLog && session_.loadedLog->header.stopped;
  session_.searchStop = SearchStop{};
  rangeStart_ = static_cast<std::uint64_t>(std::max<std::int64_t>(session_.state.PartitionStart, 0));
  rangeEnd_ = static_cast<std::uint64_t>(std::max<std::int64_t>(session_.state.PartitionEnd, 0));
  {
    std::lock_guard lock(displayMutex_);
    clock_.start(ticks_.nowMs());
  }
  if (kind_ == WorkerKind::None || !worker) {
    runHere([](Job&) {});
    return;
  }
  // A lost-partition pass on NTFS counts itself once started.
  if (kind_ == WorkerKind::NtfsExhaustive && session_.state.LostPartitionSearch) ++session_.state.LostSearchPass;
  WorkerJob::start(std::move(worker));
}

void SearchController::onPaused() {
  std::lock_guard lock(displayMutex_);
  clock_.pause(ticks_.nowMs());
}

void SearchController::onResumed() {
  std::lock_guard lock(displayMutex_);
  clock_.resume(ticks_.nowMs());
}

void SearchController::back(const std::function<void()>& freeLists) {
  cancel();
  wait();
  if (freeLists) freeLists();
  session_.state.ExhaustiveSearch = false;
}

bool SearchController::isExhaustiveLostOrImaging() const {
  return kind_ == WorkerKind::FatExhaustive || kind_ == WorkerKind::NtfsExhaustive ||
         kind_ == WorkerKind::LostPartitionSearch || kind_ == WorkerKind::ImageCreation;
}

std::string describeSearchStop(const SearchStop& stop) {
  constexpr const char* kListed = ": the listing holds what was found before";
  if (!stop.sweptTo || stop.rangeEnd <= stop.rangeStart) return std::string("search stopped before its end") + kListed;
  const std::uint64_t reached = std::clamp(*stop.sweptTo, stop.rangeStart, stop.rangeEnd - 1);
  // The share of the range looked at, sector reached included.
  const std::uint64_t percent = (reached + 1 - stop.rangeStart) * 100 / (stop.rangeEnd - stop.rangeStart);
  return "search stopped at sector " + std::to_string(reached) + " of " + std::to_string(stop.rangeEnd) + " (" +
         std::to_string(percent) + "%)" + kListed;
}

// What a stop covered: a sweep that had not reached the last cluster of the
// range when it ended looked at the sectors up to the last one it reported.
void SearchController::noteStop() {
  SearchStop stop;
  stop.stopped = stopAsked();
  stop.fromStoppedLog = fromStoppedLog_;
  stop.rangeStart = rangeStart_;
  stop.rangeEnd = rangeEnd_;
  if (stopAsked() && swept_.load()) {
    const std::uint64_t reached = sweptSector_.load();
    const std::uint64_t cluster = std::max<std::uint64_t>(searchParameters_.SectorsPerCluster, 1);
    if (reached + cluster < rangeEnd_) stop.sweptTo = reached;
  }
  session_.searchStop = stop;
}

SearchOutcome SearchController::finish(const std::function<SearchTotals()>& totals) {
  wait();
  if (cancelled()) return SearchOutcome::Cancelled;
  if (!error().empty()) return SearchOutcome::Failed;
  noteStop();
  tick();
  const auto& s = session_.state;
  const Completion done = completion();
  if (s.RecoveryMode == kRawRecoverySearch)
    return done == Completion::WorkerFinished ? SearchOutcome::Close : SearchOutcome::Failed;
  if (s.ImageCreationMode && done == Completion::WorkerFinished) return SearchOutcome::Close;
  SearchTotals t = totals ? totals() : SearchTotals{};
  if (done == Completion::LostPassDone) {
    session_.activityLog().appendLines({"\r\n", "Step 2 (b) :", "-------", "Analysing Files/Directories Information : ",
                                        "Time Elapsed : " + clockText(),
                                        "Directories Found : " + std::to_string(t.directories),
                                        "Files Found : " + std::to_string(t.files)});
    writeStopAndReadReport();
    return SearchOutcome::LostPassList;
  }
  if (!stopRequested() || isExhaustiveLostOrImaging()) {
    if (done == Completion::SearchDone) {
      writeStep3Block(t);
      return SearchOutcome::ShowResults;
    }
    if (!stopRequested()) return SearchOutcome::Failed;
  }
  // A plain search that stopped or finished by itself.
  writeStep3Block(t);
  clearStopRequest();
  return SearchOutcome::ShowResults;
}

void SearchController::writeStep3Block(const SearchTotals& t) {
  std::string analysing = "Analysing Files/Directories Information : ";
  if (session_.state.ExhaustiveSearch) analysing += "Switching to Exhaustive Mode ";
  session_.activityLog().appendLines({"\r\n", "Step 3 :", "-------", analysing, "Time Elapsed : " + clockText(),
                                      "Total Size : " + formatMegaGiga(t.totalSize),
                                      "Directories Found : " + std::to_string(t.directories),
                                      "Files Found : " + std::to_string(t.files)});
  writeStopAndReadReport();
}

// After a search's block: what it could not read, and where a stop left it.
void SearchController::writeStopAndReadReport() {
  std::vector<std::string> lines = std::move(session_.searchReadReport);
  session_.searchReadReport.clear();
  if (session_.searchStop.stopped) {
    std::string stopped = describeSearchStop(session_.searchStop);
    stopped[0] = 'S';
    lines.push_back(stopped + ".");
  }
  if (!lines.empty()) session_.activityLog().appendLines(lines);
}

void SearchController::tick() {
  if (paused()) return;
  std::lock_guard lock(displayMutex_);
  clock_.tick(ticks_.nowMs());
}

std::string SearchController::clockText() const {
  std::lock_guard lock(displayMutex_);
  return clock_.text();
}

StatisticsDisplay::Texts SearchController::statisticsTexts() const {
  std::lock_guard lock(displayMutex_);
  return statistics_.texts();
}

void SearchController::hideDetails() {
  std::lock_guard lock(displayMutex_);
  statistics_.hideDetails();
}

void SearchController::showDetails() {
  const std::string name = lastName();
  std::lock_guard lock(displayMutex_);
  statistics_.showDetails();
  // Names that came while hidden were not shown: the last one is.
  statistics_.setLastName(name);
}

void SearchController::setLastName(const std::string& name) {
  WorkerJob::setLastName(name);
  std::lock_guard lock(displayMutex_);
  statistics_.setLastName(name);
}

void SearchController::updateStatistics(const SearchStatistics& statistics) {
  WorkerJob::updateStatistics(statistics);
  if (statistics.format == StatisticsFormat::Sector) {
    sweptSector_.store(statistics.value, std::memory_order_relaxed);
    swept_.store(true, std::memory_order_relaxed);
  }
  if (statistics_.countUnlessDue(statistics.reports)) return;
  std::lock_guard lock(displayMutex_);
  statistics_.update(statistics, session_.state.RecoveryMode, session_.state.PartitionEnd);
}

}  // namespace dravolin
