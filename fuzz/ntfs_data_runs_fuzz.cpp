// Any bytes as a run list: decoding must end within the bytes, and reading a
// stream over the decoded runs (plain or compressed, the first byte chooses)
// must stay inside its buffers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ntfs/data_runs.h"
#include "ntfs/file_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dravolin;
  if (size < 1) return 0;
  const ByteSpan runs(reinterpret_cast<const std::byte*>(data) + 1, size - 1);
  auto decoded = decodeDataRuns(runs, data[0] & 0x0F);
  if (!decoded) return 0;
  NtfsDataStream stream;
  stream.runs = std::move(*decoded);
  stream.flags = (data[0] & 0x80) ? 0x0001 : 0;
  stream.compression_unit_shift = 4;
  stream.data_size = std::min<std::uint64_t>(totalClusters(stream.runs) * 512 + (data[0] & 0x70), 64 * 1024);
  stream.initialized_size = stream.data_size - (stream.data_size / 3);
  // Clusters hold the run bytes again, so compressed units see real input.
  const ReadClusters clusters = [&](std::uint64_t lcn, std::uint64_t, std::span<std::byte> out) {
    std::fill(out.begin(), out.end(), std::byte{0});
    if (runs.empty()) return true;
    const std::size_t start = lcn % runs.size();
    for (std::size_t i = 0; i < out.size();) {
      const std::size_t n = std::min(out.size() - i, runs.size() - (i == 0 ? start : 0));
      std::memcpy(out.data() + i, runs.data() + (i == 0 ? start : 0), n);
      i += n;
    }
    return true;
  };
  std::vector<std::byte> out(stream.data_size);
  (void)readStreamRange(stream, 512, 0, out, clusters);
  return 0;
}
