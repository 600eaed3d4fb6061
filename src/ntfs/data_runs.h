#pragma once
// Data runs (mapping pairs): where the clusters of a non-resident attribute
// lie. Runs are kept in clusters; NtfsGeometry turns them into sectors.
#include <cstdint>
#include <vector>

#include "common/byte_reader.h"
#include "common/error.h"

namespace dravolin {

struct DataRun {
  std::uint64_t vcn = 0;     // first cluster of the run within the stream
  std::uint64_t lcn = 0;     // first cluster on the volume; 0 for a sparse run
  std::uint64_t length = 0;  // clusters
  bool sparse = false;       // no clusters on disk: reads as zeros

  std::uint64_t endVcn() const { return vcn + length; }
  friend bool operator==(const DataRun&, const DataRun&) = default;
};

// Decodes the runs of one attribute extent, whose first run starts at
// first_vcn. The list ends at a 0 header byte or at the end of runs (the
// attribute's own bytes, so the number of runs needs no other bound). A run
// without an offset field is sparse and does not move the current cluster.
// NotFound, rather than a partial list, when a run is malformed: a length or
// offset field longer than 8 bytes or past the end of runs, a length of 0 or
// below 0, an offset that takes the cluster below 0 (a negative offset before
// the first run) or past 2^63, or cluster counts that overflow.
[[nodiscard]] Result<std::vector<DataRun>> decodeDataRuns(ByteSpan runs, std::uint64_t first_vcn = 0);

// The same decoding, keeping the runs before a malformed one: damage is then
// the reason decodeDataRuns gives, nullptr when the list is well formed.
struct DecodedRuns {
  std::vector<DataRun> runs;
  const char* damage = nullptr;
};
[[nodiscard]] DecodedRuns decodeDataRunsUpToDamage(ByteSpan runs, std::uint64_t first_vcn = 0);

// Clusters covered by the runs (sparse ones included).
std::uint64_t totalClusters(const std::vector<DataRun>& runs);

}  // namespace dravolin
