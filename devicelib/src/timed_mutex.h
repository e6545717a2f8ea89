// A mutex whose lock waits a bounded time. Built on a plain mutex and a condition variable rather than
// std::timed_mutex, whose timed lock the thread sanitizer of our compiler cannot follow.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/thread_annotations.h"

namespace pekolm {

class CAPABILITY("mutex") TimedMutex {
 public:
  bool try_lock_for(std::chrono::milliseconds timeout) TRY_ACQUIRE(true) {
    std::unique_lock lock(mutex_);
    // A free mutex is taken without reading the clock: that is every lock but a contended one.
    if (locked_) {
      ++waiting_;
      const bool freed = released_.wait_for(lock, timeout, [this] { return !locked_; });
      --waiting_;
      if (!freed) return false;
    }
    locked_ = true;
    return true;
  }

  void unlock() RELEASE() {
    bool wake = false;
    {
      std::lock_guard lock(mutex_);
      locked_ = false;
      wake = waiting_ != 0;
    }
    if (wake) released_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool locked_ = false;
  int waiting_ = 0;  // threads in try_lock_for's wait: only they need a notification
};

}  // namespace pekolm
