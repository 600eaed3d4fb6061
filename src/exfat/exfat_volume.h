#pragma once
// An exFAT volume on a sector reader: the boot region (the backup at +12
// used when the main one fails its checksum), the volume check that turns
// it into the volume parameters, and the I/O the search and the saving
// share: FAT entries, cluster reads, the allocation bitmap.
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "common/error.h"
#include "disk/sector_reader.h"
#include "exfat/boot_sector.h"
#include "exfat/fat_table.h"
#include "partition/volume_parameters.h"

namespace dravolin {

// Where the parts of a volume lie, in 512-byte sectors of the disk.
struct ExfatGeometry {
  ExfatBootSector boot;
  SectorNumber start = 0;          // the boot sector
  SectorNumber end = 0;            // one past the volume's last sector
  SectorNumber fatStart = 0;       // the active FAT
  SectorNumber heapStart = 0;      // cluster 2
  std::uint64_t sectorsPerCluster = 0;
  std::uint32_t clusterCount = 0;
  bool fromBackup = false;         // the backup boot region was used
  std::uint64_t clusterBytes() const { return sectorsPerCluster * kSectorSize; }
  SectorNumber clusterSector(std::uint32_t cluster) const {
    return heapStart + std::uint64_t{cluster - kExfatFirstCluster} * sectorsPerCluster;
  }
};

// The geometry from a boot region's twelve sectors (region holds them at
// the volume's bytes per sector). Corrupt when the checksum fails.
[[nodiscard]] Result<ExfatGeometry> geometryFromBootRegion(ByteSpan region, SectorNumber start);

// Reads the main boot region at start, else the backup region after it.
[[nodiscard]] Result<ExfatGeometry> readExfatGeometry(SectorReader& reader, SectorNumber start);

// The volume check of an exFAT selection: base with the layout fields set
// (SectorsPerCluster, Fat1Start/Fat2Start, FatSectors, ReservedSectors: the
// FAT offset, so that the start is Fat1Start - ReservedSectors, ClusterBase:
// the sector of the virtual cluster 0, RootDirStart: the root cluster).
[[nodiscard]] Result<VolumeParameters> checkExfatVolume(SectorReader& reader, SectorNumber start,
                                                        const VolumeParameters& base = {});

// The volume a committed selection names (its start is Fat1Start -
// ReservedSectors); nothing when its boot region cannot be read.
std::optional<ExfatGeometry> exfatGeometryOf(SectorReader& reader, const VolumeParameters& parameters);

class ExfatVolume {
 public:
  ExfatVolume(SectorReader& reader, ExfatGeometry geometry) : reader_(reader), geometry_(geometry) {}
  const ExfatGeometry& geometry() const { return geometry_; }
  SectorReader& reader() { return reader_; }

  // The FAT entry of a cluster; nothing when its FAT sector stayed unreadable.
  std::optional<std::uint32_t> fatEntry(std::uint32_t cluster);
  ExfatChain chain(std::uint32_t first, std::uint64_t maxClusters);
  // The clusters of a stream of length bytes from first: contiguous for
  // NoFatChain, else its chain (bounded by the length; 0: to its end).
  std::vector<std::uint32_t> streamClusters(std::uint32_t first, std::uint64_t length, bool noFatChain);
  // Reads whole clusters (zeros for what cannot be read or lies outside
  // the volume) into out, which holds clusters.size() clusters.
  void readClusters(std::span<const std::uint32_t> clusters, std::span<std::byte> out);

  // The allocation bitmap, loaded from the root directory's bitmap entry.
  void setBitmap(std::vector<std::byte> bitmap) { bitmap_ = std::move(bitmap); }
  const std::vector<std::byte>& bitmap() const { return bitmap_; }
  bool bitmapLoaded() const { return !bitmap_.empty(); }

 private:
  SectorReader& reader_;
  ExfatGeometry geometry_;
  std::map<std::uint64_t, std::vector<std::byte>> fatBlocks_;
  std::map<std::uint64_t, std::vector<bool>> fatLost_;
  std::vector<std::byte> bitmap_;
};

}  // namespace dravolin
