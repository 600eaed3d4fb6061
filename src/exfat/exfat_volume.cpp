#include "exfat/exfat_volume.h"

#include <algorithm>

#include "disk/unreadable_sectors.h"

namespace dravolin {
namespace {

// FAT sectors read at a time.
constexpr std::uint64_t kFatBlockSectors = 256;

std::vector<std::byte> readRegion(SectorReader& reader, SectorNumber first, std::uint32_t sectors) {
  std::vector<std::byte> bytes(std::size_t{sectors} * kSectorSize);
  reader.ReadSector(first, sectors, bytes);
  return bytes;
}

}  // namespace

Result<ExfatGeometry> geometryFromBootRegion(ByteSpan region, SectorNumber start) {
  auto boot = parseExfatBootSector(region);
  if (!boot) return std::unexpected(boot.error());
  if (!hasValidBootChecksum(region, boot->bytesPerSector()))
    return makeError(ErrorKind::Corrupt, "exFAT boot region: the checksum of sectors 0-10 does not match sector 11");
  ExfatGeometry g;
  g.boot = *boot;
  g.start = start;
  const std::uint64_t units = boot->sectorUnits();
  g.end = start + boot->volumeLength * units;
  const std::uint64_t activeFat = boot->activeFatIsSecond() ? boot->fatLength : 0;
  g.fatStart = start + (std::uint64_t{boot->fatOffset} + activeFat) * units;
  g.heapStart = start + std::uint64_t{boot->clusterHeapOffset} * units;
  g.sectorsPerCluster = boot->sectorsPerCluster();
  g.clusterCount = boot->clusterCount;
  return g;
}

Result<ExfatGeometry> readExfatGeometry(SectorReader& reader, SectorNumber start) {
  // The region's sector size comes from its own boot sector; the backup
  // lies twelve of those sectors on, so each legal size is tried for it.
  const SectorBuffer first = readSectorOrZeros(reader, start);
  Error mainError{ErrorKind::NotFound, "exFAT boot sector: no \"EXFAT   \" name"};
  if (auto boot = parseExfatBootSector(first)) {
    const std::uint32_t units = boot->sectorUnits();
    auto region = readRegion(reader, start, static_cast<std::uint32_t>(kExfatBootRegionSectors * units));
    auto geometry = geometryFromBootRegion(region, start);
    if (geometry) return geometry;
    mainError = geometry.error();
  } else {
    mainError = boot.error();
  }
  for (std::uint32_t units : {1u, 2u, 4u, 8u}) {
    const SectorNumber backup = start + kExfatBootRegionSectors * units;
    auto boot = parseExfatBootSector(readSectorOrZeros(reader, backup));
    if (!boot || boot->sectorUnits() != units) continue;
    auto region = readRegion(reader, backup, static_cast<std::uint32_t>(kExfatBootRegionSectors * units));
    auto geometry = geometryFromBootRegion(region, start);
    if (geometry) {
      geometry->fromBackup = true;
      return geometry;
    }
  }
  return std::unexpected(mainError);
}

Result<VolumeParameters> checkExfatVolume(SectorReader& reader, SectorNumber start, const VolumeParameters& base) {
  auto g = readExfatGeometry(reader, start);
  if (!g) return std::unexpected(g.error());
  const std::uint64_t units = g->boot.sectorUnits();
  VolumeParameters p = base;
  p.SectorsPerCluster = g->sectorsPerCluster;
  p.FatSectors = std::uint64_t{g->boot.fatLength} * units;
  p.ReservedSectors = std::uint64_t{g->boot.fatOffset} * units;
  p.Fat1Start = start + p.ReservedSectors;
  p.Fat2Start = g->boot.numberOfFats == 2 ? p.Fat1Start + p.FatSectors : 0;
  p.RootDirSectors = 0;
  p.RootDirStart = g->boot.rootCluster;
  p.ClusterBase = g->heapStart - 2 * g->sectorsPerCluster;
  return p;
}

std::optional<ExfatGeometry> exfatGeometryOf(SectorReader& reader, const VolumeParameters& parameters) {
  if (parameters.Fat1Start < parameters.ReservedSectors) return std::nullopt;
  auto g = readExfatGeometry(reader, parameters.Fat1Start - parameters.ReservedSectors);
  if (!g) return std::nullopt;
  return *g;
}

std::optional<std::uint32_t> ExfatVolume::fatEntry(std::uint32_t cluster) {
  const std::uint64_t byte = std::uint64_t{cluster} * 4;
  const std::uint64_t sector = byte / kSectorSize;
  const std::uint64_t fatSectors = std::uint64_t{geometry_.boot.fatLength} * geometry_.boot.sectorUnits();
  if (sector >= fatSectors) return std::nullopt;
  const std::uint64_t block = sector / kFatBlockSectors;
  auto it = fatBlocks_.find(block);
  if (it == fatBlocks_.end()) {
    const std::uint64_t firstSector = block * kFatBlockSectors;
    const auto count = static_cast<std::uint32_t>(std::min(kFatBlockSectors, fatSectors - firstSector));
    UnreadableWatch watch(reader_);
    auto bytes = readRegion(reader_, geometry_.fatStart + firstSector, count);
    std::vector<bool> lost(count, false);
    for (std::uint32_t i = 0; i < count; ++i) lost[i] = watch.sectors().contains(geometry_.fatStart + firstSector + i);
    fatLost_.emplace(block, std::move(lost));
    it = fatBlocks_.emplace(block, std::move(bytes)).first;
  }
  const std::uint64_t inBlock = sector - block * kFatBlockSectors;
  if (fatLost_[block][inBlock]) return std::nullopt;
  return readU32(it->second, static_cast<std::size_t>(byte - block * kFatBlockSectors * kSectorSize));
}

ExfatChain ExfatVolume::chain(std::uint32_t first, std::uint64_t maxClusters) {
  return followExfatChain([this](std::uint32_t c) { return fatEntry(c); }, first, geometry_.clusterCount,
                          maxClusters == 0 ? geometry_.clusterCount : maxClusters);
}

std::vector<std::uint32_t> ExfatVolume::streamClusters(std::uint32_t first, std::uint64_t length, bool noFatChain) {
  const std::uint64_t clusterBytes = geometry_.clusterBytes();
  const std::uint64_t needed = length == 0 ? 0 : (length + clusterBytes - 1) / clusterBytes;
  if (noFatChain) return contiguousExfatClusters(first, needed, geometry_.clusterCount);
  return chain(first, needed).clusters;
}

void ExfatVolume::readClusters(std::span<const std::uint32_t> clusters, std::span<std::byte> out) {
  const std::uint64_t clusterBytes = geometry_.clusterBytes();
  std::size_t i = 0;
  while (i < clusters.size()) {
    // Consecutive clusters are read in one transfer.
    std::size_t run = 1;
    while (i + run < clusters.size() && clusters[i + run] == clusters[i] + run && run < 4096) ++run;
    auto piece = out.subspan(i * clusterBytes, run * clusterBytes);
    const SectorNumber first = geometry_.clusterSector(clusters[i]);
    const std::uint64_t sectors = run * geometry_.sectorsPerCluster;
    if (first >= geometry_.end) {
      std::fill(piece.begin(), piece.end(), std::byte{0});
    } else {
      const std::uint64_t inside = std::min(sectors, geometry_.end - first);
      reader_.ReadSector(first, static_cast<std::uint32_t>(inside), piece);
      std::fill(piece.begin() + static_cast<std::ptrdiff_t>(inside * kSectorSize), piece.end(), std::byte{0});
    }
    i += run;
  }
}

}  // namespace dravolin
