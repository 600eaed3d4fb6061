#pragma once
// The layout values of the committed volume. Sector values are absolute and
// 64-bit; a search works on its own copy taken at its start.
#include <cstdint>
#include <string>

namespace dravolin {

struct VolumeParameters {
  std::uint64_t FatSectors = 0;          // sectors per FAT
  std::uint64_t SectorsPerCluster = 0;
  std::uint64_t RootDirSectors = 0;      // FAT12/16: root entries / 16; FAT32: 0
  std::uint64_t RootDirStart = 0;        // FAT12/16: first root sector; FAT32: root cluster
  std::uint64_t ReservedSectors = 0;
  std::uint64_t ClusterBase = 0;         // sector of the virtual cluster 0
  std::uint64_t Fat1Start = 0;
  std::uint64_t Fat2Start = 0;
  std::uint64_t MftStart = 0;            // sector of MFT record 0, or 0
  std::uint64_t MftMirrStart = 0;
  std::uint64_t MftRecordSectors = 0;    // 2, 4, 6 or 8
  std::uint64_t IndexRecordSectors = 0;
  bool operator==(const VolumeParameters&) const = default;
};

}  // namespace dravolin
