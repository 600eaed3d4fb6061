#pragma once
// ReadSector and WriteSector: the one path by which sectors are read from a
// source and written to an imaging target. On top of a SectorSource they add
// the end guard of the committed selection, the bad-sector policy and the
// 40-sector chunk rules for failures. Healthy disks are read in one transfer
// per call; the chunk and sector-by-sector rules run only when a transfer
// fails, so results are the same as if every call were chunked, and what
// could not be read is zero-filled, never left stale.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

#include "common/prompter.h"
#include "disk/sector_source.h"
#include "disk/unreadable_sectors.h"

namespace dravolin {

enum class BadSectorPolicy { Retry = 0, Skip = 1, RetryAll = 2, SkipAll = 3 };

inline constexpr std::uint32_t kChunkSectors = 40;

class SectorReader {
 public:
  explicit SectorReader(SectorSource& source, Prompter* prompter = nullptr)
      : source_(source), prompter_(prompter) {}

  SectorSource& source() { return source_; }
  void setPrompter(Prompter* prompter) { prompter_ = prompter; }

  // End sector of the committed selection; 0 means no selection yet.
  void setSelectionEnd(std::int64_t end) { selectionEnd_ = end; }
  std::int64_t selectionEnd() const { return selectionEnd_; }

  BadSectorPolicy policy() const { return policy_.load(); }
  void setPolicy(BadSectorPolicy policy) { policy_.store(policy); }

  // Called with each sector that stayed unreadable (zero-filled).
  void setUnreadableSink(std::function<void(SectorNumber)> sink) { unreadable_ = std::move(sink); }

  // Every sector this reader zero-filled because it stayed unreadable, since
  // it was made.
  const UnreadableSectors& unreadable() const { return lost_; }
  // How many times sectors were lost; grows with every loss, so a caller can
  // tell cheaply whether a read lost anything.
  std::uint64_t lossCount() const { return lossCount_.load(std::memory_order_relaxed); }

  // Reads count sectors into buffer (count * 512 bytes). Nonzero on success.
  // A request whose first sector lies beyond the selection end reads zeros
  // and returns 0; one that starts at or below it is served whole.
  int ReadSector(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer);

  // Reads like a series of ReadSector calls of unit sectors each (the end
  // guard and the failure rules applied per call), but in one transfer while
  // the disk is healthy. Returns the result of the last call of the series.
  int ReadSectorsAs(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer,
                    std::uint32_t unit);

  // As ReadSector and ReadSectorsAs, for a call inside a larger transfer
  // that has just failed (a read-ahead block, say): where finer reads decide
  // alone what the call gives, its own transfer is left out, so that a bad
  // sector is not read once more for nothing. Results, questions and losses
  // are those of the plain calls.
  int ReadSectorAfterFailure(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer);
  int ReadSectorsAsAfterFailure(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer,
                                std::uint32_t unit);

  // Writes count sectors to the source (imaging targets only). Nonzero on
  // success. A failed transfer is written again sector by sector; the
  // bad-sector policy is not consulted.
  int WriteSector(SectorNumber first, std::uint32_t count, std::span<const std::byte> data);

 private:
  BadSectorAnswer consultPolicy();
  int readFailedDevice(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer);
  int readChunks(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer);
  int readSeries(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer, std::uint32_t unit,
                 bool failed);
  // Whether a call may leave out its own transfer: the source fails by
  // sector and has every sector of the call (no end guard, nothing beyond
  // its end), so the finer reads meet exactly what the transfer would.
  bool finerReadsDecide(SectorNumber first, std::uint64_t count) const;
  // True when a sector stayed unreadable.
  bool retrySectorBySector(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer);
  void lose(SectorNumber first, std::uint32_t count, std::span<std::byte> buffer);
  bool beyondEnd(SectorNumber first) const {
    return selectionEnd_ > 0 && first > static_cast<std::uint64_t>(selectionEnd_);
  }

  SectorSource& source_;
  Prompter* prompter_;
  std::int64_t selectionEnd_ = 0;
  std::atomic<BadSectorPolicy> policy_{BadSectorPolicy::Retry};
  std::function<void(SectorNumber)> unreadable_;
  UnreadableSectors lost_;
  std::atomic<std::uint64_t> lossCount_{0};
  std::mutex watchesMutex_;
  std::vector<UnreadableSectors*> watches_;
  friend class UnreadableWatch;
};

// The sectors a reader loses while the watch lives: a job keeps one for its
// run and reports what it saw. Watches may nest (a job and one file of it).
class UnreadableWatch {
 public:
  explicit UnreadableWatch(SectorReader& reader);
  ~UnreadableWatch();
  UnreadableWatch(const UnreadableWatch&) = delete;
  UnreadableWatch& operator=(const UnreadableWatch&) = delete;

  const UnreadableSectors& sectors() const { return sectors_; }

 private:
  SectorReader& reader_;
  UnreadableSectors sectors_;
};

using SectorBuffer = std::array<std::byte, kSectorSize>;

// Reads one sector into a cleared buffer: a failed read parses as an empty
// structure.
SectorBuffer readSectorOrZeros(SectorReader& reader, SectorNumber sector);

}  // namespace dravolin
