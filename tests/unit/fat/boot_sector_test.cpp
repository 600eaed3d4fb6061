#include "fat/boot_sector.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace dravolin {
namespace {

// The first 64 bytes of the boot sector mkfs.fat wrote for the fat16.img
// fixture, and its signature; the rest of the sector is boot code (zeros here).
std::vector<std::byte> fat16BootSector() {
  const std::array<std::uint8_t, 64> head = {
      0xEB, 0x3C, 0x90,                                // jump
      'm',  'k',  'f',  's',  '.',  'f',  'a',  't',   // OEM id
      0x00, 0x02,                                      // 11: bytes per sector 512
      0x04,                                            // 13: sectors per cluster
      0x04, 0x00,                                      // 14: reserved sectors
      0x02,                                            // 16: number of FATs
      0x00, 0x02,                                      // 17: root entries 512
      0x00, 0x00,                                      // 19: small sector count (0: see 32)
      0xF8,                                            // 21: media descriptor
      0x40, 0x00,                                      // 22: sectors per FAT 64
      0x20, 0x00, 0x04, 0x00,                          // sectors per track, heads
      0x00, 0x00, 0x00, 0x00,                          // hidden sectors
      0x00, 0x00, 0x01, 0x00,                          // 32: large sector count 65,536
      0x80, 0x00, 0x29, 0x01, 0x00, 0x16, 0x0F,        // drive, boot signature, serial
      'F',  'A',  'T',  '1',  '6',  ' ',  'V',  'O',  'L', ' ', ' ',  // label
      'F',  'A',  'T',  '1',  '6',  ' ',  ' ',  ' ',   // type text
      0x0E, 0x1F};
  std::vector<std::byte> sector(512);
  for (std::size_t i = 0; i < head.size(); ++i) sector[i] = std::byte{head[i]};
  sector[510] = std::byte{0x55};
  sector[511] = std::byte{0xAA};
  return sector;
}

// The same fields of a FAT32 boot sector: sectors per FAT and root cluster
// come from their own 32-bit fields.
std::vector<std::byte> fat32BootSector() {
  auto sector = fat16BootSector();
  sector[13] = std::byte{8};
  sector[22] = sector[23] = std::byte{0};
  writeU32(sector, 36, 1009);
  writeU32(sector, 44, 2);
  return sector;
}

TEST(FatBootSector, ReadsTheFieldsOrSaysWhyNot) {
  using Damage = std::function<void(std::vector<std::byte>&)>;
  struct Case {
    const char* name;
    std::vector<std::byte> (*make)();
    Damage damage;
    std::optional<ErrorKind> error;  // nothing: accepted
  };
  const Case cases[] = {
      {"FAT16 as mkfs.fat writes it", fat16BootSector, {}, std::nullopt},
      {"FAT32 fields", fat32BootSector, {}, std::nullopt},
      {"0x55 lost", fat16BootSector, [](auto& s) { s[510] = std::byte{0}; }, ErrorKind::NotFound},
      {"0xAA lost", fat16BootSector, [](auto& s) { s[511] = std::byte{0}; }, ErrorKind::NotFound},
      {"no sectors per cluster", fat16BootSector, [](auto& s) { s[13] = std::byte{0}; }, ErrorKind::Corrupt},
      {"3 sectors per cluster", fat16BootSector, [](auto& s) { s[13] = std::byte{3}; }, ErrorKind::Corrupt},
      {"FAT32 with 255 sectors per cluster", fat32BootSector, [](auto& s) { s[13] = std::byte{255}; },
       ErrorKind::Corrupt},
      {"cut short before the signature", fat16BootSector, [](auto& s) { s.resize(511); }, ErrorKind::Corrupt},
      {"empty buffer", fat16BootSector, [](auto& s) { s.clear(); }, ErrorKind::Corrupt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto sector = c.make();
    if (c.damage) c.damage(sector);
    auto boot = parseFatBootSector(sector);
    if (c.error) {
      ASSERT_FALSE(boot);
      EXPECT_EQ(boot.error().kind, *c.error);
      EXPECT_FALSE(boot.error().message.empty());
      continue;
    }
    ASSERT_TRUE(boot) << boot.error().message;
    EXPECT_TRUE(boot->hasSignature);
    EXPECT_EQ(boot->bytesPerSector, 512u);
    EXPECT_EQ(boot->reservedSectors, 4u);
    EXPECT_EQ(boot->numberOfFats, 2u);
    EXPECT_EQ(boot->rootEntries, 512u);
    EXPECT_EQ(boot->smallSectorCount, 0u);
    EXPECT_EQ(boot->mediaDescriptor, 0xF8u);
    EXPECT_EQ(boot->largeSectorCount, 65536u);
    if (c.make == fat16BootSector) {
      EXPECT_EQ(boot->sectorsPerCluster, 4u);
      EXPECT_EQ(boot->fatSectors16, 64u);
    } else {
      EXPECT_EQ(boot->sectorsPerCluster, 8u);
      EXPECT_EQ(boot->fatSectors16, 0u);
      EXPECT_EQ(boot->fatSectors32, 1009u);
      EXPECT_EQ(boot->rootCluster, 2u);
    }
  }
  // A copy without its signature still gives its fields to the plain read,
  // which the FAT32 check uses on the backup copy.
  auto unsigned16 = fat16BootSector();
  unsigned16[511] = std::byte{0};
  auto fields = readFatBootSector(unsigned16);
  ASSERT_TRUE(fields);
  EXPECT_FALSE(fields->hasSignature);
  EXPECT_EQ(fields->fatSectors16, 64u);
}

}  // namespace
}  // namespace dravolin
