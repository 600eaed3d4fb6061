#pragma once
// Two threads sweeping one range from both ends: the worker takes units
// (sectors, clusters) upwards from the start, a helper takes stretches
// downwards from the end, each only what the other has not taken, until
// they meet. The helper may give its last stretch back (one it could not
// read whole); the worker then sweeps it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "common/job.h"
#include "disk/sector_reader.h"

namespace dravolin {

// The end of the sectors [first, end) that two threads may sweep: first
// when they may not. Only an image file shown in place, only what lies in
// the file and the selection, only a range of more than `minimum` sectors
// and under 2^32, and only while all of it is in memory: read from the
// medium, two places at once would make a rotating disk seek between them.
inline SectorNumber twoThreadSweepEnd(SectorReader& reader, SectorNumber first, SectorNumber end,
                                      std::uint64_t minimum) {
  SectorSource& source = reader.source();
  if (!source.mapsInPlace()) return first;
  SectorNumber limit = std::min(end, source.sizeInBytes() / kSectorSize);
  if (reader.selectionEnd() > 0) limit = std::min<SectorNumber>(limit, static_cast<std::uint64_t>(reader.selectionEnd()));
  if (limit <= first + minimum || limit - first >= (std::uint64_t{1} << 32)) return first;
  if (!source.map(first, static_cast<std::uint32_t>(limit - first))) return first;
  return limit;
}

class SweepMeeting {
 public:
  SweepMeeting(std::uint64_t low, std::uint64_t high) : low_(low), high_(high) {}
  // The worker: the end of the units [first, want) it may take; first when
  // the helper holds first already.
  std::uint64_t up(std::uint64_t first, std::uint64_t want) {
    std::lock_guard lock(mutex_);
    low_ = std::max(first, std::min(want, high_));
    return low_;
  }
  // The helper: the start of the stretch of at most size units below the
  // last it took, which is then its own; the same unit when none is left.
  std::uint64_t down(std::uint64_t size) {
    std::lock_guard lock(mutex_);
    high_ = std::max(low_, high_ - std::min(high_, size));
    return high_;
  }
  // The helper gives back its last stretch, [from, to).
  void giveBack(std::uint64_t from, std::uint64_t to) {
    std::lock_guard lock(mutex_);
    if (high_ == from) high_ = to;
  }
  // Where the worker stands and where the helper's stretches start; once
  // both are done, the units neither took.
  std::pair<std::uint64_t, std::uint64_t> gap() {
    std::lock_guard lock(mutex_);
    return {low_, high_};
  }

 private:
  std::mutex mutex_;
  std::uint64_t low_, high_;
};

// The helper's side: a thread that takes stretches of at most `stretch`
// units downwards from the meeting and sweeps each, upwards, into a Part of
// its own. sweep(first, end, part, carryOn) returns false when it could not
// sweep the stretch whole: the stretch is then given back and the helper
// ends. carryOn(), called between reads, waits while the job is paused and
// is false once the helper must end (the worker ended it, or the job was
// stopped or cancelled), which also ends the helper after giving back.
template <class Part>
class SweepHelper {
 public:
  using CarryOn = std::function<bool()>;
  using Sweep = std::function<bool(std::uint64_t first, std::uint64_t end, Part& part, const CarryOn& carryOn)>;

  SweepHelper(SweepMeeting& meeting, std::uint64_t stretch, Job& job, Sweep sweep)
      : meeting_(meeting), stretch_(stretch), job_(job), sweep_(std::move(sweep)), thread_([this] { run(); }) {}
  ~SweepHelper() {
    stop_.store(true, std::memory_order_relaxed);
    if (thread_.joinable()) thread_.join();
  }
  SweepHelper(const SweepHelper&) = delete;
  SweepHelper& operator=(const SweepHelper&) = delete;

  // Waits for the helper to end, calling tick() (the worker's checkpoint,
  // which keeps pause and cancel working) between looks.
  void wait(const std::function<void()>& tick) {
    while (!done_.load(std::memory_order_acquire)) {
      tick();
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    thread_.join();
  }
  // What it found, a part per stretch, from the highest stretch down.
  std::vector<Part>& stretches() { return stretches_; }

 private:
  bool ended() const {
    return stop_.load(std::memory_order_relaxed) || job_.cancelRequested() || job_.stopRequested();
  }
  void run() {
    const CarryOn carryOn = [this] {
      while (job_.pauseRequested() && !ended()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      return !ended();
    };
    for (std::uint64_t top = meeting_.gap().second;;) {
      const std::uint64_t bottom = meeting_.down(stretch_);
      if (bottom == top) break;
      Part part;
      if (!sweep_(bottom, top, part, carryOn)) {
        meeting_.giveBack(bottom, top);
        break;
      }
      stretches_.push_back(std::move(part));
      top = bottom;
    }
    done_.store(true, std::memory_order_release);
  }

  SweepMeeting& meeting_;
  const std::uint64_t stretch_;
  Job& job_;
  Sweep sweep_;
  std::vector<Part> stretches_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  std::thread thread_;  // last: it starts once the rest is ready
};

}  // namespace dravolin
