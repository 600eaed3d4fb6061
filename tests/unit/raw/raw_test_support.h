#pragma once
// Helpers for the raw-recovery tests: images in memory with bytes placed at
// sectors, a job that records what the carver reported, and tick sets.
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "common/job.h"
#include "disk/sector_source.h"
#include "raw/signature_table.h"
#include "support/test_support.h"

namespace dravolin::test {

// Sectors filled with a byte no header or end signature uses, so that only
// what a test places can be found.
inline std::vector<std::byte> blankImage(std::size_t sectors, std::byte fill = std::byte{' '}) {
  return std::vector<std::byte>(sectors * kSectorSize, fill);
}

inline void place(std::vector<std::byte>& image, SectorNumber sector, std::size_t offset, std::string_view data) {
  std::memcpy(image.data() + sector * kSectorSize + offset, data.data(), data.size());
}

inline void placeU32(std::vector<std::byte>& image, SectorNumber sector, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    image[sector * kSectorSize + offset + static_cast<std::size_t>(i)] = static_cast<std::byte>(value >> (8 * i));
}

inline std::string utf16(std::string_view ascii) {
  std::string out;
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

inline ExtensionTicks ticksOf(std::initializer_list<std::string_view> names) {
  ExtensionTicks ticks{};
  for (auto name : names) {
    int row = extensionRow(name);
    if (row >= 0) ticks[static_cast<std::size_t>(row)] = true;
  }
  return ticks;
}

inline ExtensionTicks allTicks() {
  ExtensionTicks ticks{};
  ticks.fill(true);
  return ticks;
}

// Runs on the test's thread and records the reports.
class CarvingJob final : public Job {
 public:
  ScriptedPrompter questions;
  std::vector<int> percents;
  std::vector<std::string> statuses;
  std::string lastName;
  std::uint64_t statisticsCalls = 0;
  SearchStatistics lastStatistics;
  int checkpoints = 0;
  int stopAfterCheckpoints = -1;  // the user presses Stop after this many blocks
  bool stop = false;
  Completion completed = Completion::None;

  void setPercent(int percent) override { percents.push_back(percent); }
  void setStatus(const std::string& text) override { statuses.push_back(text); }
  void setLastName(const std::string& name) override { lastName = name; }
  void updateStatistics(const SearchStatistics& statistics) override {
    ++statisticsCalls;
    lastStatistics = statistics;
  }
  void checkpoint() override {
    ++checkpoints;
    if (stopAfterCheckpoints >= 0 && checkpoints >= stopAfterCheckpoints) stop = true;
  }
  bool stopRequested() const override { return stop; }
  void requestStop() override { stop = true; }
  void clearStopRequest() override { stop = false; }
  void complete(Completion completion) override { completed = completion; }
  Prompter& prompter() override { return questions; }
};

}  // namespace dravolin::test
