#include "disk/unreadable_sectors.h"

#include <gtest/gtest.h>

#include "disk/fault_injecting_source.h"
#include "disk/memory_source.h"
#include "disk/sector_reader.h"

namespace dravolin {
namespace {

// Sectors added in any order end up as sorted ranges that neither overlap nor
// touch, and the counts agree with them.
TEST(UnreadableSectors, MergesRangesAddedInAnyOrder) {
  struct Case {
    const char* name;
    std::vector<std::pair<SectorNumber, std::uint64_t>> added;
    std::vector<SectorRange> ranges;
  };
  const Case cases[] = {
      {"ascending singles", {{5, 1}, {6, 1}, {7, 1}, {9, 1}}, {{5, 8}, {9, 10}}},
      {"descending singles", {{9, 1}, {7, 1}, {6, 1}, {5, 1}}, {{5, 8}, {9, 10}}},
      {"a range bridging two", {{0, 2}, {10, 2}, {2, 8}}, {{0, 12}}},
      {"overlapping and repeated", {{100, 8}, {104, 8}, {100, 8}, {90, 1}}, {{90, 91}, {100, 112}}},
      {"a range inside another", {{0, 100}, {50, 2}}, {{0, 100}}},
      {"empty add", {{7, 0}}, {}},
  };
  for (const Case& c : cases) {
    UnreadableSectors record;
    for (auto [first, count] : c.added) record.add(first, count);
    EXPECT_EQ(record.ranges(), c.ranges) << c.name;
    std::uint64_t total = 0;
    for (const SectorRange& r : c.ranges) total += r.count();
    EXPECT_EQ(record.total(), total) << c.name;
  }
  UnreadableSectors record;
  record.add(100, 8);
  record.add(200, 4);
  EXPECT_EQ(record.countIn(96, 8), 4u);
  EXPECT_EQ(record.countIn(0, 1000), 12u);
  EXPECT_EQ(record.rangesIn(104, 100), (std::vector<SectorRange>{{104, 108}, {200, 204}}));
  EXPECT_TRUE(record.contains(107));
  EXPECT_FALSE(record.contains(108));
  EXPECT_EQ(describeSectorRanges(record.ranges()), "12 sectors: 100-107, 200-203");
  EXPECT_EQ(describeSectorRanges(record.ranges(), 1), "12 sectors: 100-107, ... (1 more ranges)");
}

// A watch sees exactly what the reader lost while it lived, nested or not;
// the reader keeps everything.
TEST(UnreadableWatch, SeesTheLossesOfItsLifetime) {
  MemorySectorSource memory(std::vector<std::byte>(200 * kSectorSize));
  FaultInjectingSource failing(memory, {3, 50, 51, 150});
  SectorReader reader(failing);
  reader.setPolicy(BadSectorPolicy::RetryAll);
  std::vector<std::byte> buffer(100 * kSectorSize);
  (void)reader.ReadSector(0, 10, buffer);
  UnreadableWatch job(reader);
  {
    UnreadableWatch file(reader);
    (void)reader.ReadSector(40, 20, buffer);
    EXPECT_EQ(file.sectors().ranges(), (std::vector<SectorRange>{{50, 52}}));
  }
  (void)reader.ReadSector(100, 100, buffer);
  EXPECT_EQ(job.sectors().ranges(), (std::vector<SectorRange>{{50, 52}, {150, 151}}));
  EXPECT_EQ(reader.unreadable().ranges(), (std::vector<SectorRange>{{3, 4}, {50, 52}, {150, 151}}));
  EXPECT_EQ(reader.lossCount(), 4u);
}

}  // namespace
}  // namespace dravolin
