// Keeps count of the application calls inside one port, so that a release can shut the door, cut their
// waits short and close the port only once the last of them has left.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace pekolm {

class CallGate {
 public:
  // False once the port is closing: the call must not touch the port.
  bool enter() {
    std::lock_guard lock(mutex_);
    if (closing_.load()) return false;
    ++inside_;
    return true;
  }

  void leave() {
    {
      std::lock_guard lock(mutex_);
      --inside_;
    }
    changed_.notify_all();
  }

  // Lets no further call in and wakes every pause. False when the gate was already closed.
  bool close() {
    {
      std::lock_guard lock(mutex_);
      if (closing_.exchange(true)) return false;
    }
    changed_.notify_all();
    return true;
  }

  bool closing() const { return closing_.load(); }

  // Returns once no call is inside any more.
  void drain() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return inside_ == 0; });
  }

  // Sleeps more than `duration`, as the amplifier's fixed pauses need; false when the port began closing
  // meanwhile (the pause then ends at once).
  bool pause(std::chrono::milliseconds duration) {
    const auto until = std::chrono::steady_clock::now() + duration + std::chrono::microseconds(1);
    std::unique_lock lock(mutex_);
    return !changed_.wait_until(lock, until, [this] { return closing_.load(); });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int inside_ = 0;
  std::atomic<bool> closing_{false};
};

// A call inside the gate for the life of the object.
class InsideGate {
 public:
  explicit InsideGate(CallGate& gate) : gate_(gate) {}
  ~InsideGate() { gate_.leave(); }
  InsideGate(const InsideGate&) = delete;
  InsideGate& operator=(const InsideGate&) = delete;

 private:
  CallGate& gate_;
};

}  // namespace pekolm
