#include "partition/mbr.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace dravolin {
namespace {

// Sector 0 of the mbr.img fixture as sfdisk wrote it: a FAT16 and a FAT32
// primary, an extended partition, one slot unused, and the signature.
std::vector<std::byte> fixtureMbr() {
  const std::array<std::uint8_t, 66> table = {
      // status, CHS first, type, CHS last, first sector, sector count
      0x00, 0x20, 0x21, 0x00, 0x06, 0x2A, 0x28, 0x02, 0x00, 0x08, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00,
      0x00, 0x2A, 0x29, 0x02, 0x0C, 0x43, 0x3C, 0x07, 0x00, 0x88, 0x00, 0x00, 0x00, 0x40, 0x01, 0x00,
      0x00, 0x43, 0x3D, 0x07, 0x05, 0xBE, 0x32, 0x0C, 0x00, 0xC8, 0x01, 0x00, 0x00, 0x58, 0x01, 0x00,
      0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
      0x55, 0xAA};
  std::vector<std::byte> sector(512);
  for (std::size_t i = 0; i < table.size(); ++i) sector[kPartitionTableOffset + i] = std::byte{table[i]};
  return sector;
}

TEST(PartitionRecord, ReadsTheUsedEntriesOrSaysWhyNot) {
  using Entries = std::vector<PartitionRecordEntry>;
  const PartitionRecordEntry fat16{0x00, 0x06, 2048, 32768};
  const PartitionRecordEntry fat32{0x00, 0x0C, 34816, 81920};
  const PartitionRecordEntry extended{0x00, 0x05, 116736, 88064};
  struct Case {
    const char* name;
    std::function<void(std::vector<std::byte>&)> damage;
    std::optional<Entries> entries;  // nothing: Corrupt
  };
  const Case cases[] = {
      {"as sfdisk writes it", {}, Entries{fat16, fat32, extended}},
      // An extended boot record is walked without its signature.
      {"signature lost", [](auto& s) { s[510] = s[511] = std::byte{0}; }, Entries{fat16, fat32, extended}},
      {"second slot emptied", [](auto& s) { s[kPartitionTableOffset + 16 + 4] = std::byte{0}; },
       Entries{fat16, extended}},
      {"active flag on the first", [](auto& s) { s[kPartitionTableOffset] = std::byte{0x80}; },
       Entries{{0x80, 0x06, 2048, 32768}, fat32, extended}},
      {"cut inside the last entry", [](auto& s) { s.resize(kPartitionTableOffset + 63); }, std::nullopt},
      {"empty buffer", [](auto& s) { s.clear(); }, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto sector = fixtureMbr();
    if (c.damage) c.damage(sector);
    auto record = parsePartitionRecord(sector);
    if (!c.entries) {
      ASSERT_FALSE(record);
      EXPECT_EQ(record.error().kind, ErrorKind::Corrupt);
      continue;
    }
    ASSERT_TRUE(record) << record.error().message;
    ASSERT_EQ(record->size(), c.entries->size());
    for (std::size_t i = 0; i < record->size(); ++i) {
      EXPECT_EQ((*record)[i].bootIndicator, (*c.entries)[i].bootIndicator) << i;
      EXPECT_EQ((*record)[i].type, (*c.entries)[i].type) << i;
      EXPECT_EQ((*record)[i].firstSector, (*c.entries)[i].firstSector) << i;
      EXPECT_EQ((*record)[i].sectorCount, (*c.entries)[i].sectorCount) << i;
    }
  }
  // A single entry: an unused slot is not found, a short one is corrupt.
  const auto sector = fixtureMbr();
  const auto slots = std::span(sector).subspan(kPartitionTableOffset);
  EXPECT_EQ(parsePartitionEntry(slots.subspan(48, 16)).error().kind, ErrorKind::NotFound);
  EXPECT_EQ(parsePartitionEntry(slots.subspan(0, 15)).error().kind, ErrorKind::Corrupt);
  EXPECT_EQ(parsePartitionEntry(slots.subspan(16, 16))->firstSector, 34816u);
}

}  // namespace
}  // namespace dravolin
