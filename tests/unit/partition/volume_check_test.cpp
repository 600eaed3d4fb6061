#include "app/volume_check.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/byte_reader.h"
#include "disk/memory_source.h"

namespace dravolin {
namespace {

constexpr SectorNumber kStart = 100;

// The check as a commit runs it: p takes the values only when it accepts.
bool checkAsCommitted(SectorReader& reader, const std::string& type, SectorNumber start, SectorNumber end,
                      VolumeParameters& p) {
  auto checked = checkVolume(reader, fileSystemTypeFromText(type).value(), start, end, p);
  if (checked) p = *checked;
  return checked.has_value();
}

void bootSignature(std::span<std::byte> s) {
  s[510] = std::byte{0x55};
  s[511] = std::byte{0xAA};
}

// FAT16 boot sector: reserved 4, FAT size 20, cluster 4, 512 root entries.
void fat16Boot(std::span<std::byte> s, std::uint8_t cluster = 4) {
  writeU16(s, 14, 4);
  writeU16(s, 22, 20);
  s[13] = std::byte{cluster};
  writeU16(s, 17, 512);
  bootSignature(s);
}

TEST(VolumeCheckFat16, FillsTheLayoutFromTheBootSector) {
  MemorySectorSource disk(400);
  fat16Boot(disk.sector(kStart));
  disk.sector(kStart + 4 + 20)[0] = std::byte{0xF8};
  SectorReader reader(disk);
  VolumeParameters p;
  ASSERT_TRUE(checkAsCommitted(reader, "FAT16", kStart, 400, p));
  EXPECT_EQ(p.FatSectors, 20u);
  EXPECT_EQ(p.SectorsPerCluster, 4u);
  EXPECT_EQ(p.RootDirSectors, 32u);
  EXPECT_EQ(p.RootDirStart, kStart + 4 + 40);
  EXPECT_EQ(p.ClusterBase, kStart + 4 + 40 + 32 - 8);
  EXPECT_EQ(p.Fat1Start, kStart + 4);
  EXPECT_EQ(p.Fat2Start, kStart + 24);
}

TEST(VolumeCheckFat16, RejectionsLeaveTheParametersAlone) {
  struct Case {
    const char* name;
    std::uint8_t media;
    bool fat12;
    std::uint8_t cluster;
    bool accepted;
  };
  for (Case c : {Case{"F0 on FAT16", 0xF0, false, 4, false}, Case{"F0 on FAT12", 0xF0, true, 4, true},
                 Case{"F9 on FAT12", 0xF9, true, 4, true}, Case{"00 on FAT12", 0x00, true, 4, false},
                 Case{"cluster size 0", 0xF8, false, 0, false}, Case{"cluster size 3", 0xF8, false, 3, false}}) {
    MemorySectorSource disk(400);
    fat16Boot(disk.sector(kStart), c.cluster);
    disk.sector(kStart + 24)[0] = std::byte{c.media};
    SectorReader reader(disk);
    VolumeParameters p;
    p.FatSectors = 999;
    EXPECT_EQ(checkAsCommitted(reader, c.fat12 ? "FAT12" : "FAT16", kStart, 400, p), c.accepted) << c.name;
    if (!c.accepted) {
      EXPECT_EQ(p.FatSectors, 999u) << c.name;
    }
  }
}

// FAT32: reserved 32, FAT size 50, root cluster 2, cluster 8.
void fat32Boot(std::span<std::byte> s, std::uint32_t fatSize = 50) {
  writeU16(s, 14, 32);
  writeU32(s, 36, fatSize);
  writeU32(s, 44, 2);
  s[13] = std::byte{8};
  bootSignature(s);
}

TEST(VolumeCheckFat32, BackupBootSectorServesWhenTheFirstIsDamaged) {
  struct Case {
    const char* name;
    bool primaryOk;
    std::uint32_t primaryFatSize;
    bool accepted;
  };
  for (Case c : {Case{"primary good", true, 50, true}, Case{"primary blank", false, 50, true},
                 Case{"primary points at a wrong FAT", true, 70, true}}) {
    MemorySectorSource disk(400);
    if (c.primaryOk) fat32Boot(disk.sector(kStart), c.primaryFatSize);
    fat32Boot(disk.sector(kStart + 6));
    disk.sector(kStart + 32 + 50)[0] = std::byte{0xF8};
    SectorReader reader(disk);
    VolumeParameters p;
    ASSERT_EQ(checkAsCommitted(reader, "FAT32", kStart, 400, p), c.accepted) << c.name;
    EXPECT_EQ(p.FatSectors, 50u) << c.name;
    EXPECT_EQ(p.RootDirStart, 2u);
    EXPECT_EQ(p.ClusterBase, kStart + 32 + 100 - 16);
  }
  MemorySectorSource blank(400);
  SectorReader reader(blank);
  VolumeParameters p;
  EXPECT_FALSE(checkAsCommitted(reader, "FAT32", kStart, 400, p));
}

// NTFS: cluster 8, MFT at cluster 4, mirror at cluster 10, records 0xF6 (2 sectors).
void ntfsBoot(std::span<std::byte> s, std::uint8_t cluster = 8, std::uint8_t record = 0xF6) {
  std::memcpy(s.data() + 3, "NTFS    ", 8);
  s[13] = std::byte{cluster};
  writeU32(s, 48, 4);
  writeU32(s, 56, 10);
  writeU32(s, 64, record);
  writeU32(s, 68, 1);
  bootSignature(s);
}

TEST(VolumeCheckNtfs, UsesTheBackupAtTheEndWhenTheFirstIsBlankOrDamaged) {
  constexpr SectorNumber kEnd = 300;
  struct Case {
    const char* name;
    int primary;  // 0 blank, 1 good, 2 bad cluster size
    SectorNumber backupAt;
    bool accepted;
  };
  for (Case c : {Case{"good", 1, kEnd, true}, Case{"blank first", 0, kEnd, true},
                 Case{"bad cluster size", 2, kEnd, true}, Case{"backup in last sector", 0, kEnd - 1, true},
                 Case{"both blank", 0, 0, false}}) {
    MemorySectorSource disk(400);
    if (c.primary == 1) ntfsBoot(disk.sector(kStart));
    if (c.primary == 2) ntfsBoot(disk.sector(kStart), 3);
    if (c.backupAt) ntfsBoot(disk.sector(c.backupAt));
    std::memcpy(disk.sector(kStart + 32).data(), "FILE", 4);
    std::memcpy(disk.sector(kStart + 80).data(), "FILE", 4);
    SectorReader reader(disk);
    VolumeParameters p;
    ASSERT_EQ(checkAsCommitted(reader, "NTFS", kStart, kEnd, p), c.accepted) << c.name;
    if (!c.accepted) continue;
    EXPECT_EQ(p.MftStart, kStart + 32) << c.name;
    EXPECT_EQ(p.MftMirrStart, kStart + 80) << c.name;
    EXPECT_EQ(p.MftRecordSectors, 2u);
    EXPECT_EQ(p.IndexRecordSectors, 8u);
    EXPECT_EQ(p.ClusterBase, kStart);
  }
}

// The record size byte: clusters when positive, 2^-v bytes when negative
// (4,096-byte records on volumes made for 4K-sector disks).
TEST(VolumeCheckNtfs, RecordSizeComesFromTheBootSectorByte) {
  struct Case {
    std::uint8_t cluster, record;
    bool accepted;
    std::uint64_t sectors;
  };
  for (Case c : {Case{8, 0xF6, true, 2}, Case{8, 0xF4, true, 8}, Case{1, 0x04, true, 4}, Case{8, 0xF3, false, 0},
                 Case{8, 0x80, false, 0}}) {
    SCOPED_TRACE(static_cast<int>(c.record));
    MemorySectorSource disk(400);
    ntfsBoot(disk.sector(kStart), c.cluster, c.record);
    std::memcpy(disk.sector(kStart + 4 * c.cluster).data(), "FILE", 4);
    SectorReader reader(disk);
    VolumeParameters p;
    ASSERT_EQ(checkAsCommitted(reader, "NTFS", kStart, 300, p), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(p.MftRecordSectors, c.sectors);
    }
  }
}

TEST(VolumeCheckNtfs, NoMftRecordAnywhereIsRejected) {
  MemorySectorSource disk(400);
  ntfsBoot(disk.sector(kStart));
  SectorReader reader(disk);
  VolumeParameters p;
  EXPECT_FALSE(checkAsCommitted(reader, "NTFS", kStart, 300, p));
}

}  // namespace
}  // namespace dravolin
