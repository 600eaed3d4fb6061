#pragma once
// The carver's read buffer. The scan reads a range as consecutive blocks of
// n sectors (1000, the last one shorter) that start again at the sector
// after a rejected header; this window serves those blocks from large
// transfers (ReadSectorsAs with the block as its unit, so the end guard and
// the failure rules apply to each block as if it were read alone), keeps
// what a restart may need, and reads again only when it must: when the
// wanted sectors are not held, or when what is held came back with
// unreadable sectors (whose zero-filled extent depends on where a read
// starts, so the restarted scan must read them as it would).
#include <cstdint>
#include <memory>
#include <span>

#include "disk/sector_reader.h"

namespace dravolin {

class ScanWindow {
 public:
  // Sectors held at least by default: twice what a candidate may be
  // followed over by default, so that its restart finds what it needs.
  static constexpr std::uint64_t kDefaultCapacity = 2 * (40960 + 2048);

  // transferBlocks: blocks per transfer; the capacity is at least four
  // transfers.
  ScanWindow(SectorReader& reader, SectorNumber end, std::uint32_t blockSectors, std::uint32_t transferBlocks,
             std::uint64_t capacitySectors = kDefaultCapacity);
  ~ScanWindow();
  ScanWindow(const ScanWindow&) = delete;
  ScanWindow& operator=(const ScanWindow&) = delete;

  // When the whole range [first, end) is an image file's sectors in memory,
  // the window holds all of it in place from here on (no reads, no copies);
  // otherwise nothing changes. Returns whether it does.
  bool holdInPlace(SectorNumber first);

  // Blocks start at origin and follow each other every n sectors; the held
  // sectors stay usable when the window saw no unreadable sector there,
  // up to the last whole block of the new sequence.
  void realign(SectorNumber origin, std::uint64_t n);

  // Makes sector s and the one after it (unless that is the end) available,
  // reading the blocks that follow what is held (from blockStart, the start
  // of the block that holds s, when nothing before it is held). Sectors from
  // keepFrom on are kept when they fit, so that a restart there needs no read.
  void ensure(SectorNumber s, SectorNumber keepFrom, SectorNumber blockStart);

  // The sectors from s to the end of what is held, as one span.
  std::span<const std::byte> from(SectorNumber s) const;
  // Held sectors from first up to end (or what is held), when they came
  // from reads without unreadable sectors; empty otherwise.
  std::span<const std::byte> clean(SectorNumber first, SectorNumber end) const;
  // First sector that cannot be processed yet: its successor is not held.
  SectorNumber processableEnd() const { return validEnd_ == end_ ? end_ : validEnd_ - 1; }
  SectorNumber heldEnd() const { return validEnd_; }
  // Changes whenever held data is dropped because it was not clean, so
  // that conclusions drawn from it are dropped too.
  std::uint64_t generation() const { return generation_; }
  // Sectors read so far (for tests and statistics).
  std::uint64_t sectorsRead() const { return sectorsRead_; }

 private:
  void discard(SectorNumber at);
  bool dirtyWithin(SectorNumber first, SectorNumber last) const;

  SectorReader& reader_;
  SectorNumber end_;
  std::uint64_t blockSectors_;
  std::uint64_t transferSectors_;
  std::uint64_t capacity_;
  std::unique_ptr<std::byte[]> buffer_;  // pages are touched only when used
  std::unique_ptr<MappedSectors> inPlace_;  // the whole range, in place
  const std::byte* held_ = nullptr;         // buffer_, or the range in place
  SectorNumber bufFirst_ = 0;  // sector held at buffer_[0]
  SectorNumber validEnd_ = 0;  // sectors [bufFirst_, validEnd_) are held
  SectorNumber origin_ = 0;
  std::uint64_t n_ = 1;
  // Hull of the reads that reported unreadable sectors.
  bool dirty_ = false;
  SectorNumber dirtyFirst_ = 0, dirtyEnd_ = 0;
  bool unreadableSeen_ = false;
  std::uint64_t generation_ = 0;
  std::uint64_t sectorsRead_ = 0;
};

}  // namespace dravolin
