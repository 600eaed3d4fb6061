#pragma once
// The exFAT allocation bitmap: one bit per cluster of the heap, the lowest
// bit of the first byte for cluster 2. A set bit marks the cluster in use.
#include <cstdint>
#include <optional>

#include "common/byte_reader.h"

namespace dravolin {

// Whether the cluster is in use; nothing when its bit lies outside the
// bitmap or the cluster outside the heap.
std::optional<bool> isExfatClusterInUse(ByteSpan bitmap, std::uint32_t cluster, std::uint32_t clusterCount);

// True when every cluster of the run first .. first+count-1 is free (and
// known: a bit outside the bitmap counts as not free).
bool areExfatClustersFree(ByteSpan bitmap, std::uint32_t first, std::uint64_t count, std::uint32_t clusterCount);

}  // namespace dravolin
