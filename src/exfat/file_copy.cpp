#include "exfat/file_copy.h"

#include <algorithm>

#include "disk/unreadable_sectors.h"

namespace dravolin {

ExfatCopyOutcome copyExfatStream(ExfatVolume& volume, const ExfatStream& stream, std::span<std::byte> buffer,
                                 const std::function<bool(std::span<const std::byte>)>& sink,
                                 const std::function<bool()>& keepGoing) {
  ExfatCopyOutcome out;
  if (stream.size == 0) return out;
  const ExfatGeometry& g = volume.geometry();
  const std::uint64_t clusterBytes = g.clusterBytes();
  if (buffer.size() < clusterBytes) {
    out.problem = "the copy buffer is smaller than a cluster";
    return out;
  }
  if (stream.firstCluster < kExfatFirstCluster || stream.firstCluster - kExfatFirstCluster >= g.clusterCount) {
    out.problem = "the entry names no data cluster (first cluster " + std::to_string(stream.firstCluster) + ")";
    return out;
  }
  const std::uint64_t needed = (stream.size + clusterBytes - 1) / clusterBytes;
  std::vector<std::uint32_t> clusters;
  if (stream.contiguous) {
    clusters = contiguousExfatClusters(stream.firstCluster, needed, g.clusterCount);
  } else {
    ExfatChain chain = volume.chain(stream.firstCluster, needed);
    if (chain.clusters.size() == needed) {
      clusters = std::move(chain.clusters);
    } else {
      // A deleted file's chain is often gone; a live one that is broken is
      // taken as contiguous too, and said so.
      clusters = contiguousExfatClusters(stream.firstCluster, needed, g.clusterCount);
      out.chainReplaced = true;
    }
  }
  out.savableSize = std::min<std::uint64_t>(stream.size, std::uint64_t{clusters.size()} * clusterBytes);
  out.clipped = out.savableSize < stream.size;
  const std::uint64_t valid = std::min(stream.validLength, out.savableSize);

  UnreadableWatch watch(volume.reader());
  const std::size_t perPiece = static_cast<std::size_t>(buffer.size() / clusterBytes);
  std::uint64_t done = 0;
  std::size_t next = 0;
  while (done < out.savableSize) {
    if (!keepGoing()) {
      out.stopped = true;
      break;
    }
    const std::size_t count = std::min(perPiece, clusters.size() - next);
    const std::uint64_t pieceBytes = std::min<std::uint64_t>(count * clusterBytes, out.savableSize - done);
    auto piece = buffer.first(static_cast<std::size_t>(count * clusterBytes));
    if (done < valid) {
      // Only the clusters that hold valid data are read.
      const std::uint64_t validHere = std::min(valid - done, pieceBytes);
      const std::size_t readCount = static_cast<std::size_t>((validHere + clusterBytes - 1) / clusterBytes);
      volume.readClusters(std::span<const std::uint32_t>(clusters).subspan(next, readCount),
                          piece.first(readCount * clusterBytes));
      std::fill(piece.begin() + static_cast<std::ptrdiff_t>(validHere), piece.end(), std::byte{0});
    } else {
      std::fill(piece.begin(), piece.end(), std::byte{0});
    }
    if (!sink(piece.first(static_cast<std::size_t>(pieceBytes)))) {
      out.stopped = true;
      break;
    }
    done += pieceBytes;
    next += count;
  }
  out.written = done;
  out.unreadableSectors = watch.sectors().total();
  return out;
}

}  // namespace dravolin
