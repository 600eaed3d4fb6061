#include "raw/scan_window.h"

#include <gtest/gtest.h>

#include "common/byte_reader.h"
#include "disk/fault_injecting_source.h"
#include "disk/file_source.h"
#include "disk/memory_source.h"
#include "raw_test_support.h"
#include "support/test_support.h"

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

// An image file in memory is held in place, whole, only when every call of
// the scan would be served whole from it: not past the selection's end
// guard, not over a partial last sector. Held so, it serves what reading
// serves, with nothing read.
TEST(ScanWindow, AnImageFileInMemoryIsHeldInPlaceOnlyWhenEveryReadWouldBeServedWhole) {
  test::TempDir dir;
  MemorySectorSource numbered = numberedSource(1000);
  std::vector<std::byte> bytes(1000 * kSectorSize);
  ASSERT_EQ(numbered.read(0, 1000, bytes), TransferStatus::Ok);
  const std::string whole(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  struct Case {
    const char* name;
    std::size_t fileBytes;
    std::int64_t selectionEnd;
    bool inPlace;
  };
  const Case cases[] = {
      {"the whole file", whole.size(), 0, true},
      {"the selection ends at the last sector", whole.size(), 999, true},
      {"the selection ends before", whole.size(), 900, false},
      {"a partial last sector", whole.size() - 100, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = dir / "image.img";
    test::writeFile(path, whole.substr(0, c.fileBytes));  // just written: in memory
    auto file = FileSectorSource::open(path.string(), OpenMode::ReadOnly, true);
    ASSERT_TRUE(file.has_value());
    SectorReader reader(**file);
    reader.setSelectionEnd(c.selectionEnd);
    ScanWindow window(reader, 1000, 7, 3);
    EXPECT_EQ(window.holdInPlace(10), c.inPlace);
    window.realign(10, 7);
    for (SectorNumber s = 10; s < 890; s += 97) {  // within every selection
      window.ensure(s, s, s);
      ASSERT_EQ(numberAt(window, s), s);
    }
    EXPECT_EQ(window.sectorsRead() == 0, c.inPlace);
  }
}

}  // namespace
}  // namespace dravolin
