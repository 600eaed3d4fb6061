#include "app/search_operation.h"

#include <gtest/gtest.h>

#include "app/volume_check.h"
#include "disk/fault_injecting_source.h"
#include "disk/file_source.h"
#include "disk/memory_source.h"
#include "results/read_loss_report.h"
#include "results/result_tree.h"
#include "support/test_support.h"

namespace dravolin {
namespace {

// Which selections both front ends can search, and what they are told otherwise.
TEST(SearchOperation, OffersAWorkerOnlyForTheSearchesAppSupports) {
  struct Case {
    const char* fileSystem;
    bool exhaustive;
    bool lostPartitions;
    bool withSource;
    const char* error;  // nullptr: a worker
  };
  const Case cases[] = {
      {"FAT32", false, false, true, nullptr},
      {"FAT16", true, false, true, nullptr},
      {"FAT12", false, false, true, nullptr},
      {"NTFS", false, false, true, nullptr},
      {"NTFS", true, false, true, nullptr},
      {"NTFS", false, true, true, nullptr},
      {"FAT32", false, true, true, nullptr},
      {"UNKNOWN", false, false, true, "searching this selection is not available yet"},
      {"FAT32", false, false, false, "no disk or image is open"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fileSystem) + (c.exhaustive ? " exhaustive" : "") + (c.lostPartitions ? " lost" : ""));
    test::TempDir dir;
    Session session(test::isolatedEnvironment(dir));
    if (c.withSource) session.setSource(std::make_unique<MemorySectorSource>(64), makeImageDevice(1, "/tmp/x.img", 64 * 512));
    session.state.FileSystemType = fileSystemTypeFromText(c.fileSystem).value();
    session.state.ExhaustiveSearch = c.exhaustive;
    session.state.LostPartitionSearch = c.lostPartitions;
    test::ScriptedPrompter prompter;
    SteadyTickSource ticks;
    SearchController controller(session, prompter, ticks);
    auto worker = makeSearchWorker(session, controller, "CP850");
    if (c.error) {
      ASSERT_FALSE(worker);
      EXPECT_EQ(worker.error().message, c.error);
    } else {
      ASSERT_TRUE(worker);
      EXPECT_TRUE(static_cast<bool>(*worker));
    }
  }
}


// A search that met unreadable sectors says so in the activity report when
// it ends: how many and where, and one line for each loss of the search,
// named as the result browser names it. A search that read everything adds
// nothing.
TEST(SearchOperation, WhatASearchCouldNotReadGoesToTheActivityReport) {
  const auto image = test::fixturePath("fat16.img");
  auto file = FileSectorSource::open(image.string(), OpenMode::ReadOnly, true);
  ASSERT_TRUE(file) << file.error().message;
  const std::uint64_t sectors = (*file)->sectorCount();
  for (const bool failing : {true, false}) {
    SCOPED_TRACE(failing ? "failing root sectors" : "healthy");
    test::TempDir dir;
    Session session(test::isolatedEnvironment(dir));
    // The root folder's first two sectors, found from the volume itself.
    SectorReader probe(**file);
    auto parameters = checkVolume(probe, FsType::Fat16, 0, sectors);
    ASSERT_TRUE(parameters) << parameters.error().message;
    const SectorNumber root = parameters->RootDirStart;
    std::set<SectorNumber> bad;
    if (failing) bad = {root, root + 1};
    session.setSource(std::make_unique<FaultInjectingSource>(**file, bad),
                      makeImageDevice(1, image.string(), sectors * kSectorSize));
    session.reader()->setPolicy(BadSectorPolicy::SkipAll);
    session.state.FileSystemType = FsType::Fat16;
    session.state.PartitionStart = 0;
    session.state.PartitionEnd = static_cast<std::int64_t>(sectors);
    session.state.volumeParameters = *parameters;
    test::ScriptedPrompter prompter;
    SteadyTickSource ticks;
    SearchController controller(session, prompter, ticks);
    auto worker = makeSearchWorker(session, controller, "CP850");
    ASSERT_TRUE(worker);
    controller.start(std::move(*worker));
    EXPECT_EQ(controller.finish([&] { return foundTotals(session); }), SearchOutcome::ShowResults);
    const std::string log = test::readFile(dir / "Activity Log.txt");
    const std::string unreadable = "Unreadable Sectors : 2 sectors: " + std::to_string(root) + "-" +
                                   std::to_string(root + 1);
    if (!failing) {
      EXPECT_EQ(log.find("Unreadable Sectors"), std::string::npos) << log;
      EXPECT_EQ(log.find("Not Read : "), std::string::npos) << log;
      continue;
    }
    // After the search's block, as its last lines.
    const std::size_t block = log.find("Step 3 :");
    ASSERT_NE(block, std::string::npos) << log;
    EXPECT_NE(log.find(unreadable, block), std::string::npos) << log;
    ResultTree tree(session.entries, FsType::Fat16, "CP850");
    tree.build();
    for (const std::string& line : describeReadLosses(tree))
      EXPECT_NE(log.find("Not Read : " + line, block), std::string::npos) << line << "\n" << log;
  }
}

}  // namespace
}  // namespace dravolin
