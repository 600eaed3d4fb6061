#pragma once
// The first sector of a volume as the partition listing and the NTFS volume
// check read it, whatever the file system: the OEM id, the file-system type
// texts of FAT boot sectors, the sector counts, the NTFS layout fields and
// the 0x55 0xAA signature. The file systems'
// own readers (fat/boot_sector.h, ntfs/boot_sector.h) decode the rest.
#include <cstdint>
#include <string>

#include "common/byte_reader.h"
#include "common/error.h"

namespace dravolin {

struct VolumeBootRecord {
  bool hasSignature = false;            // 0x55 at 510 and 0xAA at 511, both
  std::string oemId;                    // 8 bytes at 3 ("NTFS    ", "mkfs.fat", ...)
  std::uint16_t bytesPerSector = 0;     // at 11: 512 .. 4,096
  std::uint8_t sectorsPerCluster = 0;   // at 13
  std::uint16_t smallSectorCount = 0;   // at 19: FAT volumes below 65,536 sectors
  std::uint32_t fatSectorCount = 0;     // at 32: the 32-bit total of FAT volumes
  std::uint32_t ntfsSectorCount = 0;    // at 40: the low 32 bits of the NTFS total
  std::string fat16TypeText;            // 8 bytes at 54: "FAT12   " or "FAT16   " on FAT12/16
  std::string fat32TypeText;            // 8 bytes at 82: "FAT32   " on FAT32
  // The NTFS fields of the volume check, as they are on disk.
  std::uint64_t ntfsMftCluster = 0;        // at 48
  std::uint64_t ntfsMftMirrorCluster = 0;  // at 56
  std::uint32_t ntfsMftRecordSize = 0;     // at 64: clusters per record, or 0xF6 for 1,024 bytes
  std::uint32_t ntfsIndexRecordSize = 0;   // at 68: clusters per index record, or 0xF4 for 4,096 bytes
};

inline constexpr std::size_t kVolumeBootRecordSize = 512;

// Reads the fields as they are; text fields keep every byte (also zeros).
// Corrupt when the buffer is shorter than a sector.
[[nodiscard]] Result<VolumeBootRecord> parseVolumeBootRecord(ByteSpan sector);

// True only when both signature bytes are there (boot sectors of volumes).
bool hasBootSectorSignature(ByteSpan sector);

}  // namespace dravolin
