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
    if (!released_.wait_for(lock, timeout, [this] { return !locked_; })) return false;
    locked_ = true;
    return true;
  }

  void unlock() RELEASE() {
    {
      std::lock_guard lock(mutex_);
      locked_ = false;
    }
    released_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool locked_ = false;
};

}  // namespace pekolm
