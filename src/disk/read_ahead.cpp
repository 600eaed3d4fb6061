#include "disk/read_ahead.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace dravolin {
namespace {

std::size_t ringBlocks(std::size_t blocks) { return std::max<std::size_t>(blocks, 2); }

}  // namespace

ReadAheadStream::ReadAheadStream(SectorReader& reader, Job& job, SectorNumber first, SectorNumber end,
                                 std::uint32_t blockSectors, std::size_t blocks)
    : reader_(reader),
      job_(job),
      first_(first),
      end_(std::min<SectorNumber>(end, reader.source().sectorCount())),
      blockSectors_(std::max<std::uint32_t>(blockSectors, 1)),
      free_(ringBlocks(blocks)),
      full_(ringBlocks(blocks)),
      next_(first) {
  if (first_ >= end_) {
    ended_ = true;
    return;
  }
  blockSectors_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(blockSectors_, end_ - first_));
  for (std::size_t i = 0; i < ringBlocks(blocks); ++i) {
    // Not value-initialised: pages are touched only when a transfer fills them.
    memory_.emplace_back(new std::byte[std::size_t{blockSectors_} * kSectorSize]);
    (void)free_.push(Block{memory_.back().get()});
  }
  thread_ = std::jthread([this](std::stop_token stop) { fill(stop); });
}

ReadAheadStream::~ReadAheadStream() {
  if (thread_.joinable()) thread_.request_stop();
  free_.abort();
  full_.abort();
  if (thread_.joinable()) thread_.join();
}

// The reader thread: one raw transfer per block, in order, while the worker
// hands blocks back.
void ReadAheadStream::fill(std::stop_token stop) {
  auto ended = [&] { return stop.stop_requested() || job_.cancelRequested(); };
  for (SectorNumber next = first_; next < end_;) {
    // Paused: no transfer until the job resumes or ends.
    while (job_.pauseRequested() && !ended()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (ended()) {
      // Cancelled: a worker waiting for a block stops waiting and finishes
      // its call on the plain path, then unwinds at its next checkpoint.
      full_.abort();
      free_.abort();
      return;
    }
    std::optional<Block> block = free_.pop();
    if (!block) return;
    block->first = next;
    block->count = static_cast<std::uint32_t>(std::min<std::uint64_t>(blockSectors_, end_ - next));
    std::span<std::byte> target(block->data, std::size_t{block->count} * kSectorSize);
    block->ok = reader_.source().read(next, block->count, target) == TransferStatus::Ok;
    next += block->count;
    if (!full_.push(*block)) return;
  }
  full_.close();
}

bool ReadAheadStream::hold(SectorNumber first, std::uint32_t count) {
  if (count == 0 || count > blockSectors_ || first < first_ || first >= end_ || count > end_ - first) return false;
  while (!held_.empty() && held_.front().end() <= first) {
    (void)free_.push(held_.front());
    held_.pop_front();
  }
  // Behind the stream: those blocks were handed back already.
  if (held_.empty() ? first < next_ : first < held_.front().first) return false;
  while (held_.empty() || held_.back().end() < first + count) {
    if (ended_) return false;
    std::optional<Block> block = full_.pop();
    if (!block) {
      ended_ = true;
      return false;
    }
    next_ = block->end();
    if (block->end() <= first) {
      (void)free_.push(*block);  // skipped over
      continue;
    }
    held_.push_back(*block);
  }
  return true;
}

bool ReadAheadStream::copyFromRing(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer) {
  if (!hold(first, count)) return false;
  const SectorNumber end = first + count;
  for (const Block& b : held_)
    if (b.first < end && first < b.end() && !b.ok) return false;
  for (const Block& b : held_) {
    if (b.first >= end || b.end() <= first) continue;
    const SectorNumber from = std::max(first, b.first);
    const SectorNumber to = std::min(end, b.end());
    std::memcpy(buffer.data() + (from - first) * kSectorSize, b.data + (from - b.first) * kSectorSize,
                (to - from) * kSectorSize);
  }
  fromRing_ += count;
  return true;
}

std::span<const std::byte> ReadAheadStream::view(SectorNumber first, std::uint32_t count) {
  if (beyondSelection(first) || !hold(first, count)) return {};
  const Block& b = held_.front();
  if (!b.ok || first < b.first || first + count > b.end()) return {};
  fromRing_ += count;
  return {b.data + (first - b.first) * kSectorSize, std::size_t{count} * kSectorSize};
}

int ReadAheadStream::ReadSector(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer) {
  const std::uint64_t bytes = std::uint64_t{count} * kSectorSize;
  if (buffer.size() >= bytes && !beyondSelection(first) && copyFromRing(first, count, buffer.first(bytes))) return 1;
  return reader_.ReadSector(first, count, buffer);
}

int ReadAheadStream::ReadSectorsAs(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer,
                                   std::uint32_t unit) {
  const std::uint64_t bytes = std::uint64_t{count} * kSectorSize;
  // Only a series whose every call is served whole comes from the ring; one
  // that runs into the end guard is read as the reader reads it.
  bool servedWhole = buffer.size() >= bytes && unit != 0;
  if (servedWhole && reader_.selectionEnd() > 0) {
    const auto end = static_cast<std::uint64_t>(reader_.selectionEnd());
    servedWhole = first <= end && ((end - first) / unit + 1) * unit >= count;
  }
  if (servedWhole && copyFromRing(first, count, buffer.first(bytes))) return 1;
  return reader_.ReadSectorsAs(first, count, buffer, unit);
}

}  // namespace dravolin
