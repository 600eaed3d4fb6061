#include "partition/volume_check.h"

#include <array>

#include "partition/mbr.h"

namespace dravolin {
namespace {

bool isFat12MediaByte(std::uint8_t b) { return b == 0xF0 || b >= 0xF8; }

// FAT12 and FAT16: boot sector, then the media byte of the second FAT.
bool checkFat16(SectorReader& reader, bool fat12, SectorNumber start, VolumeParameters& p) {
  SectorBuffer boot = readSectorOrZeros(reader, start);
  if (!hasBootSectorSignature(boot)) return false;
  std::uint64_t reserved = readU16(boot, 14);
  std::uint64_t fatSize = readU16(boot, 22);
  std::uint64_t cluster = readU8(boot, 13);
  std::uint64_t rootEntries = readU16(boot, 17);
  // A cluster size of 0 would become a divisor later on.
  if (!isValidClusterSize(cluster)) return false;
  SectorBuffer fat2 = readSectorOrZeros(reader, start + reserved + fatSize);
  std::uint8_t media = readU8(fat2, 0);
  if (fat12 ? !isFat12MediaByte(media) : media != 0xF8) return false;
  std::uint64_t rootSectors = rootEntries / 16;
  p.FatSectors = fatSize;
  p.SectorsPerCluster = cluster;
  p.RootDirSectors = rootSectors;
  p.RootDirStart = start + reserved + 2 * fatSize;
  p.ReservedSectors = reserved;
  p.ClusterBase = start + reserved + 2 * fatSize + rootSectors - 2 * cluster;
  p.Fat1Start = start + reserved;
  p.Fat2Start = start + reserved + fatSize;
  return true;
}

bool checkFat32(SectorReader& reader, SectorNumber start, VolumeParameters& p) {
  SectorBuffer boot = readSectorOrZeros(reader, start);
  if (!hasBootSectorSignature(boot)) {
    boot = readSectorOrZeros(reader, start + 6);
    if (!hasBootSectorSignature(boot)) return false;
  }
  auto take = [](const SectorBuffer& b, std::uint64_t& reserved, std::uint64_t& fatSize,
                 std::uint64_t& root, std::uint64_t& cluster) {
    reserved = readU16(b, 14);
    fatSize = readU32(b, 36);
    root = readU32(b, 44);
    cluster = readU8(b, 13);
  };
  std::uint64_t reserved = 0, fatSize = 0, root = 0, cluster = 0;
  take(boot, reserved, fatSize, root, cluster);
  if (readU8(readSectorOrZeros(reader, start + reserved + fatSize), 0) != 0xF8) {
    take(readSectorOrZeros(reader, start + 6), reserved, fatSize, root, cluster);
    if (readU8(readSectorOrZeros(reader, start + reserved + fatSize), 0) != 0xF8) return false;
  }
  if (!isValidClusterSize(cluster)) return false;
  p.FatSectors = fatSize;
  p.SectorsPerCluster = cluster;
  p.RootDirSectors = 0;
  p.RootDirStart = root;
  p.ReservedSectors = reserved;
  p.ClusterBase = start + reserved + 2 * fatSize - 2 * cluster;
  p.Fat1Start = start + reserved;
  p.Fat2Start = start + reserved + fatSize;
  return true;
}

// Sectors of an MFT record (or index buffer) from its boot-sector byte: a
// positive value counts clusters, a negative value v means 2^-v bytes
// (0xF6: 1,024 bytes; 0xF4: 4,096 bytes on volumes made for 4K-sector disks).
std::uint64_t recordSectors(std::int8_t v, std::uint64_t cluster) {
  if (v >= 0) return static_cast<std::uint64_t>(v) * cluster;
  const int shift = -v;
  if (shift < 9 || shift > 16) return 0;
  return (std::uint64_t{1} << shift) / 512;
}

std::uint64_t mftRecordSectors(const SectorBuffer& boot, std::uint64_t cluster) {
  return recordSectors(static_cast<std::int8_t>(readU8(boot, 64)), cluster);
}

bool checkNtfs(SectorReader& reader, SectorNumber start, SectorNumber end, VolumeParameters& p) {
  SectorNumber inUse = start;
  SectorBuffer boot = readSectorOrZeros(reader, start);
  // The backup boot sector is looked for at the end sector; NTFS keeps it in
  // the last sector of the volume, so the sector before the end is tried too.
  SectorNumber backup = end;
  if (!hasBootSectorSignature(readSectorOrZeros(reader, end)) && end > start + 1 &&
      hasBootSectorSignature(readSectorOrZeros(reader, end - 1)))
    backup = end - 1;
  if (!hasBootSectorSignature(boot)) {
    inUse = backup;
    boot = readSectorOrZeros(reader, backup);
    if (!hasBootSectorSignature(boot)) return false;
  }
  auto switchCopy = [&] {
    inUse = inUse == start ? backup : start;
    boot = readSectorOrZeros(reader, inUse);
  };
  auto clusterOk = [&] { return isValidClusterSize(readU8(boot, 13)); };
  auto recordOk = [&] {
    std::uint64_t r = mftRecordSectors(boot, readU8(boot, 13));
    return r == 2 || r == 4 || r == 6 || r == 8;
  };
  if (!clusterOk()) {
    switchCopy();
    if (!clusterOk()) return false;
  }
  if (!recordOk()) {
    switchCopy();
    if (!clusterOk() || !recordOk()) return false;
  }
  const std::uint64_t cluster = readU8(boot, 13);
  const SectorBuffer other = readSectorOrZeros(reader, inUse == start ? backup : start);
  auto locate = [&](std::size_t offset) -> SectorNumber {
    const SectorBuffer* copies[] = {&boot, &other};
    for (const SectorBuffer* copy : copies) {
      std::uint64_t clusterNumber = readU64(*copy, offset);
      std::uint64_t otherCluster = readU8(*copy, 13);
      if (copy == &other && !isValidClusterSize(otherCluster)) continue;
      std::uint64_t multiplier = copy == &boot ? cluster : otherCluster;
      if (clusterNumber > (UINT64_MAX - start) / multiplier) continue;
      SectorNumber sector = start + clusterNumber * multiplier;
      if (matchesAscii(readSectorOrZeros(reader, sector), 0, "FILE")) return sector;
    }
    return 0;
  };
  SectorNumber mft = locate(48);
  SectorNumber mirror = locate(56);
  if (mft == 0 && mirror == 0) return false;
  const auto index = static_cast<std::int8_t>(readU8(boot, 68));
  p.SectorsPerCluster = cluster;
  p.ClusterBase = start;
  p.MftStart = mft;
  p.MftMirrStart = mirror;
  p.MftRecordSectors = mftRecordSectors(boot, cluster);
  p.IndexRecordSectors = recordSectors(index, cluster);
  return true;
}

}  // namespace

bool isValidClusterSize(std::uint64_t n) { return n >= 1 && n <= 128 && (n & (n - 1)) == 0; }

bool checkVolume(SectorReader& reader, const std::string& fileSystem, SectorNumber start,
                 SectorNumber end, VolumeParameters& parameters) {
  VolumeParameters result = parameters;
  bool accepted = false;
  if (fileSystem == "FAT16") accepted = checkFat16(reader, false, start, result);
  else if (fileSystem == "FAT12") accepted = checkFat16(reader, true, start, result);
  else if (fileSystem == "FAT32") accepted = checkFat32(reader, start, result);
  else if (fileSystem == "NTFS") accepted = checkNtfs(reader, start, end, result);
  if (accepted) parameters = result;
  return accepted;
}

}  // namespace dravolin
