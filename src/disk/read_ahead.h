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
// Pause and cancel of the job reach the reader between transfers: while the
// job is paused the reader does not read; once it is cancelled the reader
// ends the ring, so a worker waiting for a block unwinds at once. No more
// memory than the ring's blocks is ever used.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "common/bounded_queue.h"
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
  // the range is smaller.
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

  void fill(std::stop_token stop);
  // Holds the blocks that cover [first, first + count), in order, dropping
  // those before first. False when they cannot be held (the call is behind
  // the stream, beyond it, or larger than a block); throws JobCancelled when
  // the job was cancelled while waiting.
  bool hold(SectorNumber first, std::uint32_t count);
  bool copyFromRing(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer);
  bool beyondSelection(SectorNumber first) const {
    return reader_.selectionEnd() > 0 && first > static_cast<std::uint64_t>(reader_.selectionEnd());
  }

  SectorReader& reader_;
  Job& job_;
  SectorNumber first_;
  SectorNumber end_;
  std::uint32_t blockSectors_;
  std::vector<std::unique_ptr<std::byte[]>> memory_;
  BoundedQueue<Block> free_;
  BoundedQueue<Block> full_;
  std::deque<Block> held_;  // worker side: blocks in sector order
  SectorNumber next_;       // worker side: first sector of the next block to come
  bool ended_ = false;      // worker side: no more blocks will come
  std::uint64_t fromRing_ = 0;
  std::jthread thread_;
};

}  // namespace dravolin
