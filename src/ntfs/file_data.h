#pragma once
// The bytes of an NTFS stream from its runs: sparse runs and clusters past
// the initialized size read as zeros, compressed streams are decompressed
// per compression unit. Clusters come from a callback, so this is pure and
// testable on buffers.
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "common/error.h"
#include "ntfs/data_runs.h"

namespace dravolin {

// Reads count clusters starting at volume cluster lcn into out (count x
// cluster size bytes). False when the source failed; out is then zero-filled
// or holds what the sector reader's policy left there.
using ReadClusters = std::function<bool(std::uint64_t lcn, std::uint64_t count, std::span<std::byte> out)>;

inline constexpr std::uint16_t kDefaultCompressionUnitShift = 4;  // 16 clusters

// One data stream ($DATA of a file, or any other non-resident attribute),
// assembled from all its extents.
struct NtfsDataStream {
  bool resident = false;
  std::vector<std::byte> resident_value;
  std::vector<DataRun> runs;  // in VCN order, without overlaps; holes are missing extents
  std::uint64_t data_size = 0;
  std::uint64_t allocated_size = 0;
  std::uint64_t initialized_size = 0;
  std::uint16_t flags = 0;    // attribute flags of the extent at VCN 0
  std::uint8_t compression_unit_shift = 0;
  // False when an extent could not be found or accepted, or the runs cover
  // less than the data size: the stream reads as far as it goes.
  bool complete = true;
  // Whether a run list ended at a malformed run: the runs before it are kept
  // (and complete is cleared).
  bool runs_damaged = false;

  bool isCompressed() const { return (flags & 0x00FF) != 0; }
  // Clusters of a compression unit: 16 also when the header gave 0 (the
  // decoder lets no other shift through; any other is taken as 4 too).
  std::uint64_t compressionUnitClusters() const {
    return std::uint64_t{1} << (compression_unit_shift != 0 && compression_unit_shift <= 8 ? compression_unit_shift
                                                                                            : kDefaultCompressionUnitShift);
  }
  bool isEncrypted() const { return (flags & 0x4000) != 0; }
};

struct StreamReadOutcome {
  std::size_t bytes = 0;          // bytes filled (out cut to the data size)
  bool missing_clusters = false;  // some clusters lay in no run (zeros given)
  bool read_failed = false;       // the cluster callback reported a failure
  bool corrupt_compression = false;
};

// Fills out with the stream bytes from offset on (at most up to the data
// size). cluster_size is the volume's cluster size in bytes. Encrypted streams
// are read as their raw bytes. InvalidArgument when the cluster size is 0 or
// (for compressed streams) a compression unit would exceed 16 MiB.
[[nodiscard]] Result<StreamReadOutcome> readStreamRange(const NtfsDataStream& stream, std::uint64_t cluster_size,
                                                        std::uint64_t offset, std::span<std::byte> out,
                                                        const ReadClusters& read_clusters);

// How many bytes from the start of the stream can be saved: the data size
// of a complete stream; of an incomplete one, as far as its runs reach
// without a hole, cut to whole compression units when it is compressed.
std::uint64_t savableLength(const NtfsDataStream& stream, std::uint64_t cluster_size);

// The whole stream in memory, for small streams (attribute lists, tests).
// NotFound when the data size exceeds max_size.
[[nodiscard]] Result<std::vector<std::byte>> readWholeStream(const NtfsDataStream& stream,
                                                             std::uint64_t cluster_size,
                                                             const ReadClusters& read_clusters,
                                                             std::uint64_t max_size,
                                                             StreamReadOutcome* outcome = nullptr);

}  // namespace dravolin
