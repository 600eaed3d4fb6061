#pragma once
// The layout of a FAT12, FAT16 or FAT32 volume as the engine sees it: where
// the two FATs, the root directory and the data area lie, the mapping from a
// cluster number to its first sector, and the reading of single FAT entries.
// FAT sectors are read in large blocks and kept in a small cache, so that
// following many chains costs one transfer per block, not one per entry.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "common/file_system_type.h"
#include "disk/sector_reader.h"
#include "partition/volume_parameters.h"

namespace dravolin {

enum class FatType { Fat12, Fat16, Fat32 };

// The FAT type of FAT12, FAT16 and FAT32; nothing for the other types.
std::optional<FatType> fatTypeOf(FsType fileSystemType);

// Which copy of the FAT a chain is read from.
enum class FatCopy { First, Second };

// Entries that end a chain: the all-ones value of each width (0xFFF, 0xFFFF,
// and 0x0FFFFFFF or above on FAT32, whose top bits are not masked).
bool isEndOfChain(FatType type, std::uint32_t entry);
// A free cluster (entry 0).
inline bool isFreeCluster(std::uint32_t entry) { return entry == 0; }
// The bad-cluster mark of each width (0xFF7, 0xFFF7, 0x0FFFFFF7).
bool isBadCluster(FatType type, std::uint32_t entry);

// The working copy of the layout values a FAT search reads.
struct FatLayout {
  FatType type = FatType::Fat16;
  std::uint64_t Fat1Start = 0;
  std::uint64_t FatSectors = 0;
  std::uint64_t SectorsPerCluster = 0;
  std::uint64_t ClusterBase = 0;      // sector of the virtual cluster 0
  std::uint64_t RootDirSectors = 0;   // FAT12/16 only
  std::uint64_t RootDirStart = 0;     // FAT12/16: first root sector; FAT32: root cluster
  std::uint64_t ReservedSectors = 0;
  std::uint64_t Fat2Start = 0;
  std::uint64_t PartitionEnd = 0;     // exclusive end sector; 0 when unknown

  // First sector of a cluster: ClusterBase + cluster * SectorsPerCluster.
  std::uint64_t clusterToSector(std::uint32_t cluster) const {
    return ClusterBase + std::uint64_t{cluster} * SectorsPerCluster;
  }
  // First sector of cluster 2 (the start of the data area).
  std::uint64_t firstDataSector() const { return clusterToSector(2); }
  // Entries one FAT can hold (FAT12: 1.5 bytes each, FAT16: 2, FAT32: 4).
  std::uint64_t fatEntryCapacity() const;
  // The number of clusters of the volume, counting the two reserved ones:
  // what the FAT can describe, further bounded by the data area when the
  // partition end is known. Chains never hold more clusters than this.
  std::uint64_t clusterCount() const;
};

// Builds the layout from the committed volume parameters and type. Fails with
// InvalidArgument for a type that is not FAT or sectors per cluster of 0 or
// above 256.
Result<FatLayout> makeFatLayout(const VolumeParameters& parameters, FsType fileSystemType,
                                std::uint64_t partitionEnd = 0);

// A FAT volume being searched or saved from: the layout plus a cache of FAT
// blocks read through the sector reader. One object is used by one thread.
class FatVolume {
 public:
  FatVolume(SectorReader& reader, const FatLayout& layout);

  // Shorthand for makeFatLayout + the constructor.
  static Result<FatVolume> open(SectorReader& reader, const VolumeParameters& parameters,
                                FsType fileSystemType, std::uint64_t partitionEnd = 0);

  const FatLayout& layout() const { return layout_; }
  FatType type() const { return layout_.type; }
  SectorReader& reader() { return *reader_; }
  std::uint64_t clusterToSector(std::uint32_t cluster) const { return layout_.clusterToSector(cluster); }
  std::uint64_t clusterCount() const { return layout_.clusterCount(); }

  // The FAT entry of a cluster in the given copy, or nothing when the entry
  // lies outside the FAT (its sector offset is not below FatSectors) or the
  // copy's start sector is 0. FAT12 entries are unpacked from the 12-bit
  // pairs (also when one straddles a sector); FAT32 entries are taken whole.
  // A FAT sector that cannot be read yields zeros (a free entry); whether
  // the entry just read lay in such a sector is told by lastEntryLost().
  std::optional<std::uint32_t> readEntry(std::uint32_t cluster, FatCopy which);

  // The FAT sectors (absolute sector numbers) holding the entry of the last
  // readEntry call that stayed unreadable; empty when the entry was read.
  const std::vector<SectorNumber>& lastEntryLost() const { return lastLost_; }

  // Forgets the cached FAT blocks.
  void dropCache();

 private:
  struct Block {
    FatCopy copy = FatCopy::First;
    std::uint64_t index = 0;  // block number within the FAT
    std::uint64_t lastUse = 0;
    std::vector<std::byte> bytes;
    std::vector<SectorRange> lost;  // sectors of the block that stayed unreadable
  };
  // The FAT byte at offset in the given copy, or nothing outside the FAT.
  std::optional<std::uint8_t> fatByte(FatCopy which, std::uint64_t offset);
  const Block& block(FatCopy which, std::uint64_t index);

  SectorReader* reader_;
  FatLayout layout_;
  std::vector<Block> blocks_;
  std::uint64_t useCounter_ = 0;
  std::size_t lastBlock_ = 0;
  std::vector<SectorNumber> lastLost_;
};

}  // namespace dravolin
