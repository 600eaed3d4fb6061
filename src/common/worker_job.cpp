#include "common/worker_job.h"

#include <exception>

namespace dravolin {

WorkerJob::WorkerJob(Prompter& prompter) : prompter_(prompter) {}

WorkerJob::~WorkerJob() {
  cancel();
  if (thread_.joinable()) thread_.join();
}

void WorkerJob::execute(const Worker& worker) {
  try {
    worker(*this);
  } catch (const JobCancelled&) {
    // Cancelled: the worker unwound at a checkpoint.
  } catch (const std::exception& e) {
    std::lock_guard lock(mutex_);
    error_ = e.what();
  }
  ended_.store(true);
}

void WorkerJob::fail(std::string message) {
  std::lock_guard lock(mutex_);
  error_ = std::move(message);
}

void WorkerJob::start(Worker worker) {
  {
    std::lock_guard lock(mutex_);
    startTime_ = Clock::now();
    pausedTotal_ = {};
  }
  ended_.store(false);
  thread_ = std::jthread([this, worker = std::move(worker)] { execute(worker); });
}

void WorkerJob::runHere(const Worker& worker) {
  {
    std::lock_guard lock(mutex_);
    startTime_ = Clock::now();
    pausedTotal_ = {};
  }
  ended_.store(false);
  execute(worker);
}

void WorkerJob::wait() {
  if (thread_.joinable()) thread_.join();
}

void WorkerJob::pause() {
  {
    std::lock_guard lock(mutex_);
    if (paused_) return;
    paused_ = true;
    mayBlock_.store(true);
    pauseTime_ = Clock::now();
  }
  onPaused();
}

void WorkerJob::resume() {
  {
    std::lock_guard lock(mutex_);
    if (!paused_) return;
    paused_ = false;
    mayBlock_.store(cancelled_);
    pausedTotal_ += Clock::now() - pauseTime_;
  }
  resumed_.notify_all();
  onResumed();
}

bool WorkerJob::paused() const {
  std::lock_guard lock(mutex_);
  return paused_;
}

void WorkerJob::cancel() {
  {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    mayBlock_.store(true);
    if (paused_) {
      paused_ = false;
      pausedTotal_ += Clock::now() - pauseTime_;
    }
  }
  resumed_.notify_all();
}

bool WorkerJob::cancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

std::string WorkerJob::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

std::uint64_t WorkerJob::activeMilliseconds() const {
  std::lock_guard lock(mutex_);
  const Clock::time_point now = paused_ ? pauseTime_ : Clock::now();
  const auto active = now - startTime_ - pausedTotal_;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(active).count();
  return ms > 0 ? static_cast<std::uint64_t>(ms) : 0;
}

std::string WorkerJob::status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

std::string WorkerJob::lastName() const {
  std::lock_guard lock(mutex_);
  return lastName_;
}

void WorkerJob::setPercent(int percent) { percent_.store(percent < 0 ? 0 : percent > 100 ? 100 : percent); }

void WorkerJob::setStatus(const std::string& text) {
  std::lock_guard lock(mutex_);
  status_ = text;
}

void WorkerJob::setLastName(const std::string& name) {
  {
    std::lock_guard lock(mutex_);
    lastName_ = name;
  }
  reportedNameCurrent_ = false;
}

void WorkerJob::updateStatistics(const SearchStatistics& statistics) {
  // Workers report after every sector or entry, mostly with the name of the
  // report before: only a name that changed is passed on.
  if (reportedNameCurrent_ && statistics.lastName == reportedName_) return;
  setLastName(statistics.lastName);
  reportedName_ = statistics.lastName;
  reportedNameCurrent_ = true;
}

void WorkerJob::checkpoint() {
  // Workers pass here after every cluster or record: while the job is
  // neither paused nor cancelled that costs one load, not a lock.
  if (!mayBlock_.load()) return;
  std::unique_lock lock(mutex_);
  resumed_.wait(lock, [this] { return !paused_ || cancelled_; });
  if (cancelled_) throw JobCancelled();
}

}  // namespace dravolin
