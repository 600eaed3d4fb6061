#pragma once
// A read-ahead stream for passes that read a range from start to end. A
// reader thread fills a small ring of large blocks with raw transfers from
// the source ahead of the worker, so that reading and the work on what was
// read overlap. The worker keeps making the same logical calls
// (ReadSector, ReadSectorsAs, with the end guard of each call): a call whose
// sectors lie in blocks that were read whole is served from the ring; any
// other call (a block whose transfer failed, a call behind the stream or
// beyond its range, a call larger than a block) goes to the SectorReader,
// which runs its failure rules (policy, chunks, retries, zero-fill,
// unreadable sink) on the worker's thread, in sector order, as without the
// stream. So what the worker sees, the questions asked and the sectors lost
// are those of the plain path.
//
// An image file needs no reader thread: where its pages are in memory
// already, the stream maps them and the worker looks at them in place, with
// no copy at all (on a warm page cache, copying was most of a pass's time,
// and handing copies between two processor cores cost more than the work
// they hid). A stretch with a page out of memory is read the plain way,
// which brings it in, with the same failure rules.
//
// Pause and cancel of the job reach the reader between transfers: while the
// job is paused the reader does not read; once it is cancelled the reader
// ends the ring, so a worker waiting for a block goes on at once on the plain
// path and unwinds at its next checkpoint. No more memory than the ring's
// blocks (or one mapped stretch) is ever used.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "common/job.h"
#include "disk/sector_reader.h"

namespace dravolin {

class ReadAheadStream {
 public:
  // 1 MiB: large transfers for a disk, while the ring stays small enough
  // for the processor cache, so what the reader brings is still there when
  // the worker looks at it.
  static constexpr std::uint32_t kDefaultBlockSectors = 2048;
  static constexpr std::size_t kDefaultBlocks = 4;

  // Streams the sectors [first, end) of the reader's source (clipped to its
  // size). blocks is at least 2; blockSectors is lowered to the range when
  // the range is smaller. A pass whose calls never straddle two blocks
  // (blockSectors a multiple of its step, the stream starting where the
  // pass starts) is served without a copy.
  ReadAheadStream(SectorReader& reader, Job& job, SectorNumber first, SectorNumber end,
                  std::uint32_t blockSectors = kDefaultBlockSectors, std::size_t blocks = kDefaultBlocks);
  ~ReadAheadStream();
  ReadAheadStream(const ReadAheadStream&) = delete;
  ReadAheadStream& operator=(const ReadAheadStream&) = delete;

  SectorReader& reader() { return reader_; }

  // As SectorReader::ReadSector and SectorReader::ReadSectorsAs.
  int ReadSector(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer);
  int ReadSectorsAs(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer, std::uint32_t unit);

  // The sectors [first, first + count) as ReadSector would return them with
  // result 1, straight from the ring without a copy, when one block that was
  // read whole holds them all; empty otherwise (then call ReadSector). The
  // span stays valid until the next call on the stream.
  std::span<const std::byte> view(SectorNumber first, std::uint32_t count);

  // What ReadSector(first, count, scratch) would leave in scratch: the
  // ring's bytes when one block read whole holds them (no copy), else
  // scratch after that very call. Valid until the next call on the stream.
  std::span<const std::byte> read(SectorNumber first, std::uint32_t count, std::span<std::byte> scratch);

  // Sectors served from the ring so far (for tests and statistics).
  std::uint64_t sectorsFromRing() const { return fromRing_; }

 private:
  struct Block {
    std::byte* data = nullptr;
    SectorNumber first = 0;
    std::uint32_t count = 0;
    bool ok = false;
    SectorNumber end() const { return first + count; }
  };

  void fill();
  // Holds the blocks that cover [first, first + count), in order, handing
  // back those before first. False when they cannot be held (the call is
  // behind the stream, beyond it, or larger than a block, or the stream
  // ended).
  bool hold(SectorNumber first, std::uint32_t count);
  enum class RingCopy { Copied, NotHeld, Failed };
  // Failed: a block under the call was read and its transfer failed (the
  // reader is then told so, and does not repeat that transfer).
  RingCopy copyFromRing(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer);
  // In place: the mapped sectors [first, first + count), mapping the next
  // stretch when the one held does not cover them; empty when they cannot
  // be mapped (then the plain path reads them).
  std::span<const std::byte> mapped(SectorNumber first, std::uint32_t count);
  bool beyondSelection(SectorNumber first) const {
    return reader_.selectionEnd() > 0 && first > static_cast<std::uint64_t>(reader_.selectionEnd());
  }
  Block& slot(std::uint64_t n) { return slots_[n % slots_.size()]; }
  void release();
  void finish();

  SectorReader& reader_;
  Job& job_;
  SectorNumber first_;
  SectorNumber end_;
  std::uint32_t blockSectors_;
  // Aligned for direct transfers from a device, so that they need no copy.
  struct FreeDeleter {
    void operator()(std::byte* p) const { std::free(p); }
  };
  std::vector<std::unique_ptr<std::byte, FreeDeleter>> memory_;
  // The ring: block n lives in slot n modulo the slot count. The reader
  // fills block n once the worker has handed back block n - slots; the
  // worker holds the blocks [released_, taken_). Both sides spin briefly
  // before they sleep, as a hand-over costs a wake-up otherwise.
  std::vector<Block> slots_;
  std::atomic<std::uint64_t> filled_{0};    // blocks the reader has filled
  std::atomic<std::uint64_t> released_{0};  // blocks the worker has handed back
  std::atomic<bool> finished_{false};       // the reader will fill no more
  std::atomic<bool> stop_{false};           // the stream is going away
  std::atomic<std::uint32_t> readerSignal_{0};  // bumped on fill and finish
  std::atomic<std::uint32_t> workerSignal_{0};  // bumped on release and stop
  std::atomic<std::uint32_t> readerSleepers_{0};  // threads asleep on readerSignal_
  std::atomic<std::uint32_t> workerSleepers_{0};  // threads asleep on workerSignal_
  std::uint64_t taken_ = 0;                 // worker side
  SectorNumber next_;                       // worker side: first sector of the next block to come
  std::uint64_t fromRing_ = 0;
  std::thread thread_;
  // Image files are not copied at all: stretches of blocks are mapped in
  // place, and no reader thread runs.
  bool inPlace_ = false;
  std::unique_ptr<MappedSectors> mapping_;
  SectorNumber mapFirst_ = 0, mapEnd_ = 0;        // what mapping_ holds
  SectorNumber failedFirst_ = 0, failedEnd_ = 0;  // a stretch that could not be mapped
};

}  // namespace dravolin
