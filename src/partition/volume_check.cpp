#include "partition/volume_check.h"

#include <array>

#include "partition/volume_boot_record.h"

namespace dravolin {
namespace {

std::uint64_t mftRecordSectors(const SectorBuffer& boot, std::uint64_t cluster) {
  std::uint32_t v = readU32(boot, 64);
  return v == 0xF6 ? 2 : std::uint64_t{v} * cluster;
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
  std::uint32_t index = readU32(boot, 68);
  p.SectorsPerCluster = cluster;
  p.ClusterBase = start;
  p.MftStart = mft;
  p.MftMirrStart = mirror;
  p.MftRecordSectors = mftRecordSectors(boot, cluster);
  p.IndexRecordSectors = index == 0xF4 ? 8 : std::uint64_t{index} * cluster;
  return true;
}

}  // namespace

bool isValidClusterSize(std::uint64_t n) { return n >= 1 && n <= 128 && (n & (n - 1)) == 0; }

Result<VolumeParameters> checkNtfsVolume(SectorReader& reader, SectorNumber start, SectorNumber end,
                                         const VolumeParameters& base) {
  VolumeParameters result = base;
  if (!checkNtfs(reader, start, end, result))
    return makeError(ErrorKind::Corrupt, "NTFS boot sector or MFT not valid");
  return result;
}

}  // namespace dravolin
