// Win32-style events on a mutex and a condition variable: a manual-reset event stays set until reset, an
// auto-reset event lets exactly one wait through and resets itself.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace pekolm {

class Event {
 public:
  enum class Reset { manual, automatic };
  explicit Event(Reset reset) : reset_(reset) {}

  void set() {
    {
      std::lock_guard lock(mutex_);
      signalled_ = true;
      seen_set_.store(true, std::memory_order_release);
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
    seen_set_.store(false, std::memory_order_relaxed);
  }

  // True when the event was (or became) set within the time-out.
  bool wait_for(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [this] { return signalled_; })) return false;
    if (reset_ == Reset::automatic) {
      signalled_ = false;
      seen_set_.store(false, std::memory_order_relaxed);
    }
    return true;
  }

  // The same, but watching the event for up to `spin` first, giving the core to other threads meanwhile:
  // an event set within that time costs the waiter neither a sleep nor a wake-up.
  bool wait_for(std::chrono::milliseconds timeout, std::chrono::microseconds spin) {
    const auto spin_end = std::chrono::steady_clock::now() + spin;
    while (!seen_set_.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < spin_end) {
      std::this_thread::yield();
    }
    return wait_for(timeout);
  }

 private:
  const Reset reset_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_ = false;
  std::atomic<bool> seen_set_{false};  // signalled_, readable without the mutex
};

}  // namespace pekolm
