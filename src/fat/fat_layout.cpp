#include "fat/fat_layout.h"

#include <algorithm>
#include <limits>
#include <string>

#include "common/byte_reader.h"

namespace dravolin {
namespace {

// FAT sectors read per transfer and blocks kept: 128 KiB blocks, 8 MiB in all.
constexpr std::uint64_t kFatBlockSectors = 256;
constexpr std::size_t kFatCacheBlocks = 64;

}  // namespace

std::optional<FatType> fatTypeOf(FsType fileSystemType) {
  switch (fileSystemType) {
    case FsType::Fat12: return FatType::Fat12;
    case FsType::Fat16: return FatType::Fat16;
    case FsType::Fat32: return FatType::Fat32;
    default: return std::nullopt;
  }
}

bool isEndOfChain(FatType type, std::uint32_t entry) {
  switch (type) {
    case FatType::Fat12: return entry >= 0xFFF;
    case FatType::Fat16: return entry >= 0xFFFF;
    case FatType::Fat32: return entry >= 0x0FFFFFFF;
  }
  return true;
}

bool isBadCluster(FatType type, std::uint32_t entry) {
  switch (type) {
    case FatType::Fat12: return entry == 0xFF7;
    case FatType::Fat16: return entry == 0xFFF7;
    case FatType::Fat32: return entry == 0x0FFFFFF7;
  }
  return false;
}

std::uint64_t FatLayout::fatEntryCapacity() const {
  const std::uint64_t bytes = FatSectors * kSectorSize;
  switch (type) {
    case FatType::Fat12: return bytes * 2 / 3;
    case FatType::Fat16: return bytes / 2;
    case FatType::Fat32: return bytes / 4;
  }
  return 0;
}

std::uint64_t FatLayout::clusterCount() const {
  std::uint64_t count = fatEntryCapacity();
  if (PartitionEnd > 0 && SectorsPerCluster > 0) {
    const std::uint64_t data = firstDataSector();
    const std::uint64_t inData = PartitionEnd > data ? (PartitionEnd - data) / SectorsPerCluster + 2 : 2;
    count = std::min(count, inData);
  }
  // Cluster numbers are 32-bit.
  return std::min<std::uint64_t>(count, std::numeric_limits<std::uint32_t>::max());
}

Result<FatLayout> makeFatLayout(const VolumeParameters& parameters, FsType fileSystemType,
                                std::uint64_t partitionEnd) {
  auto type = fatTypeOf(fileSystemType);
  if (!type) return makeError(ErrorKind::InvalidArgument, "not a FAT file system: " + toString(fileSystemType));
  // 256 sectors (128 KiB) is the largest cluster any FAT implementation
  // writes; a larger value can only come from a damaged boot sector.
  if (parameters.SectorsPerCluster == 0 || parameters.SectorsPerCluster > 256)
    return makeError(ErrorKind::InvalidArgument,
                     "impossible sectors per cluster: " + std::to_string(parameters.SectorsPerCluster));
  FatLayout layout;
  layout.type = *type;
  layout.Fat1Start = parameters.Fat1Start;
  layout.FatSectors = parameters.FatSectors;
  layout.SectorsPerCluster = parameters.SectorsPerCluster;
  layout.ClusterBase = parameters.ClusterBase;
  layout.RootDirSectors = parameters.RootDirSectors;
  layout.RootDirStart = parameters.RootDirStart;
  layout.ReservedSectors = parameters.ReservedSectors;
  layout.Fat2Start = parameters.Fat2Start;
  layout.PartitionEnd = partitionEnd;
  return layout;
}

FatVolume::FatVolume(SectorReader& reader, const FatLayout& layout) : reader_(&reader), layout_(layout) {}

Result<FatVolume> FatVolume::open(SectorReader& reader, const VolumeParameters& parameters,
                                  FsType fileSystemType, std::uint64_t partitionEnd) {
  auto layout = makeFatLayout(parameters, fileSystemType, partitionEnd);
  if (!layout) return std::unexpected(layout.error());
  return FatVolume(reader, *layout);
}

void FatVolume::dropCache() { blocks_.clear(); }

const FatVolume::Block& FatVolume::block(FatCopy which, std::uint64_t index) {
  ++useCounter_;
  // Chains are mostly local: try the block used last before the others.
  if (lastBlock_ < blocks_.size() && blocks_[lastBlock_].copy == which && blocks_[lastBlock_].index == index) {
    blocks_[lastBlock_].lastUse = useCounter_;
    return blocks_[lastBlock_];
  }
  for (std::size_t i = 0; i < blocks_.size(); ++i) {
    Block& b = blocks_[i];
    if (b.copy == which && b.index == index) {
      b.lastUse = useCounter_;
      lastBlock_ = i;
      return b;
    }
  }
  Block* slot = nullptr;
  if (blocks_.size() < kFatCacheBlocks) {
    if (blocks_.empty()) blocks_.reserve(kFatCacheBlocks);
    slot = &blocks_.emplace_back();
  } else {
    slot = &*std::min_element(blocks_.begin(), blocks_.end(),
                              [](const Block& a, const Block& b) { return a.lastUse < b.lastUse; });
  }
  const std::uint64_t start = which == FatCopy::First ? layout_.Fat1Start : layout_.Fat2Start;
  const std::uint64_t firstOffset = index * kFatBlockSectors;
  auto count = static_cast<std::uint32_t>(std::min(kFatBlockSectors, layout_.FatSectors - firstOffset));
  // A block never reaches past the end of the source: a FAT that claims to
  // go further would otherwise make a healthy read of the sectors still on
  // the disk fail with the ones that are not.
  const std::uint64_t sourceSectors = reader_->source().sectorCount();
  const std::uint64_t needed = start + firstOffset;
  if (needed < sourceSectors && sourceSectors - needed < count)
    count = static_cast<std::uint32_t>(sourceSectors - needed);
  lastBlock_ = static_cast<std::size_t>(slot - blocks_.data());
  slot->copy = which;
  slot->index = index;
  slot->lastUse = useCounter_;
  slot->bytes.assign(std::size_t{count} * kSectorSize, std::byte{0});
  // Sectors that stay unreadable come back zero-filled: they are noted so
  // that an entry read from them is not taken for a free one.
  const std::uint64_t losses = reader_->lossCount();
  (void)reader_->ReadSectorsAs(start + firstOffset, count, slot->bytes, 1);
  slot->lost.clear();
  if (reader_->lossCount() != losses) slot->lost = reader_->unreadable().rangesIn(start + firstOffset, count);
  return *slot;
}

std::optional<std::uint8_t> FatVolume::fatByte(FatCopy which, std::uint64_t offset) {
  const std::uint64_t start = which == FatCopy::First ? layout_.Fat1Start : layout_.Fat2Start;
  if (start == 0) return std::nullopt;
  const std::uint64_t sector = offset / kSectorSize;
  if (sector >= layout_.FatSectors) return std::nullopt;
  const Block& b = block(which, sector / kFatBlockSectors);
  if (!b.lost.empty()) {
    const std::uint64_t absolute = start + sector;
    for (const SectorRange& r : b.lost)
      if (absolute >= r.start && absolute < r.end &&
          std::find(lastLost_.begin(), lastLost_.end(), absolute) == lastLost_.end())
        lastLost_.push_back(absolute);
  }
  const std::uint64_t inBlock = offset - (sector / kFatBlockSectors) * kFatBlockSectors * kSectorSize;
  return readU8(b.bytes, inBlock);
}

std::optional<std::uint32_t> FatVolume::readEntry(std::uint32_t cluster, FatCopy which) {
  lastLost_.clear();
  switch (layout_.type) {
    case FatType::Fat12: {
      const std::uint64_t offset = std::uint64_t{cluster} * 3 / 2;
      auto first = fatByte(which, offset);
      auto second = fatByte(which, offset + 1);
      if (!first || !second) return std::nullopt;
      if (cluster % 2 == 0) return static_cast<std::uint32_t>((*second & 0x0F) << 8 | *first);
      return static_cast<std::uint32_t>(*second << 4 | *first >> 4);
    }
    case FatType::Fat16: {
      const std::uint64_t offset = std::uint64_t{cluster} * 2;
      auto lo = fatByte(which, offset);
      auto hi = fatByte(which, offset + 1);
      if (!lo || !hi) return std::nullopt;
      return static_cast<std::uint32_t>(*lo | *hi << 8);
    }
    case FatType::Fat32: {
      const std::uint64_t offset = std::uint64_t{cluster} * 4;
      std::uint32_t value = 0;
      for (std::uint64_t i = 0; i < 4; ++i) {
        auto b = fatByte(which, offset + i);
        if (!b) return std::nullopt;
        value |= std::uint32_t{*b} << (8 * i);
      }
      return value;
    }
  }
  return std::nullopt;
}

}  // namespace dravolin
