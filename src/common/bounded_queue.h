#pragma once
// A bounded blocking queue between two threads: the producer waits while it
// is full, the consumer while it is empty. Pipelines pass large blocks
// through a pair of them (full blocks one way, emptied blocks back), so the
// memory in flight never exceeds the blocks made at the start.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

namespace dravolin {

template <class T>
class BoundedQueue {
 public:
  explicit BoundedQueue(std::size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

  // Waits while the queue is full. Returns false, without taking the item,
  // once the queue is closed or aborted.
  bool push(T item) {
    std::unique_lock lock(mutex_);
    notFull_.wait(lock, [&] { return items_.size() < capacity_ || closed_; });
    if (closed_) return false;
    items_.push_back(std::move(item));
    notEmpty_.notify_one();
    return true;
  }

  // Waits while the queue is empty and open. Returns nothing once it is
  // closed and drained, or at once when it was aborted.
  std::optional<T> pop() {
    std::unique_lock lock(mutex_);
    notEmpty_.wait(lock, [&] { return !items_.empty() || closed_; });
    if (aborted_ || items_.empty()) return std::nullopt;
    T item = std::move(items_.front());
    items_.pop_front();
    notFull_.notify_one();
    return item;
  }

  // No more pushes; pop still hands out what is queued.
  void close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    notEmpty_.notify_all();
    notFull_.notify_all();
  }

  // Ends both sides at once: waiting pushes and pops return, queued items
  // are dropped.
  void abort() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    aborted_ = true;
    items_.clear();
    notEmpty_.notify_all();
    notFull_.notify_all();
  }

 private:
  const std::size_t capacity_;
  std::mutex mutex_;
  std::condition_variable notFull_;
  std::condition_variable notEmpty_;
  std::deque<T> items_;
  bool closed_ = false;
  bool aborted_ = false;
};

}  // namespace dravolin
