// The receive thread of an open port: the only reader of the port. It reads whatever has arrived, decodes
// every complete frame of it (values into the rings, answers into the answer slot) and waits for the port
// only once a read has found its queue empty, so that a burst of frames costs one read.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "event.h"

namespace pekolm {

struct Device;

class ReceiveThread {
 public:
  ReceiveThread() = default;
  ReceiveThread(const ReceiveThread&) = delete;
  ReceiveThread& operator=(const ReceiveThread&) = delete;

  // Starts reading the device's port. The thread keeps the device (and so its port) alive until it ends.
  // Throws std::system_error when no thread can be started.
  void start(const std::shared_ptr<Device>& device);
  bool started() const { return thread_.joinable(); }

  // Ends the thread: stores nothing more, wakes it and joins it. A thread that has not ended after
  // `stop_limit` of wakes (held up behind the system's loader on unload, or asleep on a line that no wake
  // reaches) is left behind with its own reference to the device and the port; stop() then returns false
  // and the port stays open. Where the system forbids joining during an unload, a thread that has finished
  // is let go instead.
  bool stop(Device& device, bool unloading = false);
  // The first half of stop(): asks the thread to end and wakes it, without waiting. Many ports are ended
  // side by side this way, every thread woken before the first is waited for.
  void request_stop(Device& device);
  // Before the library's code goes away: gives the threads that stop() let go of after they finished the
  // time to return from it.
  static void finished_threads_leave();

  static constexpr std::chrono::seconds stop_limit{2};

 private:
  void run(Device& device);

  std::thread thread_;
  std::atomic<bool> stop_requested_{false};
  Event finished_{Event::Reset::manual};
};

}  // namespace pekolm
