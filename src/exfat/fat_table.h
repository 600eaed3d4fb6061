#pragma once
// The exFAT file allocation table: one 32-bit entry per cluster, clusters
// numbered from 2. An entry holds the next cluster of a chain, 0xFFFFFFFF at
// its end, 0xFFFFFFF7 for a bad cluster and 0 for a free one (files whose
// stream entry says NoFatChain have no chain at all: their clusters follow
// each other).
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "common/byte_reader.h"

namespace dravolin {

inline constexpr std::uint32_t kExfatEndOfChain = 0xFFFFFFFFu;
inline constexpr std::uint32_t kExfatBadCluster = 0xFFFFFFF7u;
inline constexpr std::uint32_t kExfatFirstCluster = 2;

// The entry of a cluster in a buffer that holds the FAT from its start;
// nothing when the entry lies outside it.
std::optional<std::uint32_t> readExfatFatEntry(ByteSpan fat, std::uint32_t cluster);

enum class ExfatChainEnd { EndOfChain, Length, Free, Bad, OutOfRange, Cycle, Unreadable };

struct ExfatChain {
  std::vector<std::uint32_t> clusters;
  ExfatChainEnd end = ExfatChainEnd::EndOfChain;
};

// Follows a chain from first through the entries that entryOf gives (nothing:
// the FAT sector could not be read) for at most maxClusters clusters (and
// never more than clusterCount, the clusters of the heap). A link to a free,
// bad or out-of-range cluster, or back to a cluster already in the chain,
// ends it; end says why.
ExfatChain followExfatChain(const std::function<std::optional<std::uint32_t>(std::uint32_t)>& entryOf,
                            std::uint32_t first, std::uint32_t clusterCount, std::uint64_t maxClusters);

// The clusters first, first+1, ... count of them, stopping at the end of the heap.
std::vector<std::uint32_t> contiguousExfatClusters(std::uint32_t first, std::uint64_t count,
                                                   std::uint32_t clusterCount);

}  // namespace dravolin
