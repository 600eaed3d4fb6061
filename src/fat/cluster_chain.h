#pragma once
// Following cluster chains through a FAT. A chain starts with its first
// cluster and goes on through the entries of the chosen FAT copy while they
// name further clusters; it ends at the end-of-chain value, at a free entry,
// at the edge of the FAT, at the length bound, or where it would come back to
// a cluster it already holds (a cyclic FAT), keeping what it gathered.
// Where the FAT sector holding a link stayed unreadable in the chosen copy,
// the chain ends there (NotLinked) naming that sector, or, when asked to,
// the link is taken from the other copy; only when both copies lost it does
// the chain end as Unreadable, naming the FAT sectors of both.
#include <cstdint>
#include <vector>

#include "common/error.h"
#include "fat/fat_layout.h"

namespace dravolin {

// A deleted directory is read over at most this many clusters of whatever
// chain the FAT still holds for it (FAT16 and FAT32).
inline constexpr std::uint32_t kDeletedDirectoryClusterLimit = 26;

// Why a chain ended.
enum class ChainEnd {
  EndOfChain,   // the all-ones end value
  NotLinked,    // an entry outside the followed range (free, or 1 on FAT16/32)
  OutsideFat,   // the next entry lies outside the FAT, or the FAT copy has no start
  Cycle,        // the next cluster is already in the chain
  LengthLimit,  // maxClusters (or the volume's cluster count) reached
  Unreadable,   // the next link lies in FAT sectors unreadable in both copies
};

struct ClusterChain {
  std::vector<std::uint32_t> clusters;  // in chain order, the first cluster first
  ChainEnd end = ChainEnd::EndOfChain;
  // The FAT sectors that held the next link and stayed unreadable (both
  // copies' with Unreadable, the chosen copy's otherwise); empty when the
  // chain did not end at an unreadable sector.
  std::vector<SectorRange> unreadableFat;
};

// Follows the chain that starts at first through the given FAT copy. The
// chain holds at most maxClusters clusters (0 means no bound of its own);
// the volume's cluster count always bounds it. Values just below the end
// value (reserved and bad-cluster marks) are followed as cluster numbers, as
// the saving's chain checks expect; an entry of 1 (FAT16/FAT32) or 0 links
// nothing and ends the chain with NotLinked. A chain cut by maxClusters ends
// with LengthLimit: passing N keeps the first N clusters of a longer chain.
// Fails with InvalidArgument when first is 0 or 1. With otherCopyWhereLost,
// a link the chosen copy could not give is read from the other copy.
Result<ClusterChain> buildClusterChain(FatVolume& volume, std::uint32_t first, FatCopy which,
                                       std::uint64_t maxClusters = 0, bool otherCopyWhereLost = false);

// The chain the searches read a directory over: the first FAT (the second
// where a sector of the first stayed unreadable), followed to
// its end, or for a deleted directory on FAT16/FAT32 over at most 26
// clusters. A first cluster of 0 or 1 yields just that cluster.
std::vector<std::uint32_t> directoryChain(FatVolume& volume, std::uint32_t first, bool deletedDirectory);
// The same, with how the chain ended (Unreadable when both FATs lost a link).
ClusterChain directoryClusterChain(FatVolume& volume, std::uint32_t first, bool deletedDirectory);

// The fall-back when no FAT chain fits: count clusters from first on,
// first, first + 1, first + 2, ...
std::vector<std::uint32_t> contiguousChain(std::uint32_t first, std::uint64_t count);

// Splits a chain into runs of consecutive clusters, each of at most
// maxClusters clusters (at least 1), so a healthy disk is read in few large
// transfers. Each run is {first cluster, cluster count}.
struct ClusterRun {
  std::uint32_t first = 0;
  std::uint32_t count = 0;
};
std::vector<ClusterRun> splitIntoRuns(const std::vector<std::uint32_t>& chain, std::uint32_t maxClusters);

}  // namespace dravolin
