#pragma once
// The body of the search-log fuzz targets: any bytes as a log of one kind.
// The reader must end, stay inside the bytes and allocate no more than the
// bytes can hold; what it accepts must write back to a log that reads to the
// same bytes again.
#include <cstddef>
#include <cstdint>
#include <span>

#include "results/search_log.h"

inline int fuzzSearchLogRoundTrip(const std::uint8_t* data, std::size_t size, dravolin::SearchLogKind kind) {
  const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
  auto log = dravolin::decodeSearchLog(bytes, kind);
  if (!log) return 0;
  const auto written = dravolin::encodeSearchLog(*log, kind);
  auto again = dravolin::decodeSearchLog(written, kind);
  if (!again || dravolin::encodeSearchLog(*again, kind) != written) __builtin_trap();
  return 0;
}
