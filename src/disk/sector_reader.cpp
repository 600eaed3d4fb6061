#include "disk/sector_reader.h"

#include <algorithm>
#include <cstring>

namespace dravolin {
namespace {

bool isRetry(BadSectorAnswer a) { return a == BadSectorAnswer::Retry || a == BadSectorAnswer::RetryAll; }

std::span<std::byte> slice(std::span<std::byte> buffer, std::uint64_t firstSector, std::uint64_t count) {
  return buffer.subspan(firstSector * kSectorSize, count * kSectorSize);
}

}  // namespace

BadSectorAnswer SectorReader::consultPolicy() {
  BadSectorPolicy current = policy_.load();
  if (current == BadSectorPolicy::RetryAll) return BadSectorAnswer::RetryAll;
  if (current == BadSectorPolicy::SkipAll) return BadSectorAnswer::SkipAll;
  BadSectorAnswer answer = prompter_ ? prompter_->askBadSector() : BadSectorAnswer::Retry;
  policy_.store(static_cast<BadSectorPolicy>(answer));
  return answer;
}

void SectorReader::lose(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer) {
  std::memset(buffer.data(), 0, std::uint64_t{count} * kSectorSize);
  if (unreadable_)
    for (std::uint32_t i = 0; i < count; ++i) unreadable_(first + i);
  lost_.add(first, count);
  {
    std::lock_guard lock(watchesMutex_);
    for (UnreadableSectors* watch : watches_) watch->add(first, count);
  }
  lossCount_.fetch_add(1, std::memory_order_relaxed);
}

UnreadableWatch::UnreadableWatch(SectorReader& reader) : reader_(reader) {
  std::lock_guard lock(reader_.watchesMutex_);
  reader_.watches_.push_back(&sectors_);
}

UnreadableWatch::~UnreadableWatch() {
  std::lock_guard lock(reader_.watchesMutex_);
  std::erase(reader_.watches_, &sectors_);
}

bool SectorReader::retrySectorBySector(SectorNumber first, std::uint32_t count,
                                       std::span<std::byte> buffer) {
  bool lost = false;
  // One logical sector at a time: on a disk with 4,096-byte sectors the
  // eight 512-byte units of a failing sector fail together, and reading
  // each of them alone would only read the failing sector eight times.
  const std::uint32_t step = source_.unitsPerLogicalSector();
  for (std::uint32_t i = 0; i < count;) {
    const SectorNumber at = first + i;
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(count - i, step - at % step));
    auto part = slice(buffer, i, n);
    if (source_.read(at, n, part) != TransferStatus::Ok) {
      lose(at, n, part);
      lost = true;
    }
    i += n;
  }
  return lost;
}

// The rules for a device transfer that failed: up to 40 sectors are one
// transfer; longer requests are 40-sector chunks and one remainder.
int SectorReader::readFailedDevice(SectorNumber first, std::uint32_t count,
                                   std::span<std::byte> buffer) {
  if (count <= kChunkSectors) {
    if (isRetry(consultPolicy())) retrySectorBySector(first, count, buffer);
    else lose(first, count, buffer);
    return 0;
  }
  return readChunks(first, count, buffer);
}

// 40-sector chunks and one remainder: a failing chunk is lost or read again
// sector by sector as the policy says, a failing remainder likewise but
// without a question; the result is the last chunk's, 0 when the remainder
// fails.
int SectorReader::readChunks(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer) {
  int result = 1;
  const std::uint32_t chunks = count / kChunkSectors;
  for (std::uint32_t c = 0; c < chunks; ++c) {
    SectorNumber chunkFirst = first + std::uint64_t{c} * kChunkSectors;
    auto part = slice(buffer, std::uint64_t{c} * kChunkSectors, kChunkSectors);
    if (policy_.load() == BadSectorPolicy::RetryAll && finerReadsDecide(chunkFirst, kChunkSectors)) {
      // Nothing is asked and a failing chunk is read sector by sector
      // anyway: its own transfer would only read its bad sectors once more.
      // A chunk holds a failing sector exactly when one of its sectors fails
      // (inside the source: beyond its end a chunk reads as zeros, a single
      // sector not at all).
      result = retrySectorBySector(chunkFirst, kChunkSectors, part) ? 0 : 1;
      continue;
    }
    if (source_.read(chunkFirst, kChunkSectors, part) == TransferStatus::Ok) {
      result = 1;
      continue;
    }
    result = 0;
    if (isRetry(consultPolicy())) retrySectorBySector(chunkFirst, kChunkSectors, part);
    else lose(chunkFirst, kChunkSectors, part);
  }
  const std::uint32_t rest = count - chunks * kChunkSectors;
  if (rest > 0) {
    SectorNumber restFirst = first + std::uint64_t{chunks} * kChunkSectors;
    auto part = slice(buffer, std::uint64_t{chunks} * kChunkSectors, rest);
    // A failing remainder ends the call with 0 and asks nothing; while the
    // policy says Retry its sectors are read again one by one as a chunk's
    // are, so that only those that stay unreadable are lost.
    const BadSectorPolicy policy = policy_.load();
    const bool retry = policy == BadSectorPolicy::Retry || policy == BadSectorPolicy::RetryAll;
    if (policy == BadSectorPolicy::RetryAll && finerReadsDecide(restFirst, rest))
      return retrySectorBySector(restFirst, rest, part) ? 0 : result;
    if (source_.read(restFirst, rest, part) != TransferStatus::Ok) {
      if (retry) retrySectorBySector(restFirst, rest, part);
      else lose(restFirst, rest, part);
      return 0;
    }
  }
  return result;
}

