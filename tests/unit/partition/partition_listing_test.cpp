#include "partition/partition_listing.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/byte_reader.h"
#include "disk/memory_source.h"
#include "partition/mbr.h"

namespace dravolin {
namespace {

// Builds disks sector by sector: partition records and boot sectors.
class DiskBuilder {
 public:
  explicit DiskBuilder(std::size_t sectors) : source_(sectors) {}

  // One entry of the partition record at `sector`.
  DiskBuilder& entry(SectorNumber sector, int slot, std::uint8_t type, std::uint32_t first, std::uint32_t count) {
    auto s = source_.sector(sector);
    std::size_t at = kPartitionTableOffset + static_cast<std::size_t>(slot) * kPartitionEntrySize;
    s[at + 4] = std::byte{type};
    writeU32(s, at + 8, first);
    writeU32(s, at + 12, count);
    return signature(sector);
  }
  DiskBuilder& signature(SectorNumber sector, std::uint8_t b510 = 0x55, std::uint8_t b511 = 0xAA) {
    auto s = source_.sector(sector);
    s[510] = std::byte{b510};
    s[511] = std::byte{b511};
    return *this;
  }
  DiskBuilder& text(SectorNumber sector, std::size_t offset, const char* t) {
    std::memcpy(source_.sector(sector).data() + offset, t, std::strlen(t));
    return *this;
  }
  MemorySectorSource& source() { return source_; }

