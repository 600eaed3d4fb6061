// The same FAT16 volume on a disk with 512-byte and with 4,096-byte logical
// sectors, behind an MBR and behind a GPT whose LBAs count the disk's own
// sectors and a boot sector whose counts are in the volume's sectors: the
// image shows its sector size, the listing and the volume check give the
// same layout in 512-byte sectors, only scaled.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "common/byte_reader.h"
#include "disk/fault_injecting_source.h"
#include "disk/logical_sector_size.h"
#include "disk/memory_source.h"
#include "disk/sector_reader.h"
#include "fat/fat_volume_check.h"
#include "partition/gpt.h"
#include "partition/partition_listing.h"

namespace dravolin {
namespace {

constexpr std::uint32_t kStartLba = 64;     // in the disk's sectors
constexpr std::uint32_t kCount = 2048;      // in the disk's sectors
constexpr std::uint32_t kReserved = 1;      // in the volume's sectors
constexpr std::uint32_t kFatSize = 3;       // in the volume's sectors
constexpr std::uint32_t kDiskSectors = kStartLba + kCount + 40;

void put16(std::vector<std::byte>& b, std::size_t at, std::uint16_t v) { writeU16(b, at, v); }
void writeU64(std::span<std::byte> b, std::size_t at, std::uint64_t v) {
  writeU32(b, at, static_cast<std::uint32_t>(v));
  writeU32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

// The disk, laid out in sectors of `size` bytes.
std::vector<std::byte> makeDisk(std::uint32_t size, bool gpt) {
  std::vector<std::byte> disk(std::size_t{kDiskSectors} * size);
  auto at = [size](std::uint64_t lba) { return static_cast<std::size_t>(lba * size); };
  // MBR: one FAT16 entry, or the protective entry.
  const std::size_t entry = 446;
  disk[entry + 4] = std::byte{static_cast<unsigned char>(gpt ? 0xEE : 0x06)};
  writeU32(disk, entry + 8, gpt ? 1 : kStartLba);
  writeU32(disk, entry + 12, gpt ? kDiskSectors - 1 : kCount);
  disk[510] = std::byte{0x55};
  disk[511] = std::byte{0xAA};
  if (gpt) {
    // One entry of 128 bytes in an array of 4 at LBA 2; the header at LBA 1.
    std::vector<std::byte> array(4 * 128);
    const std::uint8_t basic[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                    0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
    for (int i = 0; i < 16; ++i) array[static_cast<std::size_t>(i)] = std::byte{basic[i]};
    writeU64(array, 32, kStartLba);
    writeU64(array, 40, kStartLba + kCount - 1);
    std::memcpy(disk.data() + at(2), array.data(), array.size());
    std::vector<std::byte> header(92);
    std::memcpy(header.data(), "EFI PART", 8);
    writeU32(header, 8, 0x00010000);
    writeU32(header, 12, 92);
    writeU64(header, 24, 1);
    writeU64(header, 32, kDiskSectors - 1);
    writeU64(header, 40, 6);
    writeU64(header, 48, kDiskSectors - 6);
    writeU64(header, 72, 2);
    writeU32(header, 80, 4);
    writeU32(header, 84, 128);
    writeU32(header, 88, gptCrc32(array));
    writeU32(header, 16, gptCrc32(header));
    std::memcpy(disk.data() + at(1), header.data(), header.size());
  }
  // The FAT16 boot sector, in the volume's sectors (the disk's).
  std::vector<std::byte> boot(512);
  boot[0] = std::byte{0xEB};
  boot[1] = std::byte{0x3C};
  boot[2] = std::byte{0x90};
  std::memcpy(boot.data() + 3, "mkfs.fat", 8);
  put16(boot, 11, static_cast<std::uint16_t>(size));
  boot[13] = std::byte{1};                       // sectors per cluster
  put16(boot, 14, kReserved);
  boot[16] = std::byte{2};                       // FATs
  put16(boot, 17, 512);                          // root entries: 16 KiB
  put16(boot, 19, static_cast<std::uint16_t>(kCount));
  boot[21] = std::byte{0xF8};
  put16(boot, 22, kFatSize);
  std::memcpy(boot.data() + 54, "FAT16   ", 8);
  boot[510] = std::byte{0x55};
  boot[511] = std::byte{0xAA};
  std::memcpy(disk.data() + at(kStartLba), boot.data(), boot.size());
  // Both FATs start with the media byte.
  disk[at(kStartLba + kReserved)] = std::byte{0xF8};
  disk[at(kStartLba + kReserved + kFatSize)] = std::byte{0xF8};
  return disk;
}

TEST(LogicalSectorSize, TablesAndBootSectorsCountInTheDisksSectors) {
  struct Case {
    const char* what;
    std::uint32_t size;
    bool gpt;
  };
  const Case cases[] = {{"MBR, 512-byte sectors", 512, false},
                        {"MBR, 4096-byte sectors", 4096, false},
                        {"GPT, 512-byte sectors", 512, true},
                        {"GPT, 4096-byte sectors", 4096, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemorySectorSource source(makeDisk(c.size, c.gpt), true);
    // The image shows its size by its GPT header or its partition's boot sector.
    ASSERT_EQ(detectLogicalSectorSize(source), c.size);
    source.setLogicalSectorSize(c.size);
    SectorReader reader(source);
    const std::uint64_t u = c.size / 512;

    const PartitionListing listing = listPartitions(reader);
    EXPECT_EQ(listing.gpt, c.gpt);
    EXPECT_EQ(listing.logicalSectorSize, c.size);
    ASSERT_EQ(listing.partitions.size(), 1u);
    const PartitionEntry& p = listing.partitions[0];
    EXPECT_EQ(p.fileSystem, FsType::Fat16);
    EXPECT_EQ(p.start, kStartLba * u);
    EXPECT_EQ(p.end, (kStartLba + kCount) * u);
    EXPECT_FALSE(p.beyondEnd);

    auto volume = checkFatVolume(reader, FatType::Fat16, p.start);
    ASSERT_TRUE(volume) << volume.error().message;
    EXPECT_EQ(volume->FatSectors, kFatSize * u);
    EXPECT_EQ(volume->SectorsPerCluster, u);
    EXPECT_EQ(volume->ReservedSectors, kReserved * u);
    EXPECT_EQ(volume->Fat1Start, p.start + kReserved * u);
    EXPECT_EQ(volume->Fat2Start, p.start + (kReserved + kFatSize) * u);
    // 512 entries of 32 bytes: 16 KiB, 32 units on either disk.
    EXPECT_EQ(volume->RootDirSectors, 32u);
    EXPECT_EQ(volume->RootDirStart, p.start + (kReserved + 2 * kFatSize) * u);
    EXPECT_EQ(volume->ClusterBase, volume->RootDirStart + 32 - 2 * u);
  }
  // Read with the other size, neither table is found where it is.
  MemorySectorSource wrong(makeDisk(4096, true), true);
  SectorReader reader(wrong);
  EXPECT_TRUE(listPartitions(reader).partitions.empty());
}

// A failing logical sector fails its 512-byte units together: the retry of
// a failed read goes one logical sector at a time, reads the failing one
// once more (not once per unit) and loses exactly its units.
TEST(LogicalSectorSize, FailingSectorIsRetriedAndLostWhole) {
  struct Case {
    std::uint32_t size;
    SectorRange lost;
  };
  const Case cases[] = {{512, {19, 20}}, {4096, {16, 24}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    MemorySectorSource inner(64);
    inner.setLogicalSectorSize(c.size);
    FaultInjectingSource failing(inner, {19});
    SectorReader reader(failing);
    reader.setPolicy(BadSectorPolicy::RetryAll);
    std::vector<std::byte> buffer(40 * kSectorSize, std::byte{0x77});
    EXPECT_EQ(reader.ReadSector(0, 40, buffer), 0);
    ASSERT_EQ(reader.unreadable().ranges().size(), 1u);
    EXPECT_EQ(reader.unreadable().ranges()[0].start, c.lost.start);
    EXPECT_EQ(reader.unreadable().ranges()[0].end, c.lost.end);
    EXPECT_EQ(failing.readsOf(19), 2u);
    // Every other unit was read; the lost ones are zeros.
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::byte b) { return b == std::byte{0}; }));
  }
}

}  // namespace
}  // namespace dravolin
