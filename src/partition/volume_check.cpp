#include "partition/volume_check.h"

#include <array>
#include <optional>

#include "partition/volume_boot_record.h"

namespace dravolin {
namespace {

// The fields of a boot sector copy (a whole sector always holds them).
VolumeBootRecord fieldsOf(const SectorBuffer& sector) {
  return parseVolumeBootRecord(sector).value_or(VolumeBootRecord{});
}

// Sectors of an MFT record (or index buffer) from its boot-sector byte: a
// positive value counts clusters, a negative value v means 2^-v bytes
// (0xF6: 1,024 bytes; 0xF4: 4,096 bytes on volumes made for 4K-sector disks).
// Only the low byte of the field counts; the three bytes after it are unused.
std::uint64_t recordSectors(std::uint32_t field, std::uint64_t cluster) {
  const auto v = static_cast<std::int8_t>(field & 0xFF);
  if (v >= 0) return static_cast<std::uint64_t>(v) * cluster;
  const int shift = -v;
  if (shift < 9 || shift > 16) return 0;
  return (std::uint64_t{1} << shift) / 512;
}

std::uint64_t mftRecordSectors(const VolumeBootRecord& boot, std::uint64_t cluster) {
  return recordSectors(boot.ntfsMftRecordSize, cluster);
}

// The cluster of an NTFS boot sector in 512-byte sectors, or 0 when its
// fields are out of their legal ranges. Bytes per sector (at 11) is 512,
// 1,024, 2,048 or 4,096; the cluster byte (at 13) counts sectors when it is
// 1 to 128 (a power of two) and, read as a signed byte v of -8 to -12,
// gives 2^-v sectors (0xF8: 256 sectors, 128 KiB clusters of 512-byte
// sectors), up to 2 MiB. A cluster below 512 bytes is not addressable in device sectors.
std::uint64_t ntfsClusterSectors(const SectorBuffer& sector) {
  std::uint32_t bytesPerSector =
      std::to_integer<std::uint32_t>(sector[11]) | (std::to_integer<std::uint32_t>(sector[12]) << 8);
  if (bytesPerSector == 0) bytesPerSector = 512;  // a field left blank, as the check always took it
  if (bytesPerSector < 512 || bytesPerSector > 4096 || (bytesPerSector & (bytesPerSector - 1)) != 0) return 0;
  const auto field = std::to_integer<std::uint8_t>(sector[13]);
  std::uint64_t bytes = 0;
  if (field >= 1 && field <= 128) {
    if ((field & (field - 1)) != 0) return 0;
    bytes = std::uint64_t{field} * bytesPerSector;
  } else {
    const int shift = -static_cast<int>(static_cast<std::int8_t>(field));
    if (shift < 8 || shift > 12) return 0;
    bytes = (std::uint64_t{1} << shift) * bytesPerSector;
  }
  if (bytes > (std::uint64_t{2} << 20)) return 0;
  return bytes / 512;
}

// The parameters p with the NTFS fields of the volume, or nothing when its
// boot sectors or MFT do not make a volume.
std::optional<VolumeParameters> checkNtfs(SectorReader& reader, SectorNumber start, SectorNumber end,
                                          VolumeParameters p) {
  SectorNumber inUse = start;
  SectorBuffer sector = readSectorOrZeros(reader, start);
  // The backup boot sector is looked for at the end sector; NTFS keeps it in
  // the last sector of the volume, so the sector before the end is tried too.
  SectorNumber backup = end;
  if (!hasBootSectorSignature(readSectorOrZeros(reader, end)) && end > start + 1 &&
      hasBootSectorSignature(readSectorOrZeros(reader, end - 1)))
    backup = end - 1;
  if (!hasBootSectorSignature(sector)) {
    inUse = backup;
    sector = readSectorOrZeros(reader, backup);
    if (!hasBootSectorSignature(sector)) return std::nullopt;
  }
  VolumeBootRecord boot = fieldsOf(sector);
  std::uint64_t bootCluster = ntfsClusterSectors(sector);
  auto switchCopy = [&] {
    inUse = inUse == start ? backup : start;
    const SectorBuffer copy = readSectorOrZeros(reader, inUse);
    boot = fieldsOf(copy);
    bootCluster = ntfsClusterSectors(copy);
  };
  auto clusterOk = [&] { return bootCluster != 0; };
  auto recordOk = [&] {
    std::uint64_t r = mftRecordSectors(boot, bootCluster);
    return r == 2 || r == 4 || r == 6 || r == 8;
  };
  if (!clusterOk()) {
    switchCopy();
    if (!clusterOk()) return std::nullopt;
  }
  if (!recordOk()) {
    switchCopy();
    if (!clusterOk() || !recordOk()) return std::nullopt;
  }
  const std::uint64_t cluster = bootCluster;
  const SectorBuffer otherSector = readSectorOrZeros(reader, inUse == start ? backup : start);
  const VolumeBootRecord other = fieldsOf(otherSector);
  const std::uint64_t otherCluster = ntfsClusterSectors(otherSector);
  // The MFT (or its mirror) where the copy in use says, else where the other
  // copy says; the sector found must hold a "FILE" record.
  auto locate = [&](std::uint64_t VolumeBootRecord::*field) -> SectorNumber {
    const VolumeBootRecord* copies[] = {&boot, &other};
    for (const VolumeBootRecord* copy : copies) {
      std::uint64_t clusterNumber = copy->*field;
      if (copy == &other && otherCluster == 0) continue;
      std::uint64_t multiplier = copy == &boot ? cluster : otherCluster;
      if (clusterNumber > (UINT64_MAX - start) / multiplier) continue;
      SectorNumber at = start + clusterNumber * multiplier;
      if (matchesAscii(readSectorOrZeros(reader, at), 0, "FILE")) return at;
    }
    return 0;
  };
  SectorNumber mft = locate(&VolumeBootRecord::ntfsMftCluster);
  SectorNumber mirror = locate(&VolumeBootRecord::ntfsMftMirrorCluster);
  if (mft == 0 && mirror == 0) return std::nullopt;
  const std::uint32_t index = boot.ntfsIndexRecordSize;
  p.SectorsPerCluster = cluster;
  p.ClusterBase = start;
  p.MftStart = mft;
  p.MftMirrStart = mirror;
  p.MftRecordSectors = mftRecordSectors(boot, cluster);
  p.IndexRecordSectors = recordSectors(index, cluster);
  return p;
}

}  // namespace

bool isValidClusterSize(std::uint64_t n) { return n >= 1 && n <= 128 && (n & (n - 1)) == 0; }

Result<VolumeParameters> checkNtfsVolume(SectorReader& reader, SectorNumber start, SectorNumber end,
                                         const VolumeParameters& base) {
  std::optional<VolumeParameters> result = checkNtfs(reader, start, end, base);
  if (!result) return makeError(ErrorKind::Corrupt, "NTFS boot sector or MFT not valid");
  return *result;
}

}  // namespace dravolin
