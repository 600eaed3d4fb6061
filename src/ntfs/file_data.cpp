#include "ntfs/file_data.h"

#include <algorithm>
#include <cstring>

#include "ntfs/lznt1.h"

namespace dravolin {
namespace {

constexpr std::uint64_t kMaxUnitBytes = 16u * 1024 * 1024;
constexpr std::uint64_t kReadPieceBytes = 1024u * 1024;

// The run holding vcn, or the first run after it (runs.end() when none).
std::vector<DataRun>::const_iterator runAtOrAfter(const std::vector<DataRun>& runs, std::uint64_t vcn) {
  auto it = std::upper_bound(runs.begin(), runs.end(), vcn,
                             [](std::uint64_t v, const DataRun& run) { return v < run.vcn; });
  if (it != runs.begin() && std::prev(it)->endVcn() > vcn) return std::prev(it);
  return it;
}

// Copies the clusters [first_vcn, first_vcn + count) of the stream into out
// (count x cluster_size bytes) as they lie on disk: sparse and missing
// clusters as zeros.
void readRawClusters(const NtfsDataStream& stream, std::uint64_t cluster_size, std::uint64_t first_vcn,
                     std::uint64_t count, std::span<std::byte> out, const ReadClusters& read_clusters,
                     StreamReadOutcome& outcome) {
  std::uint64_t vcn = first_vcn;
  const std::uint64_t end = first_vcn + count;
  while (vcn < end) {
    auto it = runAtOrAfter(stream.runs, vcn);
    std::byte* dest = out.data() + (vcn - first_vcn) * cluster_size;
    if (it == stream.runs.end() || it->vcn > vcn) {
      const std::uint64_t next = it == stream.runs.end() ? end : std::min(end, it->vcn);
      std::memset(dest, 0, (next - vcn) * cluster_size);
      outcome.missing_clusters = true;
      vcn = next;
      continue;
    }
    const std::uint64_t run_end = std::min(end, it->endVcn());
    const std::uint64_t clusters = run_end - vcn;
    if (it->sparse) {
      std::memset(dest, 0, clusters * cluster_size);
    } else if (!read_clusters(it->lcn + (vcn - it->vcn), clusters,
                              std::span<std::byte>(dest, clusters * cluster_size))) {
      outcome.read_failed = true;
    }
    vcn = run_end;
  }
}

// Decodes the compression unit that starts at unit_vcn into unit (unit_clusters
// x cluster_size bytes).
void readCompressionUnit(const NtfsDataStream& stream, std::uint64_t cluster_size, std::uint64_t unit_vcn,
                         std::uint64_t unit_clusters, std::span<std::byte> unit, std::vector<std::byte>& raw,
                         const ReadClusters& read_clusters, StreamReadOutcome& outcome) {
  // Clusters of the unit that lie on disk; a unit with all of them on disk is
  // stored uncompressed, one with none is zeros.
  std::uint64_t stored = 0;
  bool covered = true;
  for (std::uint64_t vcn = unit_vcn; vcn < unit_vcn + unit_clusters;) {
    auto it = runAtOrAfter(stream.runs, vcn);
    if (it == stream.runs.end() || it->vcn > vcn) { covered = false; break; }
    const std::uint64_t run_end = std::min(unit_vcn + unit_clusters, it->endVcn());
    if (!it->sparse) stored += run_end - vcn;
    vcn = run_end;
  }
  if (!covered || stored == unit_clusters) {
    readRawClusters(stream, cluster_size, unit_vcn, unit_clusters, unit, read_clusters, outcome);
    return;
  }
  std::memset(unit.data(), 0, unit.size());
  if (stored == 0) return;
  // The stored clusters come first in the unit, followed by sparse ones.
  raw.resize(stored * cluster_size);
  readRawClusters(stream, cluster_size, unit_vcn, stored, raw, read_clusters, outcome);
  const auto decoded = decompressLznt1(raw, unit);
  if (decoded.error) outcome.corrupt_compression = true;
}

}  // namespace

Result<StreamReadOutcome> readStreamRange(const NtfsDataStream& stream, std::uint64_t cluster_size,
                                          std::uint64_t offset, std::span<std::byte> out,
                                          const ReadClusters& read_clusters) {
  StreamReadOutcome outcome;
  if (offset >= stream.data_size) return outcome;
  const std::uint64_t wanted = std::min<std::uint64_t>(out.size(), stream.data_size - offset);
  out = out.first(static_cast<std::size_t>(wanted));
  outcome.bytes = out.size();
  if (stream.resident) {
    std::memset(out.data(), 0, out.size());
    if (offset < stream.resident_value.size()) {
      const auto n = std::min<std::uint64_t>(out.size(), stream.resident_value.size() - offset);
      std::memcpy(out.data(), stream.resident_value.data() + offset, n);
    }
    return outcome;
  }
  if (cluster_size == 0) return makeError(ErrorKind::InvalidArgument, "cluster size 0");
  std::vector<std::byte> piece;
  std::vector<std::byte> raw;
  if (stream.isCompressed()) {
    const std::uint64_t unit_clusters = stream.compressionUnitClusters();
    const std::uint64_t unit_bytes = unit_clusters * cluster_size;
    if (cluster_size > kMaxUnitBytes / unit_clusters)
      return makeError(ErrorKind::InvalidArgument, "compression unit too large");
    piece.resize(unit_bytes);
    for (std::uint64_t done = 0; done < out.size();) {
      const std::uint64_t position = offset + done;
      const std::uint64_t unit_index = position / unit_bytes;
      readCompressionUnit(stream, cluster_size, unit_index * unit_clusters, unit_clusters, piece, raw,
                          read_clusters, outcome);
      const std::uint64_t in_unit = position % unit_bytes;
      const std::uint64_t n = std::min<std::uint64_t>(unit_bytes - in_unit, out.size() - done);
      std::memcpy(out.data() + done, piece.data() + in_unit, n);
      done += n;
    }
  } else {
    const std::uint64_t piece_clusters = std::max<std::uint64_t>(1, kReadPieceBytes / cluster_size);
    for (std::uint64_t done = 0; done < out.size();) {
      const std::uint64_t position = offset + done;
      const std::uint64_t first_vcn = position / cluster_size;
      const std::uint64_t in_cluster = position % cluster_size;
      const std::uint64_t clusters =
          std::min(piece_clusters, (in_cluster + (out.size() - done) + cluster_size - 1) / cluster_size);
      piece.resize(clusters * cluster_size);
      readRawClusters(stream, cluster_size, first_vcn, clusters, piece, read_clusters, outcome);
      const std::uint64_t n = std::min<std::uint64_t>(piece.size() - in_cluster, out.size() - done);
      std::memcpy(out.data() + done, piece.data() + in_cluster, n);
      done += n;
    }
  }
  // Bytes past the initialized size were never written: zeros, whatever the
  // clusters hold.
  if (stream.initialized_size < offset + out.size()) {
    const std::uint64_t from = stream.initialized_size > offset ? stream.initialized_size - offset : 0;
    std::memset(out.data() + from, 0, out.size() - from);
  }
  return outcome;
}

std::uint64_t savableLength(const NtfsDataStream& stream, std::uint64_t cluster_size) {
  const std::uint64_t size = stream.resident ? stream.resident_value.size() : stream.data_size;
  if (stream.complete || stream.resident) return std::min(size, stream.data_size);
  if (cluster_size == 0) return 0;
  std::uint64_t next = 0;
  for (const DataRun& run : stream.runs) {
    if (run.vcn != next) break;
    next = run.endVcn();
  }
  if (next > size / cluster_size) return size;
  std::uint64_t found = next * cluster_size;
  // Only whole compression units decompress.
  if (stream.isCompressed() && found < size) found -= found % (stream.compressionUnitClusters() * cluster_size);
  return found;
}

Result<std::vector<std::byte>> readWholeStream(const NtfsDataStream& stream, std::uint64_t cluster_size,
                                               const ReadClusters& read_clusters, std::uint64_t max_size,
                                               StreamReadOutcome* outcome) {
  if (stream.data_size > max_size) return makeError(ErrorKind::NotFound, "stream too large");
  std::vector<std::byte> bytes(static_cast<std::size_t>(stream.data_size));
  auto read = readStreamRange(stream, cluster_size, 0, bytes, read_clusters);
  if (!read) return std::unexpected(read.error());
  if (outcome) *outcome = *read;
  return bytes;
}

}  // namespace dravolin
