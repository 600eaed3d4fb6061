#include "app/search_operation.h"

#include <gtest/gtest.h>

#include "disk/memory_source.h"
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

}  // namespace
}  // namespace dravolin
