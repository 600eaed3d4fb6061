#pragma once
// A Job that runs one worker on its own thread: the searches of Step 3 and
// the short-lived workers of the result browser (filling, selecting, the name
// search, the size count, the saving); the front end polls percent, status and last name, and can pause,
// resume, stop (the worker finishes as its rules say) or cancel (the worker
// unwinds at its next checkpoint). The time spent paused is kept apart, so
// that elapsed times leave it out.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "common/job.h"

namespace dravolin {

class WorkerJob : public Job {
 public:
  using Worker = std::function<void(Job&)>;

  explicit WorkerJob(Prompter& prompter);
  ~WorkerJob() override;
  WorkerJob(const WorkerJob&) = delete;
  WorkerJob& operator=(const WorkerJob&) = delete;

  // Starts the worker on its own thread. Exceptions other than JobCancelled
  // are caught and kept as error().
  void start(Worker worker);
  // Runs the worker on the calling thread (tests, front ends without threads).
  void runHere(const Worker& worker);
  // Waits for the worker to end.
  void wait();
  bool ended() const { return ended_.load(); }

  void pause();
  void resume();
  bool paused() const;
  void stop() {
    stopAsked_.store(true);
    requestStop();
    resume();
  }
  // Whether stop() was called since the start: a worker may clear its stop
  // request where its rules say (and set one itself to end), this stays.
  bool stopAsked() const { return stopAsked_.load(); }
  void cancel();
  bool cancelled() const;
  std::string error() const;
  // Records why the worker failed, for a worker that ends with an error
  // rather than an exception; error() returns it.
  void fail(std::string message);

  // Milliseconds since start, less the time spent paused.
  std::uint64_t activeMilliseconds() const;

  int percent() const { return percent_.load(); }
  std::string status() const;
  std::string lastName() const;
  Completion completion() const { return completion_.load(); }

  // Job
  void setPercent(int percent) override;
  void setStatus(const std::string& text) override;
  void setLastName(const std::string& name) override;
  void updateStatistics(const SearchStatistics& statistics) override;
  void checkpoint() override;
  bool stopRequested() const override { return stopRequested_.load(); }
  void requestStop() override { stopRequested_.store(true); }
  void clearStopRequest() override { stopRequested_.store(false); }
  void complete(Completion completion) override { completion_.store(completion); }
  Prompter& prompter() override { return prompter_; }
  bool pauseRequested() const override { return paused(); }
  bool cancelRequested() const override { return cancelled(); }

 protected:
  // Called after the job was paused or resumed (on the caller's thread).
  virtual void onPaused() {}
  virtual void onResumed() {}

 private:
  using Clock = std::chrono::steady_clock;
  void execute(const Worker& worker);

  Prompter& prompter_;
  mutable std::mutex mutex_;
  std::condition_variable resumed_;
  bool paused_ = false;
  bool cancelled_ = false;
  std::atomic<bool> mayBlock_{false};  // paused_ or cancelled_, read without the lock
  Clock::time_point startTime_ = Clock::now();
  Clock::time_point pauseTime_{};
  Clock::duration pausedTotal_{};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> stopAsked_{false};
  std::atomic<bool> ended_{false};
  std::atomic<int> percent_{0};
  std::atomic<Completion> completion_{Completion::None};
  std::string status_;
  std::string lastName_;
  std::string error_;
  // The worker's thread only: the name of its last statistics report, while
  // no other name was set after it.
  std::string reportedName_;
  bool reportedNameCurrent_ = false;
  std::jthread thread_;
};

}  // namespace dravolin