bool SectorReader::finerReadsDecide(SectorNumber first, std::uint64_t count) const {
  return source_.failsBySector() && !beyondEnd(first) && first <= source_.sectorCount() &&
         count <= source_.sectorCount() - first;
}

int SectorReader::ReadSectorAfterFailure(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer) {
  const std::uint64_t bytes = std::uint64_t{count} * kSectorSize;
  if (buffer.size() < bytes || count == 0 || !finerReadsDecide(first, count)) return ReadSector(first, count, buffer);
  auto target = buffer.first(bytes);
  // Longer calls are decided by their chunks (a healthy call reads whole in
  // them, with the result 1 its own transfer gives).
  if (count > kChunkSectors) return readChunks(first, count, target);
  // Under RetryAll a failing call is read sector by sector: do that at once.
  if (policy_.load() == BadSectorPolicy::RetryAll) return retrySectorBySector(first, count, target) ? 0 : 1;
  // Otherwise the call's own transfer is what decides (and what is asked about).
  return ReadSector(first, count, buffer);
}

int SectorReader::ReadSector(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer) {
  const std::uint64_t bytes = std::uint64_t{count} * kSectorSize;
  if (buffer.size() < bytes) return 0;
  auto target = buffer.first(bytes);
  if (beyondEnd(first)) {
    std::memset(target.data(), 0, bytes);
    return 0;
  }
  TransferStatus status = source_.read(first, count, target);
  if (status == TransferStatus::Ok) return 1;
  if (status == TransferStatus::PastEnd) {
    // Sectors the source does not have are not bad sectors: nothing to ask
    // about and nothing a retry could bring back.
    std::memset(target.data(), 0, bytes);
    return 0;
  }
  if (source_.isImage() && status == TransferStatus::Missing) {
    // An image file that does not reach the sector: one more attempt on
    // Retry, zeros otherwise.
    if (isRetry(consultPolicy()) && source_.read(first, count, target) == TransferStatus::Ok) return 1;
    std::memset(target.data(), 0, bytes);
    return 0;
  }
  return readFailedDevice(first, count, target);
}

int SectorReader::ReadSectorsAs(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer,
                                std::uint32_t unit) {
  return readSeries(first, count, buffer, unit, false);
}

int SectorReader::ReadSectorsAsAfterFailure(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer,
                                            std::uint32_t unit) {
  return readSeries(first, count, buffer, unit, true);
}

int SectorReader::readSeries(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer,
                             std::uint32_t unit, bool failed) {
  const std::uint64_t bytes = std::uint64_t{count} * kSectorSize;
  if (buffer.size() < bytes || unit == 0) return 0;
  // Calls of the series that start beyond the selection end read zeros.
  std::uint64_t served = count;
  if (selectionEnd_ > 0) {
    auto end = static_cast<std::uint64_t>(selectionEnd_);
    served = first > end ? 0 : std::min<std::uint64_t>(count, ((end - first) / unit + 1) * unit);
  }
  if (served < count) std::memset(buffer.data() + served * kSectorSize, 0, (count - served) * kSectorSize);
  if (served == 0) return 0;
  auto target = buffer.first(served * kSectorSize);
  // A transfer known to fail is not made again, where the calls of the
  // series meet the same sectors it would.
  if (!(failed && finerReadsDecide(first, served)) &&
      source_.read(first, static_cast<std::uint32_t>(served), target) == TransferStatus::Ok)
    return served == count ? 1 : 0;
  // A failure: replay the series call by call so every rule applies as it
  // would have to each call; the transfer that failed is not repeated where
  // the calls' finer reads decide alone.
  int result = 0;
  for (std::uint64_t done = 0; done < served; done += unit) {
    auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(unit, served - done));
    result = ReadSectorAfterFailure(first + done, n, slice(buffer, done, n));
  }
  return served == count ? result : 0;
}

int SectorReader::WriteSector(SectorNumber first, std::uint32_t count, std::span<const std::byte> data) {
  const std::uint64_t bytes = std::uint64_t{count} * kSectorSize;
  if (data.size() < bytes) return 0;
  if (source_.write(first, count, data.first(bytes)) == TransferStatus::Ok) return 1;
  auto rewrite = [&](SectorNumber from, std::uint64_t offsetSectors, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i)
      (void)source_.write(from + i, 1, data.subspan((offsetSectors + i) * kSectorSize, kSectorSize));
  };
  if (count <= kChunkSectors) {
    rewrite(first, 0, count);
    return 0;
  }
  int result = 1;
  const std::uint32_t chunks = count / kChunkSectors;
  for (std::uint32_t c = 0; c < chunks; ++c) {
    std::uint64_t offset = std::uint64_t{c} * kChunkSectors;
    if (source_.write(first + offset, kChunkSectors, data.subspan(offset * kSectorSize, kChunkSectors * kSectorSize)) ==
        TransferStatus::Ok) {
      result = 1;
      continue;
    }
    result = 0;
    rewrite(first + offset, offset, kChunkSectors);
  }
  const std::uint32_t rest = count - chunks * kChunkSectors;
  if (rest > 0) {
    std::uint64_t offset = std::uint64_t{chunks} * kChunkSectors;
    if (source_.write(first + offset, rest, data.subspan(offset * kSectorSize, std::uint64_t{rest} * kSectorSize)) !=
        TransferStatus::Ok)
      return 0;
  }
  return result;
}

SectorBuffer readSectorOrZeros(SectorReader& reader, SectorNumber sector) {
  SectorBuffer buffer{};
  (void)reader.ReadSector(sector, 1, buffer);
  return buffer;
}

}  // namespace dravolin
