#include "ntfs/boot_sector.h"

#include <bit>

#include "partition/volume_boot_record.h"

namespace dravolin {
namespace {

// A size at 0x40 or 0x44: a positive value counts clusters, a negative value
// v means 2^-v bytes (4,096-byte records on volumes made for 4K-sector disks).
std::uint64_t decodeClustersOrShift(std::int8_t value, std::uint64_t cluster_size) {
  if (value > 0) return static_cast<std::uint64_t>(value) * cluster_size;
  if (value < 0 && value >= -31) return std::uint64_t{1} << (-value);
  return 0;
}

bool isSaneRecordSize(std::uint64_t size) {
  return size >= 512 && size <= kNtfsMaxRecordSize && std::has_single_bit(size);
}

}  // namespace

bool looksLikeNtfsBootSector(ByteSpan sector) {
  return hasBootSectorSignature(sector) && matchesAscii(sector, 3, "NTFS");
}

Result<NtfsBootSector> parseNtfsBootSector(ByteSpan sector) {
  if (sector.size() < 512 || !matchesAscii(sector, 3, "NTFS    "))
    return makeError(ErrorKind::NotFound, "not an NTFS boot sector");
  NtfsBootSector boot;
  boot.bytes_per_sector = readU16(sector, 0x0B);
  if (boot.bytes_per_sector < 256 || boot.bytes_per_sector > 4096 ||
      !std::has_single_bit(boot.bytes_per_sector))
    return makeError(ErrorKind::NotFound, "NTFS boot sector: bad bytes per sector");
  // Values above 128 mean 2^(256 - v) sectors, used for clusters above 64 KiB.
  const std::uint8_t raw_spc = readU8(sector, 0x0D);
  if (raw_spc == 0) return makeError(ErrorKind::NotFound, "NTFS boot sector: no sectors per cluster");
  if (raw_spc <= 128) {
    boot.sectors_per_cluster = raw_spc;
  } else {
    const unsigned shift = 256u - raw_spc;
    if (shift > 20) return makeError(ErrorKind::NotFound, "NTFS boot sector: bad sectors per cluster");
    boot.sectors_per_cluster = std::uint64_t{1} << shift;
  }
  if (!std::has_single_bit(boot.sectors_per_cluster))
    return makeError(ErrorKind::NotFound, "NTFS boot sector: bad sectors per cluster");
  boot.cluster_size = boot.sectors_per_cluster * boot.bytes_per_sector;
  if (boot.cluster_size > kNtfsMaxClusterSize)
    return makeError(ErrorKind::NotFound, "NTFS boot sector: cluster too large");
  boot.total_sectors = readU64(sector, 0x28);
  boot.mft_cluster = readU64(sector, 0x30);
  boot.mft_mirror_cluster = readU64(sector, 0x38);
  const auto record = decodeClustersOrShift(static_cast<std::int8_t>(readU8(sector, 0x40)), boot.cluster_size);
  const auto index = decodeClustersOrShift(static_cast<std::int8_t>(readU8(sector, 0x44)), boot.cluster_size);
  if (!isSaneRecordSize(record))
    return makeError(ErrorKind::NotFound, "NTFS boot sector: bad MFT record size");
  if (!isSaneRecordSize(index))
    return makeError(ErrorKind::NotFound, "NTFS boot sector: bad index buffer size");
  boot.record_size = static_cast<std::uint32_t>(record);
  boot.index_buffer_size = static_cast<std::uint32_t>(index);
  return boot;
}

Result<NtfsGeometry> makeNtfsGeometry(const NtfsBootSector& boot, std::uint64_t partition_start) {
  if (boot.cluster_size < 512 || boot.cluster_size % 512 != 0)
    return makeError(ErrorKind::NotFound, "NTFS cluster smaller than a device sector");
  NtfsGeometry geometry;
  geometry.partition_start = partition_start;
  geometry.cluster_size = boot.cluster_size;
  geometry.record_size = boot.record_size;
  geometry.mft_cluster = boot.mft_cluster;
  return geometry;
}

}  // namespace dravolin
