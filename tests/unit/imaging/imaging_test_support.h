#pragma once
// A Job for driving the imaging worker in tests, and sources whose every
// sector says which sector it is.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/job.h"
#include "disk/memory_source.h"
#include "support/test_support.h"

namespace dravolin::test {

// The imaging's reader thread calls checkpoint() too, so what it reads is
// atomic.
class RecordingJob final : public Job {
 public:
  // Stop is requested once this many statistics updates (transfers) were made.
  std::optional<int> stopAfterTransfers;
  // The next checkpoint after this many transfers unwinds the worker.
  std::optional<int> cancelAfterTransfers;
  ScriptedPrompter prompter_;
  std::atomic<int> transfers{0};
  int lastPercent = -1;
  std::string lastName;
  Completion completion = Completion::None;
  std::atomic<bool> stop{false};

  void setPercent(int percent) override { lastPercent = percent; }
  void setStatus(const std::string&) override {}
  void setLastName(const std::string& name) override { lastName = name; }
  void updateStatistics(const SearchStatistics&) override {
    ++transfers;
    if (stopAfterTransfers && transfers >= *stopAfterTransfers) stop = true;
  }
  void checkpoint() override {
    if (cancelAfterTransfers && transfers >= *cancelAfterTransfers) throw JobCancelled();
  }
  bool stopRequested() const override { return stop; }
  void requestStop() override { stop = true; }
  void clearStopRequest() override { stop = false; }
  void complete(Completion c) override { completion = c; }
  Prompter& prompter() override { return prompter_; }
};

// The byte pattern of sector s: its number in the first eight bytes, then
// a byte that changes from sector to sector.
inline void fillSector(std::byte* sector, std::uint64_t s) {
  std::memcpy(sector, &s, sizeof s);
  std::memset(sector + sizeof s, static_cast<int>((s * 7 + 1) & 0xFF), kSectorSize - sizeof s);
}

inline std::vector<std::byte> patternBytes(std::uint64_t firstSector, std::uint64_t sectors) {
  std::vector<std::byte> bytes(sectors * kSectorSize);
  for (std::uint64_t i = 0; i < sectors; ++i) fillSector(bytes.data() + i * kSectorSize, firstSector + i);
  return bytes;
}

inline std::string asString(const std::vector<std::byte>& bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace dravolin::test
