#include "ntfs/data_runs.h"

#include <limits>

namespace dravolin {
namespace {

// Reads a little-endian field of size bytes (1..8), sign-extended.
std::int64_t readSigned(ByteSpan data, std::size_t offset, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value |= std::uint64_t{readU8(data, offset + i)} << (8 * i);
  if (size < 8 && (value >> (8 * size - 1)) & 1) value |= ~std::uint64_t{0} << (8 * size);
  return static_cast<std::int64_t>(value);
}

}  // namespace

Result<std::vector<DataRun>> decodeDataRuns(ByteSpan runs, std::uint64_t first_vcn) {
  DecodedRuns decoded = decodeDataRunsUpToDamage(runs, first_vcn);
  if (decoded.damage) return makeError(ErrorKind::NotFound, decoded.damage);
  return std::move(decoded.runs);
}

DecodedRuns decodeDataRunsUpToDamage(ByteSpan runs, std::uint64_t first_vcn) {
  DecodedRuns decoded;
  std::vector<DataRun>& out = decoded.runs;
  auto damaged = [&decoded](const char* reason) {
    decoded.damage = reason;
    return std::move(decoded);
  };
  std::int64_t lcn = 0;
  std::uint64_t vcn = first_vcn;
  std::size_t pos = 0;
  // Each run takes at least two bytes, so this bound is never the one that
  // ends a well-formed list.
  while (pos < runs.size()) {
    const std::uint8_t header = readU8(runs, pos);
    if (header == 0) break;
    const std::size_t length_size = header & 0x0F;
    const std::size_t offset_size = header >> 4;
    if (length_size == 0 || length_size > 8 || offset_size > 8)
      return damaged("data run: field size out of range");
    if (!fitsIn(runs, pos + 1, length_size + offset_size))
      return damaged("data run past the end of the attribute");
    const std::int64_t length = readSigned(runs, pos + 1, length_size);
    if (length <= 0) return damaged("data run: bad length");
    const auto clusters = static_cast<std::uint64_t>(length);
    if (clusters > std::numeric_limits<std::uint64_t>::max() - vcn)
      return damaged("data run: cluster count overflows");
    DataRun run{vcn, 0, clusters, offset_size == 0};
    if (!run.sparse) {
      const std::int64_t delta = readSigned(runs, pos + 1 + length_size, offset_size);
      if ((delta < 0 && lcn + delta < 0) ||
          (delta > 0 && lcn > std::numeric_limits<std::int64_t>::max() - delta))
        return damaged("data run: cluster out of range");
      lcn += delta;
      run.lcn = static_cast<std::uint64_t>(lcn);
    }
    out.push_back(run);
    vcn += clusters;
    pos += 1 + length_size + offset_size;
  }
  return decoded;
}

std::uint64_t totalClusters(const std::vector<DataRun>& runs) {
  std::uint64_t total = 0;
  for (const auto& run : runs) total += run.length;
  return total;
}

}  // namespace dravolin
