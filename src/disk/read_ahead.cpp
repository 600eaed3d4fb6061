#include "disk/read_ahead.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

namespace dravolin {
namespace {

std::size_t ringBlocks(std::size_t blocks) { return std::max<std::size_t>(blocks, 2); }

// An image file in memory is mapped a stretch of this many blocks at a time:
// fewer mappings, each still small.
constexpr std::uint64_t kStretchBlocks = 16;

constexpr std::size_t kRingAlignment = 4096;

void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#else
  std::this_thread::yield();
#endif
}

// Waits until ready() holds: a short spin first, since the other side is
// usually a few microseconds away from it, then sleeps on signal, which the
// other side bumps whenever ready() may have changed; it wakes a sleeper
// only when there is one, as a wake-up is a system call.
template <class Ready>
void await(std::atomic<std::uint32_t>& signal, std::atomic<std::uint32_t>& sleepers, Ready ready) {
  const auto spinUntil = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
  for (int i = 1;; ++i) {
    if (ready()) return;
    cpuRelax();
    if (i % 64 == 0 && std::chrono::steady_clock::now() > spinUntil) break;
  }
  for (;;) {
    const std::uint32_t seen = signal.load(std::memory_order_seq_cst);
    sleepers.fetch_add(1, std::memory_order_seq_cst);
    if (ready()) {
      sleepers.fetch_sub(1, std::memory_order_seq_cst);
      return;
    }
    signal.wait(seen, std::memory_order_seq_cst);
    sleepers.fetch_sub(1, std::memory_order_seq_cst);
  }
}

void bump(std::atomic<std::uint32_t>& signal, std::atomic<std::uint32_t>& sleepers) {
  signal.fetch_add(1, std::memory_order_seq_cst);
  if (sleepers.load(std::memory_order_seq_cst) != 0) signal.notify_all();
}

}  // namespace

ReadAheadStream::ReadAheadStream(SectorReader& reader, Job& job, SectorNumber first, SectorNumber end,
                                 std::uint32_t blockSectors, std::size_t blocks)
    : reader_(reader),
      job_(job),
      first_(first),
      end_(std::min<SectorNumber>(end, reader.source().sectorCount())),
      blockSectors_(std::max<std::uint32_t>(blockSectors, 1)),
      next_(first) {
  if (first_ >= end_) {
    finished_ = true;
    return;
  }
  blockSectors_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(blockSectors_, end_ - first_));
  // An image file in the page cache is looked at where it lies: a thread
  // copying it into a ring costs more than the work it would hide. One that
  // has to come from its disk (its first stretch is not in memory) is read
  // ahead on a thread like a device, so that the disk's time and the work
  // overlap instead of adding up.
  if (reader.source().mapsInPlace()) {
    const SectorNumber whole = reader.source().sizeInBytes() / kSectorSize;
    const SectorNumber probeEnd = std::min<SectorNumber>({end_, whole, first_ + blockSectors_ * kStretchBlocks});
    if (probeEnd > first_) mapping_ = reader.source().map(first_, static_cast<std::uint32_t>(probeEnd - first_));
    if (mapping_) {
      // The first stretch, kept for the first calls.
      mapFirst_ = first_;
      mapEnd_ = probeEnd;
      inPlace_ = true;
      finished_ = true;
      return;
    }
  }
  slots_.resize(ringBlocks(blocks));
  // Page-aligned (a device's logical block is at most a page in practice),
  // so that a device read with O_DIRECT transfers straight into the ring.
  // Not value-initialised: pages are touched only when a transfer fills them.
  const std::size_t bytes = (std::size_t{blockSectors_} * kSectorSize + kRingAlignment - 1) / kRingAlignment *
                            kRingAlignment;
  for (Block& b : slots_) {
    auto* memory = static_cast<std::byte*>(std::aligned_alloc(kRingAlignment, bytes));
    if (!memory) throw std::bad_alloc();
    memory_.emplace_back(memory);
    b.data = memory_.back().get();
  }
  thread_ = std::thread([this] { fill(); });
}

ReadAheadStream::~ReadAheadStream() {
  stop_.store(true, std::memory_order_release);
  bump(workerSignal_, workerSleepers_);
  if (thread_.joinable()) thread_.join();
}

void ReadAheadStream::finish() {
  finished_.store(true, std::memory_order_release);
  bump(readerSignal_, readerSleepers_);
}

void ReadAheadStream::release() {
  released_.fetch_add(1, std::memory_order_acq_rel);
  bump(workerSignal_, workerSleepers_);
}

