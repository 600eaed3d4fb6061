#include "fat/boot_sector.h"

#include <string>

#include "partition/volume_boot_record.h"
#include "partition/volume_check.h"

namespace dravolin {
namespace {

constexpr std::size_t kBytesPerSectorField = 11;
constexpr std::size_t kSectorsPerClusterField = 13;
constexpr std::size_t kReservedSectorsField = 14;
constexpr std::size_t kNumberOfFatsField = 16;
constexpr std::size_t kRootEntriesField = 17;
constexpr std::size_t kSmallSectorCountField = 19;
constexpr std::size_t kMediaDescriptorField = 21;
constexpr std::size_t kFatSectors16Field = 22;
constexpr std::size_t kLargeSectorCountField = 32;
constexpr std::size_t kFatSectors32Field = 36;
constexpr std::size_t kRootClusterField = 44;
constexpr std::size_t kBackupBootSectorField = 50;

}  // namespace

Result<FatBootSector> readFatBootSector(ByteSpan sector) {
  if (sector.size() < kFatBootSectorSize)
    return makeError(ErrorKind::Corrupt, "FAT boot sector: " + std::to_string(sector.size()) + " bytes, " +
                                             std::to_string(kFatBootSectorSize) + " needed");
  FatBootSector boot;
  boot.hasSignature = hasBootSectorSignature(sector);
  boot.bytesPerSector = readU16(sector, kBytesPerSectorField);
  boot.sectorsPerCluster = readU8(sector, kSectorsPerClusterField);
  boot.reservedSectors = readU16(sector, kReservedSectorsField);
  boot.numberOfFats = readU8(sector, kNumberOfFatsField);
  boot.rootEntries = readU16(sector, kRootEntriesField);
  boot.smallSectorCount = readU16(sector, kSmallSectorCountField);
  boot.mediaDescriptor = readU8(sector, kMediaDescriptorField);
  boot.fatSectors16 = readU16(sector, kFatSectors16Field);
  boot.largeSectorCount = readU32(sector, kLargeSectorCountField);
  boot.fatSectors32 = readU32(sector, kFatSectors32Field);
  boot.rootCluster = readU32(sector, kRootClusterField);
  boot.backupBootSector = readU16(sector, kBackupBootSectorField);
  // Volumes made for larger sectors: their counts in 512-byte sectors. A
  // field of 0 or another value (a blank or damaged field) counts as 512,
  // as the engine always took it.
  if (boot.bytesPerSector > 512 && boot.bytesPerSector <= 4096 && (boot.bytesPerSector & (boot.bytesPerSector - 1)) == 0) {
    const std::uint32_t units = boot.bytesPerSector / 512;
    boot.unitsPerSector = units;
    boot.sectorsPerCluster *= units;
    boot.reservedSectors *= units;
    boot.smallSectorCount *= units;
    boot.fatSectors16 *= units;
    boot.largeSectorCount *= units;
    boot.fatSectors32 *= units;
    boot.backupBootSector *= units;
  }
  return boot;
}

Result<FatBootSector> parseFatBootSector(ByteSpan sector) {
  auto boot = readFatBootSector(sector);
  if (!boot) return boot;
  if (!boot->hasSignature) return makeError(ErrorKind::NotFound, "FAT boot sector: no 0x55 0xAA signature");
  if (!isValidClusterSize(boot->sectorsPerCluster))
    return makeError(ErrorKind::Corrupt,
                     "FAT boot sector: impossible sectors per cluster " + std::to_string(boot->sectorsPerCluster));
  return boot;
}

}  // namespace dravolin
