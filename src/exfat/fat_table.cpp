#include "exfat/fat_table.h"

#include <algorithm>
#include <unordered_set>

namespace dravolin {
namespace {

bool inHeap(std::uint32_t cluster, std::uint32_t clusterCount) {
  return cluster >= kExfatFirstCluster && cluster - kExfatFirstCluster < clusterCount;
}

}  // namespace

std::optional<std::uint32_t> readExfatFatEntry(ByteSpan fat, std::uint32_t cluster) {
  return fieldU32(fat, std::size_t{cluster} * 4);
}

ExfatChain followExfatChain(const std::function<std::optional<std::uint32_t>(std::uint32_t)>& entryOf,
                            std::uint32_t first, std::uint32_t clusterCount, std::uint64_t maxClusters) {
  ExfatChain chain;
  if (!inHeap(first, clusterCount)) {
    chain.end = ExfatChainEnd::OutOfRange;
    return chain;
  }
  const std::uint64_t bound = std::min<std::uint64_t>(maxClusters, clusterCount);
  std::unordered_set<std::uint32_t> seen;
  std::uint32_t cluster = first;
  while (true) {
    if (!seen.insert(cluster).second) {
      chain.end = ExfatChainEnd::Cycle;
      return chain;
    }
    chain.clusters.push_back(cluster);
    if (chain.clusters.size() >= bound) {
      chain.end = ExfatChainEnd::Length;
      return chain;
    }
    const std::optional<std::uint32_t> next = entryOf(cluster);
    if (!next) {
      chain.end = ExfatChainEnd::Unreadable;
      return chain;
    }
    if (*next == kExfatEndOfChain) {
      chain.end = ExfatChainEnd::EndOfChain;
      return chain;
    }
    if (*next == 0) {
      chain.end = ExfatChainEnd::Free;
      return chain;
    }
    if (*next == kExfatBadCluster) {
      chain.end = ExfatChainEnd::Bad;
      return chain;
    }
    if (!inHeap(*next, clusterCount)) {
      chain.end = ExfatChainEnd::OutOfRange;
      return chain;
    }
    cluster = *next;
  }
}

std::vector<std::uint32_t> contiguousExfatClusters(std::uint32_t first, std::uint64_t count,
                                                   std::uint32_t clusterCount) {
  std::vector<std::uint32_t> clusters;
  if (!inHeap(first, clusterCount)) return clusters;
  const std::uint64_t room = std::uint64_t{clusterCount} - (first - kExfatFirstCluster);
  const std::uint64_t n = std::min(count, room);
  clusters.reserve(static_cast<std::size_t>(n));
  for (std::uint64_t i = 0; i < n; ++i) clusters.push_back(static_cast<std::uint32_t>(first + i));
  return clusters;
}

}  // namespace dravolin
