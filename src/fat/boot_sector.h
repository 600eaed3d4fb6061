#pragma once
// The boot sector of a FAT12, FAT16 or FAT32 volume: the BIOS parameter block
// fields the engine uses. A pure reader over a buffer the caller owns.
#include <cstdint>

#include "common/byte_reader.h"
#include "common/error.h"

namespace dravolin {

struct FatBootSector {
  bool hasSignature = false;           // 0x55 at 510 and 0xAA at 511, both
  std::uint16_t bytesPerSector = 0;    // at 11
  std::uint8_t sectorsPerCluster = 0;  // at 13
  std::uint16_t reservedSectors = 0;   // at 14
  std::uint8_t numberOfFats = 0;       // at 16
  std::uint16_t rootEntries = 0;       // at 17, FAT12/16
  std::uint16_t smallSectorCount = 0;  // at 19, volumes below 65,536 sectors
  std::uint8_t mediaDescriptor = 0;    // at 21
  std::uint16_t fatSectors16 = 0;      // at 22, FAT12/16: sectors per FAT
  std::uint32_t largeSectorCount = 0;  // at 32
  std::uint32_t fatSectors32 = 0;      // at 36, FAT32: sectors per FAT
  std::uint32_t rootCluster = 0;       // at 44, FAT32: first cluster of the root
  std::uint16_t backupBootSector = 0;  // at 50, FAT32: sectors from the boot sector to its backup copy
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
