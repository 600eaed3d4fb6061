#pragma once
// The contract between a long-running worker and whoever started it.
// A worker reports progress, polls stopRequested() where its rules say,
// and calls checkpoint() between units of work: checkpoint() blocks while
// the job is paused and throws JobCancelled once the job is cancelled, so
// the worker unwinds there and never in the middle of a write.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "common/prompter.h"

namespace dravolin {

struct JobCancelled : std::runtime_error {
  JobCancelled() : std::runtime_error("job cancelled") {}
};

// How a worker ended; exactly one is reported per run.
enum class Completion {
  None,
  SearchDone,      // a search that built its result tree
  LostPassDone,    // a lost-partition pass
  WorkerFinished,  // imaging and raw carving
  Stopped,         // a plain FAT/NTFS search that stopped or finished
};

// Format of the value shown by the statistics: current sector out of the
// selection end ('e') or a size in bytes ('n').
enum class StatisticsFormat { Sector, Size };

struct SearchStatistics {
  std::uint64_t value = 0;
  std::uint64_t directories = 0;
  std::uint64_t files = 0;
  std::string lastName;
  StatisticsFormat format = StatisticsFormat::Size;
  // NTFS: records and index buffers whose sector ends did not all carry the
  // update sequence number (written half); only their intact sectors are used.
  std::uint64_t tornRecords = 0;
  // How many per-sector reports this one stands for: a pass that reports
  // once per chunk of sectors gives the chunk's size, so the display
  // refreshes as often as if it had reported every sector.
  std::uint32_t reports = 1;
};

class Job {
 public:
  virtual ~Job() = default;
  virtual void setPercent(int percent) = 0;                  // clamped to 0..100
  virtual void setStatus(const std::string& text) = 0;       // the stage text
  virtual void setLastName(const std::string& name) = 0;     // last name found or written
  virtual void updateStatistics(const SearchStatistics& statistics) = 0;
  virtual void checkpoint() = 0;                             // may block or throw JobCancelled
  virtual bool stopRequested() const = 0;
  virtual void requestStop() = 0;                            // a worker may set it itself
  virtual void clearStopRequest() = 0;                       // where a worker's rules clear it
  virtual void complete(Completion completion) = 0;
  virtual Prompter& prompter() = 0;
  // For a worker's helper threads (read-ahead), which never call
  // checkpoint(): whether the job is paused, and whether it was cancelled.
  virtual bool pauseRequested() const { return false; }
  virtual bool cancelRequested() const { return false; }
};

}  // namespace dravolin
