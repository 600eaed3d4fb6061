#include "fat/cluster_chain.h"

#include <algorithm>

namespace dravolin {
namespace {

// Whether an entry names a further cluster of the chain. FAT12 follows 1 to
// 0xFFE; FAT16 and FAT32 follow from 2 up to their end value, so the
// reserved and bad-cluster marks below it are followed as cluster numbers.
bool continuesChain(FatType type, std::uint32_t entry) {
  switch (type) {
    case FatType::Fat12: return entry >= 1 && entry <= 0xFFE;
    case FatType::Fat16: return entry >= 2 && entry < 0xFFFF;
    case FatType::Fat32: return entry >= 2 && entry < 0x0FFFFFFF;
  }
  return false;
}

// The chain came back to a cluster it holds; cycleLength is the period seen.
// Keeps the clusters up to the first repeat, so every cluster appears once.
void cutAtFirstRepeat(std::vector<std::uint32_t>& chain, std::uint32_t next, std::size_t cycleLength) {
  auto at = [&](std::size_t i) { return i < chain.size() ? chain[i] : next; };
  for (std::size_t i = 0; i + cycleLength <= chain.size(); ++i) {
    if (at(i) == at(i + cycleLength)) {
      chain.resize(i + cycleLength);
      return;
    }
  }
}

// Reads the entry of cluster from the chosen copy; where its FAT sector was
// lost there, from the other copy when asked to. Sets lost (the lost sectors
// of the copies read) when no copy read could give it.
std::optional<std::uint32_t> readLink(FatVolume& volume, std::uint32_t cluster, FatCopy which, bool otherCopy,
                                      std::vector<SectorRange>& lost) {
  auto entry = volume.readEntry(cluster, which);
  if (volume.lastEntryLost().empty()) return entry;
  std::vector<SectorNumber> sectors = volume.lastEntryLost();
  if (otherCopy) {
    auto second = volume.readEntry(cluster, which == FatCopy::First ? FatCopy::Second : FatCopy::First);
    if (second && volume.lastEntryLost().empty()) return second;
    sectors.insert(sectors.end(), volume.lastEntryLost().begin(), volume.lastEntryLost().end());
  }
  std::sort(sectors.begin(), sectors.end());
  for (SectorNumber s : sectors) {
    if (!lost.empty() && lost.back().end == s) ++lost.back().end;
    else lost.push_back({s, s + 1});
  }
  return entry;
}

}  // namespace

Result<ClusterChain> buildClusterChain(FatVolume& volume, std::uint32_t first, FatCopy which,
                                       std::uint64_t maxClusters, bool otherCopyWhereLost) {
  if (first < 2) return makeError(ErrorKind::InvalidArgument, "a chain starts at cluster 2 or above");
  std::uint64_t bound = std::max<std::uint64_t>(volume.clusterCount(), 1);
  if (maxClusters > 0) bound = std::min(bound, maxClusters);

  ClusterChain result;
  auto& chain = result.clusters;
  chain.push_back(first);
  // Brent's cycle detection: the tortoise jumps to the hare at powers of
  // two, so a loop is seen within a few of its lengths without any set of
  // visited clusters.
  std::uint32_t tortoise = first;
  std::uint64_t power = 1;
  std::uint64_t steps = 0;
  std::uint32_t current = first;
  const FatType type = volume.type();
  while (true) {
    auto entry = readLink(volume, current, which, otherCopyWhereLost, result.unreadableFat);
    if (!result.unreadableFat.empty()) {
      result.end = otherCopyWhereLost ? ChainEnd::Unreadable : ChainEnd::NotLinked;
      break;
    }
    if (!entry) {
      result.end = ChainEnd::OutsideFat;
      break;
    }
    if (!continuesChain(type, *entry)) {
      result.end = isEndOfChain(type, *entry) ? ChainEnd::EndOfChain : ChainEnd::NotLinked;
      break;
    }
    ++steps;
    if (*entry == tortoise) {
      cutAtFirstRepeat(chain, *entry, steps);
      result.end = ChainEnd::Cycle;
      break;
    }
    if (chain.size() >= bound) {
      result.end = ChainEnd::LengthLimit;
      break;
    }
    chain.push_back(*entry);
    current = *entry;
    if (steps == power) {
      tortoise = current;
      power *= 2;
      steps = 0;
    }
  }
  return result;
}

ClusterChain directoryClusterChain(FatVolume& volume, std::uint32_t first, bool deletedDirectory) {
  const std::uint64_t limit =
      deletedDirectory && volume.type() != FatType::Fat12 ? kDeletedDirectoryClusterLimit : 0;
  auto chain = buildClusterChain(volume, first, FatCopy::First, limit, true);
  if (!chain) return ClusterChain{{first}, ChainEnd::OutsideFat, {}};
  return std::move(*chain);
}

std::vector<std::uint32_t> directoryChain(FatVolume& volume, std::uint32_t first, bool deletedDirectory) {
  return std::move(directoryClusterChain(volume, first, deletedDirectory).clusters);
}

std::vector<std::uint32_t> contiguousChain(std::uint32_t first, std::uint64_t count) {
  std::vector<std::uint32_t> chain;
  const std::uint64_t room = std::uint64_t{0xFFFFFFFF} - first + 1;
  count = std::min(count, room);
  chain.reserve(count);
  for (std::uint64_t i = 0; i < count; ++i) chain.push_back(static_cast<std::uint32_t>(first + i));
  return chain;
}

std::vector<ClusterRun> splitIntoRuns(const std::vector<std::uint32_t>& chain, std::uint32_t maxClusters) {
  maxClusters = std::max<std::uint32_t>(maxClusters, 1);
  std::vector<ClusterRun> runs;
  for (std::uint32_t cluster : chain) {
    if (!runs.empty()) {
      ClusterRun& last = runs.back();
      if (last.count < maxClusters && std::uint64_t{last.first} + last.count == cluster) {
        ++last.count;
        continue;
      }
    }
    runs.push_back({cluster, 1});
  }
  return runs;
}

}  // namespace dravolin
