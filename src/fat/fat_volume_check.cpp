#include "fat/fat_volume_check.h"

#include <string>

#include "fat/boot_sector.h"
#include "partition/volume_boot_record.h"
#include "partition/volume_check.h"

namespace dravolin {
namespace {

// FAT32 keeps a copy of its boot sector this many sectors on.
constexpr SectorNumber kFat32BackupBootSector = 6;

// The media byte that starts a FAT: the first byte of its first sector.
std::uint8_t firstFatByte(SectorReader& reader, SectorNumber sector) {
  const SectorBuffer fat = readSectorOrZeros(reader, sector);
  return static_cast<std::uint8_t>(fat[0]);
}

bool isFat12MediaByte(std::uint8_t b) { return b == 0xF0 || b >= 0xF8; }

Error mediaByteError(std::uint8_t media) {
  return Error{ErrorKind::Corrupt, "the second FAT starts with " + std::to_string(media) + ", not a media byte"};
}

// FAT12 and FAT16: boot sector, then the media byte of the second FAT.
Result<VolumeParameters> checkFat16(SectorReader& reader, bool fat12, SectorNumber start, VolumeParameters p) {
  auto boot = parseFatBootSector(readSectorOrZeros(reader, start));
  if (!boot) return std::unexpected(boot.error());
  const std::uint64_t reserved = boot->reservedSectors;
  const std::uint64_t fatSize = boot->fatSectors16;
  const std::uint64_t cluster = boot->sectorsPerCluster;
  const std::uint8_t media = firstFatByte(reader, start + reserved + fatSize);
  if (fat12 ? !isFat12MediaByte(media) : media != 0xF8) return std::unexpected(mediaByteError(media));
  const std::uint64_t rootSectors = boot->rootDirectorySectors();
  p.FatSectors = fatSize;
  p.SectorsPerCluster = cluster;
  p.RootDirSectors = rootSectors;
  p.RootDirStart = start + reserved + 2 * fatSize;
  p.ReservedSectors = reserved;
  p.ClusterBase = start + reserved + 2 * fatSize + rootSectors - 2 * cluster;
  p.Fat1Start = start + reserved;
  p.Fat2Start = start + reserved + fatSize;
  return p;
}

// FAT32: the boot sector or its backup; when the second FAT the values
// point to does not start with 0xF8, the values of the backup are tried
// (also when the backup has lost its signature).
Result<VolumeParameters> checkFat32(SectorReader& reader, SectorNumber start, VolumeParameters p) {
  // Counted in the volume's sectors, which are the disk's.
  const SectorNumber backup = start + kFat32BackupBootSector * reader.source().unitsPerLogicalSector();
  SectorBuffer sector = readSectorOrZeros(reader, start);
  if (!hasBootSectorSignature(sector)) {
    sector = readSectorOrZeros(reader, backup);
    if (!hasBootSectorSignature(sector))
      return makeError(ErrorKind::NotFound, "FAT boot sector: no 0x55 0xAA signature, nor on its backup");
  }
  auto boot = readFatBootSector(sector);
  if (!boot) return std::unexpected(boot.error());
  auto secondFat = [&] { return start + boot->reservedSectors + std::uint64_t{boot->fatSectors32}; };
  if (const std::uint8_t media = firstFatByte(reader, secondFat()); media != 0xF8) {
    boot = readFatBootSector(readSectorOrZeros(reader, backup));
    if (!boot) return std::unexpected(boot.error());
    if (const std::uint8_t again = firstFatByte(reader, secondFat()); again != 0xF8)
      return std::unexpected(mediaByteError(again));
  }
  if (!isValidClusterSize(boot->sectorsPerCluster))
    return makeError(ErrorKind::Corrupt,
                     "FAT boot sector: impossible sectors per cluster " + std::to_string(boot->sectorsPerCluster));
  const std::uint64_t reserved = boot->reservedSectors;
  const std::uint64_t fatSize = boot->fatSectors32;
  const std::uint64_t cluster = boot->sectorsPerCluster;
  p.FatSectors = fatSize;
  p.SectorsPerCluster = cluster;
  p.RootDirSectors = 0;
  p.RootDirStart = boot->rootCluster;
  p.ReservedSectors = reserved;
  p.ClusterBase = start + reserved + 2 * fatSize - 2 * cluster;
  p.Fat1Start = start + reserved;
  p.Fat2Start = start + reserved + fatSize;
  return p;
}

}  // namespace

Result<VolumeParameters> checkFatVolume(SectorReader& reader, FatType type, SectorNumber start,
                                        const VolumeParameters& base) {
  switch (type) {
    case FatType::Fat12: return checkFat16(reader, true, start, base);
    case FatType::Fat16: return checkFat16(reader, false, start, base);
    case FatType::Fat32: return checkFat32(reader, start, base);
  }
  return makeError(ErrorKind::InvalidArgument, "not a FAT type");
}

}  // namespace dravolin
