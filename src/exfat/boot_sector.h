#pragma once
// The exFAT boot sector and the checksum of the boot region. The main boot
// region is sectors 0-11 of the volume (boot sector, eight extended boot
// sectors, OEM parameters, a reserved sector, then a sector filled with the
// checksum of sectors 0-10); the backup region repeats it at sectors 12-23.
// Sector here means the volume's own sector (BytesPerSectorShift).
#include <cstdint>
#include <span>

#include "common/byte_reader.h"
#include "common/error.h"

namespace dravolin {

inline constexpr std::size_t kExfatNameOffset = 3;          // "EXFAT   "
inline constexpr std::size_t kExfatPartitionOffset = 64;    // u64
inline constexpr std::size_t kExfatVolumeLength = 72;       // u64, volume sectors
inline constexpr std::size_t kExfatFatOffset = 80;          // u32, volume sectors
inline constexpr std::size_t kExfatFatLength = 84;          // u32
inline constexpr std::size_t kExfatClusterHeapOffset = 88;  // u32
inline constexpr std::size_t kExfatClusterCount = 92;       // u32
inline constexpr std::size_t kExfatRootCluster = 96;        // u32
inline constexpr std::size_t kExfatSerialNumber = 100;      // u32
inline constexpr std::size_t kExfatRevision = 104;          // u16
inline constexpr std::size_t kExfatVolumeFlags = 106;       // u16
inline constexpr std::size_t kExfatBytesPerSectorShift = 108;
inline constexpr std::size_t kExfatSectorsPerClusterShift = 109;
inline constexpr std::size_t kExfatNumberOfFats = 110;
inline constexpr std::size_t kExfatPercentInUse = 112;
inline constexpr std::size_t kExfatBootSignature = 510;     // 0x55 0xAA
inline constexpr std::size_t kExfatBootRegionSectors = 12;  // main region; the backup follows
inline constexpr std::size_t kExfatChecksumSector = 11;

// The values of a valid boot sector. Lengths and offsets are in the
// volume's own sectors; the derived values in 512-byte units come from
// sectorUnits().
struct ExfatBootSector {
  std::uint64_t partitionOffset = 0;
  std::uint64_t volumeLength = 0;
  std::uint32_t fatOffset = 0;
  std::uint32_t fatLength = 0;
  std::uint32_t clusterHeapOffset = 0;
  std::uint32_t clusterCount = 0;
  std::uint32_t rootCluster = 0;
  std::uint32_t serialNumber = 0;
  std::uint16_t volumeFlags = 0;
  std::uint8_t bytesPerSectorShift = 9;     // 9..12
  std::uint8_t sectorsPerClusterShift = 0;  // bytesPerSectorShift + this <= 25
  std::uint8_t numberOfFats = 1;            // 1 or 2
  std::uint32_t bytesPerSector() const { return 1u << bytesPerSectorShift; }
  // 512-byte units in one of the volume's sectors (1..8).
  std::uint32_t sectorUnits() const { return bytesPerSector() / 512; }
  std::uint64_t clusterBytes() const { return std::uint64_t{1} << (bytesPerSectorShift + sectorsPerClusterShift); }
  // 512-byte units in a cluster.
  std::uint64_t sectorsPerCluster() const { return clusterBytes() / 512; }
  bool activeFatIsSecond() const { return (volumeFlags & 1) != 0 && numberOfFats == 2; }
};

// True when the sector carries the name "EXFAT   " at offset 3.
bool hasExfatName(ByteSpan sector);

// The boot sector's values. NotFound without the name or the 0x55 0xAA
// signature; Corrupt, with the offset and value, when a field is out of its
// legal range (shifts, FAT count, the FAT and heap outside the volume, the
// root outside the heap).
[[nodiscard]] Result<ExfatBootSector> parseExfatBootSector(ByteSpan sector);

// The checksum of sectors 0-10 of a boot region (bytesPerSector each),
// leaving out VolumeFlags and PercentInUse of sector 0, which change while
// the volume is in use.
std::uint32_t exfatBootChecksum(ByteSpan firstElevenSectors, std::uint32_t bytesPerSector);

// True when every 32-bit word of the checksum sector equals the checksum of
// the region's first eleven sectors. region holds the twelve sectors.
bool hasValidBootChecksum(ByteSpan region, std::uint32_t bytesPerSector);

}  // namespace dravolin
