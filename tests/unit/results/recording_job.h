#pragma once
// A Job that runs on the test's own thread and records what the worker
// reported.
#include <functional>
#include <string>
#include <vector>

#include "common/job.h"
#include "support/test_support.h"

namespace dravolin::test {

class RecordingJob final : public Job {
 public:
  std::vector<int> percents;
  std::vector<std::string> statuses;
  std::string lastName;
  bool stop = false;
  int checkpoints = 0;
  // The stop is requested once this many checkpoints have passed (-1: never).
  int stopAfterCheckpoints = -1;
  Completion completed = Completion::None;
  // Called at each checkpoint with its number (1, 2, ...).
  std::function<void(int)> onCheckpoint;
  ScriptedPrompter questions;

  void setPercent(int percent) override { percents.push_back(percent); }
  void setStatus(const std::string& text) override { statuses.push_back(text); }
  void setLastName(const std::string& name) override { lastName = name; }
  void updateStatistics(const SearchStatistics& statistics) override { lastName = statistics.lastName; }
  void checkpoint() override {
    ++checkpoints;
    if (onCheckpoint) onCheckpoint(checkpoints);
    if (stopAfterCheckpoints >= 0 && checkpoints > stopAfterCheckpoints) stop = true;
  }
  bool stopRequested() const override { return stop; }
  void requestStop() override { stop = true; }
  void clearStopRequest() override { stop = false; }
  void complete(Completion completion) override { completed = completion; }
  Prompter& prompter() override { return questions; }
};

}  // namespace dravolin::test
