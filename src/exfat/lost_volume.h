#pragma once
// exFAT volumes for the search for lost partitions: every sector named
// "EXFAT   " with a valid boot sector is a candidate, the main boot sector
// or its backup twelve (volume) sectors on; which one it is, the FAT tells:
// the first FAT begins with the media entry 0xFFFFFFF8 FatOffset sectors
// after the main boot sector.
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "common/byte_reader.h"
#include "exfat/boot_sector.h"

namespace dravolin {

struct ExfatBootCandidate {
  std::uint64_t sector = 0;  // where the boot sector was seen (512-byte units)
  ExfatBootSector boot;
};

// A found volume, in 512-byte sectors of the disk.
struct ExfatLostVolume {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  std::uint64_t sectorsPerCluster = 0;
  std::uint64_t fatStart = 0;
  std::uint64_t fatSectors = 0;
  std::uint64_t fatOffset = 0;   // FAT offset in 512-byte units
  std::uint64_t clusterBase = 0; // sector of the virtual cluster 0
  std::uint32_t rootCluster = 0;
};

// The candidate a sector gives, or nothing.
std::optional<ExfatBootCandidate> readExfatBootCandidate(ByteSpan sector, std::uint64_t at);

// Collects candidates from each chunk of the sweep; finish() turns them into
// volumes, one per main boot sector (a backup whose main one was seen, or
// lies where the FAT confirms it, stands for it).
class ExfatLostExaminer {
 public:
  void examine(ByteSpan chunk, std::uint64_t first);
  // readFirstFatWord: the first 32-bit word at a sector, nothing when unreadable.
  std::vector<ExfatLostVolume> finish(const std::function<std::optional<std::uint32_t>(std::uint64_t)>& readFirstFatWord) const;
  const std::vector<ExfatBootCandidate>& candidates() const { return candidates_; }

 private:
  std::vector<ExfatBootCandidate> candidates_;
};

}  // namespace dravolin
