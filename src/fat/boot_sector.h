#pragma once
// The boot sector of a FAT12, FAT16 or FAT32 volume: the BIOS parameter block
// fields the engine uses. A pure reader over a buffer the caller owns.
#include <cstdint>

#include "common/byte_reader.h"
#include "common/error.h"

namespace dravolin {

// Every sector count is in 512-byte sectors, as every sector number of the
// program is: a volume made for larger sectors (bytes per sector 1,024,
// 2,048 or 4,096, as on disks with 4,096-byte sectors) has its counts
// multiplied by bytesPerSector / 512 here, where they are read, and the
// rest of the engine never sees its own unit.
struct FatBootSector {
  bool hasSignature = false;           // 0x55 at 510 and 0xAA at 511, both
  std::uint16_t bytesPerSector = 0;    // at 11, as on disk
  std::uint32_t unitsPerSector = 1;    // 512-byte sectors in one of the volume's (1, 2, 4 or 8)
  std::uint32_t sectorsPerCluster = 0; // at 13
  std::uint32_t reservedSectors = 0;   // at 14
  std::uint8_t numberOfFats = 0;       // at 16
  std::uint16_t rootEntries = 0;       // at 17, FAT12/16
  std::uint32_t smallSectorCount = 0;  // at 19, volumes below 65,536 sectors
  std::uint8_t mediaDescriptor = 0;    // at 21
  std::uint32_t fatSectors16 = 0;      // at 22, FAT12/16: sectors per FAT
  std::uint64_t largeSectorCount = 0;  // at 32
  std::uint64_t fatSectors32 = 0;      // at 36, FAT32: sectors per FAT
  std::uint32_t rootCluster = 0;       // at 44, FAT32: first cluster of the root
  std::uint32_t backupBootSector = 0;  // at 50, FAT32: sectors from the boot sector to its backup copy

  // Sectors of the FAT12/16 root folder: its entries of 32 bytes in whole
  // sectors of the volume (rootEntries / 16 on 512-byte sectors).
  std::uint64_t rootDirectorySectors() const {
    const std::uint64_t sectorBytes = std::uint64_t{unitsPerSector} * 512;
    if (unitsPerSector == 1) return rootEntries / 16;
    return (std::uint64_t{rootEntries} * 32 + sectorBytes - 1) / sectorBytes * unitsPerSector;
  }
};

inline constexpr std::size_t kFatBootSectorSize = 512;

// The fields as they are, signature or not (the FAT32 check takes them from
// a backup copy that may have lost it). Corrupt when the buffer is shorter
// than a boot sector.
[[nodiscard]] Result<FatBootSector> readFatBootSector(ByteSpan sector);

// A boot sector a volume can be read with: NotFound without the 0x55 0xAA
// signature; Corrupt when the buffer is short or sectors per cluster is not
// one of 1, 2, 4, ..., 128 (it becomes a divisor and a loop bound).
[[nodiscard]] Result<FatBootSector> parseFatBootSector(ByteSpan sector);

}  // namespace dravolin
