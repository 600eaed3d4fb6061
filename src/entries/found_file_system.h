#pragma once
// A file system found by the search for lost partitions: one entry per
// confirmed boot sector (FAT), per NTFS boot sector or layout, or per volume
// inferred from directories whose boot sector is gone. The list of these is
// what the user chooses from after the search and what a ".ST2C" log keeps.
#include <cstdint>
#include <string>
#include <vector>

namespace dravolin {

struct FoundFileSystem {
  std::string name;                     // "FAT12", "FAT16", "FAT32" or "NTFS"; at most 9 characters
  std::uint32_t sectorsPerCluster = 0;
  std::uint64_t startSector = 0;        // the boot sector; 0 for an inferred volume
  std::uint64_t endSector = 0;          // start + total sectors; 0 for an inferred volume
  std::uint32_t sectorsPerFat = 0;      // 0 until the FATs are located
  std::uint32_t rootDirSectors = 0;     // FAT16: root entries / 16; FAT32: 0
  std::uint32_t reservedSectors = 0;    // 0 for an inferred volume
  std::uint32_t rootStart = 0;          // FAT16: first root sector; FAT32: root cluster
  std::uint64_t clusterBase = 0;        // sector of the virtual cluster 0 (NTFS: the start)
  std::uint64_t firstFatSector = 0;     // 0 until the FATs are located
  std::uint64_t secondFatSector = 0;    // 0 until the FATs are located
  bool operator==(const FoundFileSystem&) const = default;
};

// Found file systems in the order found; the ordinal the user sees
// ("File System 1 - FAT32") is the 1-based position in this list.
using FoundFileSystems = std::vector<FoundFileSystem>;

}  // namespace dravolin