// The reader thread: one raw transfer per block, in order, while the worker
// hands blocks back.
void ReadAheadStream::fill() {
  auto ended = [&] { return stop_.load(std::memory_order_acquire) || job_.cancelRequested(); };
  std::uint64_t n = 0;
  for (SectorNumber next = first_; next < end_; ++n) {
    // Paused: no transfer until the job resumes or ends.
    while (job_.pauseRequested() && !ended()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    // A free slot: the worker has handed back block n - slots.
    await(workerSignal_, workerSleepers_, [&] { return ended() || n - released_.load(std::memory_order_acquire) < slots_.size(); });
    if (ended()) break;
    Block& block = slot(n);
    block.first = next;
    block.count = static_cast<std::uint32_t>(std::min<std::uint64_t>(blockSectors_, end_ - next));
    std::span<std::byte> target(block.data, std::size_t{block.count} * kSectorSize);
    block.ok = reader_.source().read(next, block.count, target) == TransferStatus::Ok;
    next += block.count;
    filled_.store(n + 1, std::memory_order_release);
    bump(readerSignal_, readerSleepers_);
  }
  // Done or cancelled: a worker waiting for a block stops waiting and
  // finishes its call on the plain path.
  finish();
}

bool ReadAheadStream::hold(SectorNumber first, std::uint32_t count) {
  if (count == 0 || count > blockSectors_ || first < first_ || first >= end_ || count > end_ - first) return false;
  std::uint64_t released = released_.load(std::memory_order_relaxed);
  while (released < taken_ && slot(released).end() <= first) {
    release();
    ++released;
  }
  // Behind the stream: those blocks were handed back already.
  if (released == taken_ ? first < next_ : first < slot(released).first) return false;
  while (released == taken_ || slot(taken_ - 1).end() < first + count) {
    await(readerSignal_, readerSleepers_, [&] {
      return filled_.load(std::memory_order_acquire) > taken_ || finished_.load(std::memory_order_acquire);
    });
    if (filled_.load(std::memory_order_acquire) <= taken_) return false;  // finished
    const Block& block = slot(taken_);
    ++taken_;
    next_ = block.end();
    if (block.end() <= first) {
      release();  // skipped over
      ++released;
    }
  }
  return true;
}

std::span<const std::byte> ReadAheadStream::mapped(SectorNumber first, std::uint32_t count) {
  if (count == 0 || first < first_ || first >= end_ || count > end_ - first) return {};
  const SectorNumber end = first + count;
  if (!mapping_ || first < mapFirst_ || end > mapEnd_) {
    if (first < failedEnd_ && failedFirst_ < end) return {};
    // A partial last sector is padded by read(), so it is never mapped.
    const SectorNumber whole = reader_.source().sizeInBytes() / kSectorSize;
    if (end > whole) return {};
    mapping_.reset();
    const SectorNumber stretchEnd =
        std::min<SectorNumber>({end_, whole, std::max<SectorNumber>(end, first + blockSectors_ * kStretchBlocks)});
    mapping_ = reader_.source().map(first, static_cast<std::uint32_t>(stretchEnd - first));
    if (!mapping_) {
      // Not readable as a whole (a bad page, the end of the file): this
      // stretch goes the plain way, which finds out what can be read.
      failedFirst_ = first;
      failedEnd_ = stretchEnd;
      return {};
    }
    mapFirst_ = first;
    mapEnd_ = stretchEnd;
  }
  fromRing_ += count;
  return mapping_->bytes().subspan((first - mapFirst_) * kSectorSize, std::size_t{count} * kSectorSize);
}

ReadAheadStream::RingCopy ReadAheadStream::copyFromRing(SectorNumber first, std::uint32_t count,
                                                         std::span<std::byte> buffer) {
  if (inPlace_) {
    const std::span<const std::byte> held = mapped(first, count);
    if (held.empty()) return RingCopy::NotHeld;
    std::memcpy(buffer.data(), held.data(), held.size());
    return RingCopy::Copied;
  }
  if (!hold(first, count)) return RingCopy::NotHeld;
  const SectorNumber end = first + count;
  const std::uint64_t released = released_.load(std::memory_order_relaxed);
  for (std::uint64_t n = released; n < taken_; ++n) {
    const Block& b = slot(n);
    if (b.first < end && first < b.end() && !b.ok) return RingCopy::Failed;
  }
  for (std::uint64_t n = released; n < taken_; ++n) {
    const Block& b = slot(n);
    if (b.first >= end || b.end() <= first) continue;
    const SectorNumber from = std::max(first, b.first);
    const SectorNumber to = std::min(end, b.end());
    std::memcpy(buffer.data() + (from - first) * kSectorSize, b.data + (from - b.first) * kSectorSize,
                (to - from) * kSectorSize);
  }
  fromRing_ += count;
  return RingCopy::Copied;
}

std::span<const std::byte> ReadAheadStream::view(SectorNumber first, std::uint32_t count) {
  if (beyondSelection(first)) return {};
  if (inPlace_) return mapped(first, count);
  if (!hold(first, count)) return {};
  const Block& b = slot(released_.load(std::memory_order_relaxed));
  if (!b.ok || first < b.first || first + count > b.end()) return {};
  fromRing_ += count;
  return {b.data + (first - b.first) * kSectorSize, std::size_t{count} * kSectorSize};
}

std::span<const std::byte> ReadAheadStream::read(SectorNumber first, std::uint32_t count,
                                                 std::span<std::byte> scratch) {
  const std::span<const std::byte> held = view(first, count);
  if (!held.empty()) return held;
  const std::size_t bytes = std::min<std::size_t>(scratch.size(), std::size_t{count} * kSectorSize);
  (void)ReadSector(first, count, scratch);
  return scratch.first(bytes);
}

int ReadAheadStream::ReadSector(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer) {
  const std::uint64_t bytes = std::uint64_t{count} * kSectorSize;
  if (buffer.size() >= bytes && !beyondSelection(first)) {
    switch (copyFromRing(first, count, buffer.first(bytes))) {
      case RingCopy::Copied: return 1;
      case RingCopy::Failed: return reader_.ReadSectorAfterFailure(first, count, buffer);
      case RingCopy::NotHeld: break;
    }
  }
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
  if (servedWhole) {
    switch (copyFromRing(first, count, buffer.first(bytes))) {
      case RingCopy::Copied: return 1;
      case RingCopy::Failed: return reader_.ReadSectorsAsAfterFailure(first, count, buffer, unit);
      case RingCopy::NotHeld: break;
    }
  }
  return reader_.ReadSectorsAs(first, count, buffer, unit);
}

}  // namespace dravolin
