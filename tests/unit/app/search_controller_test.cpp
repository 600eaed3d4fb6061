#include "app/search_controller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

#include "support/test_support.h"

namespace dravolin {
namespace {

class FakeTicks final : public TickSource {
 public:
  std::uint64_t now = 1'000'000;
  std::uint64_t nowMs() const override { return now; }
};

TEST(ElapsedClock, PausedTimeWithinAMinuteIsNotCounted) {
  ElapsedClock clock;
  std::uint64_t t = 5000;
  clock.start(t);
  clock.tick(t += 10'000);
  EXPECT_EQ(clock.text(), "0 : 0 : 10");
  clock.pause(t);
  t += 30'000;  // paused for 30 seconds
  clock.resume(t);
  clock.tick(t += 5'000);
  EXPECT_EQ(clock.text(), "0 : 0 : 15");
  // Run on past the minute: the rollover forgets the pause time.
  clock.tick(t += 45'000);
  EXPECT_EQ(clock.text(), "0 : 1 : 0");
  clock.tick(t += 1'000);
  EXPECT_EQ(clock.text(), "0 : 1 : 1") << "the new minute counts from the rollover tick";
}

TEST(ElapsedClock, HoursRollOver) {
  ElapsedClock clock;
  std::uint64_t t = 0;
  clock.start(t);
  for (int minute = 0; minute < 61; ++minute) clock.tick(t += 61'000);
  EXPECT_EQ(clock.hours(), 1);
  EXPECT_EQ(clock.minutes(), 1);
}

TEST(StatisticsDisplay, RefreshesOnTheFirstAndEvery300thCall) {
  StatisticsDisplay display;
  SearchStatistics s{2048, 3, 4, "A.TXT", StatisticsFormat::Sector};
  display.update(s, kDesktopRecovery, 4194303);
  EXPECT_EQ(display.texts().value, "2048/4194303");
  EXPECT_EQ(display.texts().directories, "3");
  for (int call = 2; call <= 300; ++call) {
    s.files = static_cast<std::uint64_t>(call);
    display.update(s, kDesktopRecovery, 4194303);
  }
  EXPECT_EQ(display.texts().files, "4") << "calls 2..300 change nothing";
  s.files = 301;
  display.update(s, kDesktopRecovery, 4194303);
  EXPECT_EQ(display.texts().files, "301");
}

TEST(StatisticsDisplay, SizeFormatRawModeAndHiddenDetails) {
  StatisticsDisplay display;
  display.update({1073741825ULL, 9, 1, "x", StatisticsFormat::Size}, kRawRecoverySearch, 0);
  EXPECT_EQ(display.texts().value, "1.000 GB");
  EXPECT_EQ(display.texts().directories, "") << "raw mode leaves the directory count alone";
  StatisticsDisplay hidden;
  hidden.hideDetails();
  hidden.update({5, 1, 1, "y", StatisticsFormat::Size}, kDesktopRecovery, 0);
  EXPECT_FALSE(hidden.texts().visible);
  EXPECT_EQ(hidden.texts().files, "");
  hidden.showDetails();
  hidden.update({5, 1, 1, "y", StatisticsFormat::Size}, kDesktopRecovery, 0);
  EXPECT_EQ(hidden.texts().files, "1");
}

TEST(WorkerChoice, FollowsTheWizardOrder) {
  struct Case {
    RecoveryMode mode;
    bool imaging;
    const char* type;
    bool lost;
    int pass;
    bool exhaustive;
    WorkerKind kind;
  };
  const Case cases[] = {
      {kRawRecoverySearch, true, "FAT16", false, 0, false, WorkerKind::RawCarving},
      {kImageRecovery, true, "NTFS", false, 0, false, WorkerKind::ImageCreation},
      {kDesktopRecovery, false, "FAT32", true, 0, false, WorkerKind::LostPartitionSearch},
      {kDesktopRecovery, false, "FAT16", true, 1, false, WorkerKind::LostPartitionSearch},
      {kDesktopRecovery, false, "FAT16", true, 2, false, WorkerKind::None},
      {kDesktopRecovery, false, "FAT12", false, 0, true, WorkerKind::FatExhaustive},
      {kDesktopRecovery, false, "FAT32", false, 0, false, WorkerKind::FatDirectoryTree},
      {kDesktopRecovery, false, "NTFS", true, 1, false, WorkerKind::NtfsChosenTree},
      {kDesktopRecovery, false, "NTFS", true, 0, false, WorkerKind::NtfsExhaustive},
      {kDesktopRecovery, false, "NTFS", false, 0, true, WorkerKind::NtfsExhaustive},
      {kDesktopRecovery, false, "NTFS", false, 0, false, WorkerKind::NtfsMftWalk},
      {kDesktopRecovery, false, "UNKNOWN", false, 0, false, WorkerKind::None},
  };
  for (const auto& c : cases) {
    WizardState s;
    s.RecoveryMode = c.mode;
    s.ImageCreationMode = c.imaging;
    s.FileSystemType = fileSystemTypeFromText(c.type).value();
    s.LostPartitionSearch = c.lost;
    s.LostSearchPass = c.pass;
    s.ExhaustiveSearch = c.exhaustive;
    EXPECT_EQ(chooseWorker(s), c.kind) << c.type << " mode " << static_cast<int>(c.mode) << " pass " << c.pass;
  }
}

TEST(SearchLabels, DependOnTheWorker) {
  WizardState s;
  auto tree = searchLabels(s, WorkerKind::FatDirectoryTree);
  EXPECT_EQ(tree.value, "Total Size                :-");
  EXPECT_FALSE(tree.showStatus);
  auto raw = searchLabels(s, WorkerKind::RawCarving);
  EXPECT_EQ(raw.value, "Current Sector            :-");
  EXPECT_EQ(raw.count, "Bytes Recovered    :-");
  s.LostPartitionSearch = true;
  auto lost = searchLabels(s, WorkerKind::LostPartitionSearch);
  EXPECT_EQ(lost.description.rfind("Dravolin is  now  searching  for lost partitions", 0), 0u);
  EXPECT_FALSE(searchLabels(s, WorkerKind::ImageCreation).showCounts);
}

TEST(ProgressPulse, CreepsFromOneTo99AndStartsOver) {
  ProgressPulse pulse;
  int last = 0;
  for (int i = 0; i < 99; ++i) last = pulse.advance();
  EXPECT_EQ(last, 99);
  EXPECT_EQ(pulse.advance(), 0);
  EXPECT_EQ(pulse.advance(), 1);
}

class SearchControllerTest : public ::testing::Test {
 protected:
  SearchControllerTest() : session(test::isolatedEnvironment(dir)) {
    session.state.FileSystemType = FsType::Fat32;
    session.state.volumeParameters.FatSectors = 77;
  }
  std::string activityLog() { return test::readFile(dir / "Activity Log.txt"); }

  test::TempDir dir;
  Session session;
  test::ScriptedPrompter prompter;
  FakeTicks ticks;
};

TEST_F(SearchControllerTest, FinishedSearchWritesTheStep3Block) {
  SearchController controller(session, prompter, ticks);
  EXPECT_EQ(controller.kind(), WorkerKind::FatDirectoryTree);
  controller.start([](Job& job) {
    job.setPercent(150);
    job.complete(Completion::SearchDone);
  });
  ticks.now += 3000;
  auto outcome = controller.finish([] { return SearchTotals{1073741825ULL, 2, 3}; });
  EXPECT_EQ(outcome, SearchOutcome::ShowResults);
  EXPECT_EQ(controller.percent(), 100);
  EXPECT_EQ(controller.searchVolumeParameters().FatSectors, 77u);
  EXPECT_EQ(activityLog(),
            "\r\n\r\n\r\nStep 3 :\r\n-------\r\nAnalysing Files/Directories Information : \r\nTime Elapsed : 0 : 0 : 3"
            "\r\nTotal Size : 1.000 GB\r\nDirectories Found : 2\r\nFiles Found : 3");
}

// The texts change on the first report and on every 300th after it, counted
// in sectors: a report for a chunk of sectors counts as one per sector, and
// the reports between refreshes (which take no lock) change nothing.
TEST_F(SearchControllerTest, TheTextsRefreshEvery300SectorReportsAlsoWhenReportedByChunk) {
  SearchController controller(session, prompter, ticks);
  struct Report {
    std::uint64_t sector;
    std::uint32_t reports;
    const char* shown;
  };
  const Report reports[] = {
      {0, 1, "0/0"},          // the first report refreshes
      {1, 1, "0/0"},          // the 2nd to the 300th do not
      {299, 298, "0/0"},      // a chunk that ends at the 300th
      {300, 1, "300/0"},      // the 301st refreshes
      {1300, 1000, "1300/0"}, // a chunk that passes the 601st refreshes with its last sector
      {1301, 1, "1300/0"},
  };
  for (const Report& r : reports) {
    controller.updateStatistics({r.sector, 0, 0, "", StatisticsFormat::Sector, 0, r.reports});
    EXPECT_EQ(controller.statisticsTexts().value, r.shown) << "after the report of sector " << r.sector;
  }
}

TEST_F(SearchControllerTest, ExhaustiveSearchIsNamedInTheBlock) {
  session.state.ExhaustiveSearch = true;
  SearchController controller(session, prompter, ticks);
  controller.start([](Job& job) { job.complete(Completion::SearchDone); });
  controller.finish({});
  EXPECT_NE(activityLog().find("Analysing Files/Directories Information : Switching to Exhaustive Mode "),
            std::string::npos);
}

TEST_F(SearchControllerTest, PauseBlocksTheWorkerAtItsCheckpointAndStopEndsIt) {
  SearchController controller(session, prompter, ticks);
  std::atomic<int> units{0};
  controller.pause();
  controller.start([&](Job& job) {
    for (;;) {
      job.checkpoint();
      if (job.stopRequested()) break;
      ++units;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    job.requestStop();
    job.complete(Completion::Stopped);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(units.load(), 0) << "a paused worker does no work";
  controller.resume();
  while (units.load() < 3) std::this_thread::yield();
  controller.stop();
  EXPECT_EQ(controller.finish({}), SearchOutcome::ShowResults);
  EXPECT_FALSE(controller.stopRequested()) << "cleared after a plain search stopped";
  EXPECT_NE(activityLog().find("Step 3 :"), std::string::npos);
}

TEST_F(SearchControllerTest, BackUnwindsTheWorkerFreesTheListsAndClearsExhaustive) {
  session.state.ExhaustiveSearch = true;
  session.entries.addLostNode();
  session.entries.AddFileNode("A.TXT", u"", false, 10, 0, 2, 0, {});
  SearchController controller(session, prompter, ticks);
  std::atomic<bool> unwound{false};
  controller.start([&](Job& job) {
    struct Guard {
      std::atomic<bool>& flag;
      ~Guard() { flag = true; }
    } guard{unwound};
    for (;;) job.checkpoint();
  });
  controller.pause();
  controller.back([&] { session.entries.clear(); });
  EXPECT_TRUE(unwound.load());
  EXPECT_EQ(session.entries.DirectoryCount, 0u);
  EXPECT_EQ(session.entries.FileCount, 0u);
  EXPECT_FALSE(session.state.ExhaustiveSearch);
  EXPECT_EQ(controller.finish({}), SearchOutcome::Cancelled);
  EXPECT_EQ(activityLog().find("Step 3 :"), std::string::npos);
}

TEST_F(SearchControllerTest, LostPassWritesTheStep2bBlock) {
  session.state.LostPartitionSearch = true;
  SearchController controller(session, prompter, ticks);
  controller.start([](Job& job) { job.complete(Completion::LostPassDone); });
  EXPECT_EQ(controller.finish([] { return SearchTotals{0, 4, 5}; }), SearchOutcome::LostPassList);
  EXPECT_NE(activityLog().find("Step 2 (b) :\r\n-------\r\nAnalysing Files/Directories Information : "),
            std::string::npos);
  EXPECT_NE(activityLog().find("Directories Found : 4\r\nFiles Found : 5"), std::string::npos);
}

TEST_F(SearchControllerTest, NoWorkerForAnUnknownType) {
  session.state.FileSystemType = FsType::Unknown;
  SearchController controller(session, prompter, ticks);
  controller.start([](Job&) { FAIL() << "no worker may run"; });
  EXPECT_TRUE(controller.workerEnded());
}


// A stop is recorded with what it covered: the sector a sweep had reached
// when the stop ended it, or nothing when the sweep had run to the end of the
// range (a stop of a later step). The stop request a worker clears itself
// (the exhaustive FAT search does, to list what it found) does not hide it.
TEST_F(SearchControllerTest, AStopIsRecordedWithTheSectorItsSweepReached) {
  struct Case {
    const char* name;
    std::uint64_t sweptTo;  // the last sector the worker's sweep reports
    bool stop;
    std::optional<std::uint64_t> recorded;
    const char* line;  // the line of the Step 3 block; nullptr: none
  };
  const Case cases[] = {
      {"stopped in the sweep", 2999, true, 2999,
       "Search stopped at sector 2999 of 12000 (25%): the listing holds what was found before."},
      {"stopped after the sweep", 11992, true, std::nullopt,
       "Search stopped before its end: the listing holds what was found before."},
      {"not stopped", 11992, false, std::nullopt, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir caseDir;
    Session caseSession(test::isolatedEnvironment(caseDir));
    caseSession.state.FileSystemType = FsType::Fat32;
    caseSession.state.ExhaustiveSearch = true;
    caseSession.state.PartitionStart = 0;
    caseSession.state.PartitionEnd = 12000;
    caseSession.state.volumeParameters.SectorsPerCluster = 8;
    SearchController controller(caseSession, prompter, ticks);
    std::atomic<bool> reported{false};
    controller.start([&](Job& job) {
      for (std::uint64_t sector = 0; sector <= c.sweptTo; sector += 8)
        job.updateStatistics({std::min(sector, c.sweptTo), 0, 0, "", StatisticsFormat::Sector});
      job.updateStatistics({c.sweptTo, 0, 0, "", StatisticsFormat::Sector});
      reported = true;
      if (c.stop)
        while (!job.stopRequested()) std::this_thread::yield();
      job.clearStopRequest();
      job.updateStatistics({4096, 1, 2, "A.TXT", StatisticsFormat::Size});  // later steps count sizes
      job.complete(Completion::SearchDone);
    });
    while (!reported) std::this_thread::yield();
    if (c.stop) controller.stop();
    EXPECT_EQ(controller.finish({}), SearchOutcome::ShowResults);
    const SearchStop& stop = caseSession.searchStop;
    EXPECT_EQ(stop.stopped, c.stop);
    EXPECT_EQ(stop.sweptTo, c.recorded);
    const std::string log = test::readFile(caseDir / "Activity Log.txt");
    if (c.line) {
      EXPECT_NE(log.find(std::string("Files Found : 0\r\n") + c.line), std::string::npos) << log;
    } else {
      EXPECT_EQ(log.find("stopped"), std::string::npos) << log;
    }
  }
}

}  // namespace
}  // namespace dravolin
