#include "ntfs/ntfs_volume.h"

#include <array>

namespace dravolin {
namespace {

std::optional<NtfsGeometry> geometryAt(SectorReader& reader, SectorNumber sector, std::uint64_t partitionStart) {
  std::array<std::byte, kSectorSize> bytes{};
  if (!reader.ReadSector(sector, 1, bytes)) return std::nullopt;
  auto boot = parseNtfsBootSector(bytes);
  if (!boot) return std::nullopt;
  auto geometry = makeNtfsGeometry(*boot, partitionStart);
  if (!geometry) return std::nullopt;
  return *geometry;
}

}  // namespace

Result<NtfsGeometry> readNtfsGeometry(SectorReader& reader, const VolumeParameters& parameters,
                                      std::uint64_t partitionStart, std::uint64_t partitionEnd) {
  if (auto geometry = geometryAt(reader, partitionStart, partitionStart)) return *geometry;
  if (partitionEnd > partitionStart + 1) {
    if (auto geometry = geometryAt(reader, partitionEnd - 1, partitionStart)) return *geometry;
    if (auto geometry = geometryAt(reader, partitionEnd, partitionStart)) return *geometry;
  }
  const std::uint64_t spc = parameters.SectorsPerCluster;
  if (spc == 0 || spc > kNtfsMaxClusterSize / kSectorSize || parameters.MftStart < partitionStart)
    return makeError(ErrorKind::NotFound, "no NTFS boot sector and no usable volume parameters");
  NtfsGeometry geometry;
  geometry.partition_start = partitionStart;
  geometry.cluster_size = spc * kSectorSize;
  const std::uint64_t recordSectors = parameters.MftRecordSectors ? parameters.MftRecordSectors : 2;
  if (recordSectors > kNtfsMaxRecordSize / kSectorSize)
    return makeError(ErrorKind::NotFound, "MFT record size out of range");
  geometry.record_size = static_cast<std::uint32_t>(recordSectors * kSectorSize);
  geometry.mft_cluster = (parameters.MftStart - partitionStart) / spc;
  return geometry;
}

std::optional<NtfsGeometry> geometryAtParameterMft(const NtfsGeometry& geometry, const VolumeParameters& parameters) {
  const std::uint64_t spc = geometry.sectorsPerCluster();
  if (spc == 0 || parameters.MftStart < geometry.partition_start) return std::nullopt;
  const std::uint64_t offset = parameters.MftStart - geometry.partition_start;
  if (offset % spc != 0 || offset / spc == geometry.mft_cluster) return std::nullopt;
  NtfsGeometry moved = geometry;
  moved.mft_cluster = offset / spc;
  return moved;
}

}  // namespace dravolin
