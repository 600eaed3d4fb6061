#pragma once
// Copying an exFAT file's data: the clusters of its stream (contiguous when
// the stream says NoFatChain, else its FAT chain), the bytes past its
// ValidDataLength given as zeros (the volume never wrote them), and a size
// that runs past the end of the heap clipped to what the heap holds.
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "exfat/exfat_volume.h"

namespace dravolin {

struct ExfatStream {
  std::uint32_t firstCluster = 0;
  std::uint64_t size = 0;         // DataLength
  std::uint64_t validLength = 0;  // ValidDataLength
  bool contiguous = false;        // NoFatChain
  bool deleted = false;           // a deleted entry: its chain may be gone
};

struct ExfatCopyOutcome {
  std::uint64_t written = 0;         // bytes handed to the sink
  std::uint64_t savableSize = 0;     // the size after clipping
  bool clipped = false;              // savableSize < size
  bool chainReplaced = false;        // the FAT chain did not hold the size: taken as contiguous
  bool stopped = false;              // the sink or keepGoing ended the copy
  std::uint64_t unreadableSectors = 0;
  std::string problem;               // why nothing could be copied, else empty
};

// Hands the file's bytes to sink in order (false from sink ends the copy);
// keepGoing is asked between pieces. buffer is the copy buffer (at least a
// cluster).
ExfatCopyOutcome copyExfatStream(ExfatVolume& volume, const ExfatStream& stream, std::span<std::byte> buffer,
                                 const std::function<bool(std::span<const std::byte>)>& sink,
                                 const std::function<bool()>& keepGoing);

}  // namespace dravolin
