// Win32-style events on a mutex and a condition variable: a manual-reset event stays set until reset, an
// auto-reset event lets exactly one wait through and resets itself.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace pekolm {

class Event {
 public:
  enum class Reset { manual, automatic };
  explicit Event(Reset reset) : reset_(reset) {}

  void set() {
    {
      std::lock_guard lock(mutex_);
      signalled_ = true;
    }
    if (reset_ == Reset::manual) {
      changed_.notify_all();
    } else {
      changed_.notify_one();
    }
  }

  void reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
  }

  // True when the event was (or became) set within the time-out.
  bool wait_for(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [this] { return signalled_; })) return false;
    if (reset_ == Reset::automatic) signalled_ = false;
    return true;
  }

 private:
  const Reset reset_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_ = false;
};

}  // namespace pekolm
