#include "exfat/boot_sector.h"

#include <string>

namespace dravolin {
namespace {

Error corrupt(std::size_t offset, const std::string& what, std::uint64_t value) {
  char where[16];
  std::snprintf(where, sizeof where, "0x%zx", offset);
  return Error{ErrorKind::Corrupt, "exFAT boot sector: offset " + std::string(where) + ": " + what + " " +
                                       std::to_string(value)};
}

}  // namespace

bool hasExfatName(ByteSpan sector) { return matchesAscii(sector, kExfatNameOffset, "EXFAT   "); }

Result<ExfatBootSector> parseExfatBootSector(ByteSpan sector) {
  if (!fitsIn(sector, 0, 512) || !hasExfatName(sector))
    return makeError(ErrorKind::NotFound, "exFAT boot sector: no \"EXFAT   \" name");
  if (readU8(sector, kExfatBootSignature) != 0x55 || readU8(sector, kExfatBootSignature + 1) != 0xAA)
    return makeError(ErrorKind::NotFound, "exFAT boot sector: no 0x55 0xAA signature");
  ExfatBootSector b;
  b.partitionOffset = readU64(sector, kExfatPartitionOffset);
  b.volumeLength = readU64(sector, kExfatVolumeLength);
  b.fatOffset = readU32(sector, kExfatFatOffset);
  b.fatLength = readU32(sector, kExfatFatLength);
  b.clusterHeapOffset = readU32(sector, kExfatClusterHeapOffset);
  b.clusterCount = readU32(sector, kExfatClusterCount);
  b.rootCluster = readU32(sector, kExfatRootCluster);
  b.serialNumber = readU32(sector, kExfatSerialNumber);
  b.volumeFlags = readU16(sector, kExfatVolumeFlags);
  b.bytesPerSectorShift = readU8(sector, kExfatBytesPerSectorShift);
  b.sectorsPerClusterShift = readU8(sector, kExfatSectorsPerClusterShift);
  b.numberOfFats = readU8(sector, kExfatNumberOfFats);
  if (b.bytesPerSectorShift < 9 || b.bytesPerSectorShift > 12)
    return std::unexpected(corrupt(kExfatBytesPerSectorShift, "bytes per sector shift", b.bytesPerSectorShift));
  if (b.sectorsPerClusterShift > 25 - b.bytesPerSectorShift)
    return std::unexpected(
        corrupt(kExfatSectorsPerClusterShift, "sectors per cluster shift", b.sectorsPerClusterShift));
  if (b.numberOfFats != 1 && b.numberOfFats != 2)
    return std::unexpected(corrupt(kExfatNumberOfFats, "number of FATs", b.numberOfFats));
  if (b.fatOffset < 24) return std::unexpected(corrupt(kExfatFatOffset, "FAT offset", b.fatOffset));
  if (b.fatLength == 0) return std::unexpected(corrupt(kExfatFatLength, "FAT length", b.fatLength));
  const std::uint64_t fatsEnd = std::uint64_t{b.fatOffset} + std::uint64_t{b.fatLength} * b.numberOfFats;
  if (b.clusterHeapOffset < fatsEnd)
    return std::unexpected(corrupt(kExfatClusterHeapOffset, "cluster heap offset", b.clusterHeapOffset));
  if (b.clusterCount == 0 || b.clusterCount > 0xFFFFFFF5u)
    return std::unexpected(corrupt(kExfatClusterCount, "cluster count", b.clusterCount));
  // The FAT holds an entry for every cluster and the two reserved ones.
  if ((std::uint64_t{b.clusterCount} + 2) * 4 > (std::uint64_t{b.fatLength} << b.bytesPerSectorShift))
    return std::unexpected(corrupt(kExfatFatLength, "FAT length too small for the clusters", b.fatLength));
  const std::uint64_t heapSectors = std::uint64_t{b.clusterCount} << b.sectorsPerClusterShift;
  if (b.volumeLength < b.clusterHeapOffset || b.volumeLength - b.clusterHeapOffset < heapSectors)
    return std::unexpected(corrupt(kExfatVolumeLength, "volume length", b.volumeLength));
  if (b.rootCluster < 2 || b.rootCluster - 2 >= b.clusterCount)
    return std::unexpected(corrupt(kExfatRootCluster, "root cluster", b.rootCluster));
  return b;
}

std::uint32_t exfatBootChecksum(ByteSpan sectors, std::uint32_t bytesPerSector) {
  const std::size_t length = std::min<std::size_t>(sectors.size(), std::size_t{bytesPerSector} * 11);
  std::uint32_t checksum = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (i == kExfatVolumeFlags || i == kExfatVolumeFlags + 1 || i == kExfatPercentInUse) continue;
    checksum = ((checksum & 1) ? 0x80000000u : 0u) + (checksum >> 1) + static_cast<std::uint8_t>(sectors[i]);
  }
  return checksum;
}

bool hasValidBootChecksum(ByteSpan region, std::uint32_t bytesPerSector) {
  const std::size_t at = std::size_t{bytesPerSector} * kExfatChecksumSector;
  if (!fitsIn(region, at, bytesPerSector)) return false;
  const std::uint32_t expected = exfatBootChecksum(region.first(at), bytesPerSector);
  for (std::size_t i = 0; i < bytesPerSector; i += 4)
    if (readU32(region, at + i) != expected) return false;
  return true;
}

}  // namespace dravolin
