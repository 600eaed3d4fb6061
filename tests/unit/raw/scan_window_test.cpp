#include "raw/scan_window.h"

#include <gtest/gtest.h>

#include "common/byte_reader.h"
#include "disk/fault_injecting_source.h"
#include "disk/memory_source.h"
#include "raw_test_support.h"

namespace dravolin {
namespace {

// Every sector holds its own number in its first four bytes.
MemorySectorSource numberedSource(std::size_t sectors) {
  auto image = test::blankImage(sectors);
  for (std::size_t s = 0; s < sectors; ++s) test::placeU32(image, s, 0, static_cast<std::uint32_t>(s));
  return MemorySectorSource(image);
}

std::uint32_t numberAt(const ScanWindow& window, SectorNumber s) { return readU32(window.from(s), 0); }

TEST(ScanWindow, ServesEverySectorWithItsSuccessorAcrossTransfers) {
  MemorySectorSource source = numberedSource(1000);
  SectorReader reader(source);
  ScanWindow window(reader, 1000, 7, 3);
  window.realign(0, 7);
  for (SectorNumber s = 0; s < 1000; ++s) {
    window.ensure(s, s, s / 7 * 7);
    ASSERT_LT(s, window.processableEnd());
    ASSERT_EQ(numberAt(window, s), s);
    if (s + 1 < 1000) {
      ASSERT_EQ(readU32(window.from(s), kSectorSize), s + 1) << "the next sector follows";
    }
  }
  EXPECT_EQ(window.processableEnd(), 1000u);
  EXPECT_EQ(window.sectorsRead(), 1000u) << "each sector read once";
}

TEST(ScanWindow, ARestartInsideCleanDataReadsNothingAgain) {
  MemorySectorSource source = numberedSource(100);
  SectorReader reader(source);
  ScanWindow window(reader, 100, 10, 2);
  window.realign(0, 10);
  window.ensure(0, 0, 0);
  EXPECT_EQ(window.sectorsRead(), 20u);
  window.ensure(18, 5, 10);  // a candidate that started at sector 4
  const std::uint64_t before = window.sectorsRead();
  window.realign(5, 10);  // the restart: blocks 5..14, 15..24, ...
  window.ensure(5, 5, 5);
  EXPECT_EQ(window.sectorsRead(), before) << "sectors 5 on are still held";
  EXPECT_EQ(numberAt(window, 5), 5u);
  window.ensure(14, 14, 5);
  EXPECT_EQ(numberAt(window, 14), 14u);
  EXPECT_EQ(numberAt(window, 15), 15u);
}

TEST(ScanWindow, ARestartOverUnreadableSectorsReadsAgainFromTheNewBlockStart) {
  MemorySectorSource memory = numberedSource(100);
  FaultInjectingSource faulty(memory, {12});
  SectorReader reader(faulty);
  reader.setPolicy(BadSectorPolicy::SkipAll);
  ScanWindow window(reader, 100, 10, 2);
  window.realign(0, 10);
  window.ensure(0, 0, 0);
  EXPECT_EQ(numberAt(window, 15), 0u) << "the block 10..19 was lost";
  const std::uint64_t generation = window.generation();
  const std::uint64_t before = window.sectorsRead();
  window.realign(3, 10);  // blocks 3..12 and 13..22: only the first is lost now
  window.ensure(3, 3, 3);
  EXPECT_GT(window.sectorsRead(), before);
  EXPECT_NE(window.generation(), generation);
  window.ensure(15, 15, 13);
  EXPECT_EQ(numberAt(window, 15), 15u) << "read again in the block that starts at 13";
  EXPECT_EQ(numberAt(window, 12), 0u);
}

TEST(ScanWindow, TheLastBlockIsShorterAndNothingPastTheEndIsHeld) {
  MemorySectorSource source = numberedSource(40);
  SectorReader reader(source);
  ScanWindow window(reader, 25, 10, 4);
  window.realign(0, 10);
  window.ensure(24, 0, 20);
  EXPECT_EQ(window.heldEnd(), 25u);
  EXPECT_EQ(window.processableEnd(), 25u);
  EXPECT_EQ(window.from(24).size(), kSectorSize);
}

}  // namespace
}  // namespace dravolin