 private:
  MemorySectorSource source_;
};

std::vector<std::string> labels(const PartitionListing& l) {
  std::vector<std::string> out;
  for (const auto& p : l.partitions)
    out.push_back(p.label() + " " + std::to_string(p.start) + "-" + std::to_string(p.end));
  return out;
}

TEST(PartitionListing, PrimariesIdentifiedByBootSectorBeforeTypeByte) {
  DiskBuilder d(400);
  d.entry(0, 0, 0x07, 10, 50).text(10, 82, "FAT32");   // type says NTFS, boot sector says FAT32
  d.entry(0, 1, 0x0B, 60, 50);                         // unreadable/blank: FAT32 by type byte
  d.entry(0, 2, 0x01, 120, 10);                        // 0x01 primary: not listed
  d.entry(0, 3, 0x83, 140, 10).text(140, 3, "NTFS");   // Linux type, NTFS boot sector
  SectorReader reader(d.source());
  auto listing = listPartitions(reader);
  EXPECT_EQ(labels(listing), (std::vector<std::string>{"Partition - 1 ( FAT32 ) 10-60", "Partition - 2 ( FAT32 ) 60-110",
                                                       "Partition - 3 ( NTFS ) 140-150"}));
}

// Type 0x07 holds NTFS, exFAT or BitLocker: the OEM name decides; the
// partitions of file systems no search reads are listed by name, not
// searchable.
TEST(PartitionListing, OemNameAndTypeByteNameWhatIsNotNtfs) {
  struct Case {
    const char* name;
    std::uint8_t type;
    const char* oem;  // at offset 3, or nullptr
    const char* label;
    bool searchable;
  };
  const std::vector<Case> cases = {
      {"exFAT in 0x07", 0x07, "EXFAT   ", "Partition - 1 ( exFAT )", true},
      {"BitLocker in 0x07", 0x07, "-FVE-FS-", "Partition - 1 ( BitLocker )", false},
      {"blank 0x07 stays NTFS", 0x07, nullptr, "Partition - 1 ( NTFS )", true},
      {"Linux", 0x83, nullptr, "Partition - 1 ( Linux )", false},
      {"Linux swap", 0x82, nullptr, "Partition - 1 ( Linux swap )", false},
      {"exFAT in a Linux entry", 0x83, "EXFAT   ", "Partition - 1 ( exFAT )", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DiskBuilder d(100);
    d.entry(0, 0, c.type, 10, 50);
    if (c.oem) d.text(10, 3, c.oem);
    SectorReader reader(d.source());
    const auto listing = listPartitions(reader);
    ASSERT_EQ(listing.partitions.size(), 1u);
    EXPECT_EQ(listing.partitions[0].label(), c.label);
    EXPECT_EQ(listing.partitions[0].searchable(), c.searchable);
  }
}

TEST(PartitionListing, SignatureNeedsOnlyOneOfTheTwoBytes) {
  for (auto [b510, b511, listed] : {std::tuple{0x55, 0x00, true}, std::tuple{0x00, 0xAA, true},
                                    std::tuple{0x00, 0x00, false}}) {
    DiskBuilder d(100);
    d.entry(0, 0, 0x06, 10, 20).signature(0, static_cast<std::uint8_t>(b510), static_cast<std::uint8_t>(b511));
    SectorReader reader(d.source());
    EXPECT_EQ(listPartitions(reader).partitions.size(), listed ? 1u : 0u) << b510 << " " << b511;
  }
}

TEST(PartitionListing, LogicalPartitionsFollowTheChainRelativeToTheExtendedBase) {
  // Extended base X = 100. EBR1 at 100: logical at 100+10, link 50 -> EBR2
  // at X+50 = 150 (not 100+50+...): logical at 150+5. Type 0x01 is FAT16 here.
  DiskBuilder d(400);
  d.entry(0, 0, 0x06, 1, 50);
  d.entry(0, 1, 0x0F, 100, 200);
  d.entry(100, 0, 0x01, 10, 30);
  d.entry(100, 1, 0x05, 50, 100);
  d.entry(150, 0, 0x07, 5, 40).text(155, 3, "NTFS");
  SectorReader reader(d.source());
  auto listing = listPartitions(reader);
  EXPECT_EQ(labels(listing), (std::vector<std::string>{"Partition - 1 ( FAT16 ) 1-51", "Partition - 2 ( FAT16 ) 110-140",
                                                       "Partition - 3 ( NTFS ) 155-195"}));
  EXPECT_TRUE(listing.partitions[1].logical);
}

TEST(PartitionListing, ChainLoopsEndTheWalk) {
  struct Case {
    const char* name;
    std::uint32_t link;  // link of the second EBR
    std::size_t expected;
  };
  for (Case c : {Case{"back to first", 0, 2}, Case{"to itself", 50, 2}}) {
    DiskBuilder d(400);
    d.entry(0, 0, 0x05, 100, 200);
    d.entry(100, 0, 0x06, 10, 10);
    d.entry(100, 1, 0x05, 50, 100);
    d.entry(150, 0, 0x06, 10, 10);
    d.entry(150, 1, 0x05, c.link, 100);
    SectorReader reader(d.source());
    EXPECT_EQ(listPartitions(reader).partitions.size(), c.expected) << c.name;
  }
}

TEST(PartitionListing, ChainStopsAtTwentySixPartitions) {
  DiskBuilder d(2000);
  d.entry(0, 0, 0x05, 100, 1800);
  for (std::uint32_t i = 0; i < 40; ++i) {
    SectorNumber ebr = 100 + i * 20;
    d.entry(ebr, 0, 0x06, 1, 10);
    d.entry(ebr, 1, 0x05, (i + 1) * 20, 20);
  }
  SectorReader reader(d.source());
  EXPECT_EQ(listPartitions(reader).partitions.size(), kMaxPartitions);
}

TEST(PartitionListing, VolumeWithoutTableIsOnePartitionFromSectorZero) {
  struct Case {
    const char* text;
    std::size_t offset;
    const char* type;
    std::uint32_t total32;
    std::uint16_t total16;
    std::uint64_t end;
  };
  for (Case c : {Case{"FAT16   ", 54, "FAT16", 70000, 0, 70000}, Case{"FAT32   ", 82, "FAT32", 140000, 0, 140000},
                 Case{"FAT12   ", 54, "FAT12", 0, 2880, 2880}}) {
    DiskBuilder d(10);
    d.signature(0).text(0, c.offset, c.text);
    writeU32(d.source().sector(0), 32, c.total32);
    writeU16(d.source().sector(0), 19, c.total16);
    SectorReader reader(d.source());
    auto listing = listPartitions(reader);
    ASSERT_EQ(listing.partitions.size(), 1u) << c.type;
    EXPECT_TRUE(listing.wholeVolume);
    EXPECT_EQ(listing.partitions[0].label(), std::string("Partition - 1 ( ") + c.type + " )");
    EXPECT_EQ(listing.partitions[0].start, 0u);
    EXPECT_EQ(listing.partitions[0].end, c.end);
  }
}

TEST(PartitionListing, ProtectiveMbrIsFlagged) {
  DiskBuilder d(100);
  d.entry(0, 0, 0xEE, 1, 99).text(1, 0, "EFI PART");
  SectorReader reader(d.source());
  auto listing = listPartitions(reader);
  EXPECT_TRUE(listing.protectiveMbr);
  EXPECT_TRUE(listing.partitions.empty());
}

TEST(PartitionPie, LastSliceTakesTheRest) {
  std::vector<PartitionEntry> parts(3);
  parts[0].start = 0, parts[0].end = 2048 * 33;  // 33 %
  parts[1].start = 0, parts[1].end = 2048 * 33;
  parts[2].start = 0, parts[2].end = 2048 * 10;
  EXPECT_EQ(partitionPieSlices(parts, 2048ULL * 100 * 512), (std::vector<int>{33, 33, 34}));
  EXPECT_EQ(partitionPieSlices({parts[0]}, 1000), (std::vector<int>{100}));
}

}  // namespace
}  // namespace dravolin
