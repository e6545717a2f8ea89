// Receive thread and the decoder's sink on a device: see receive_thread.h.
#include "receive_thread.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "device.h"
#include "platform/unload.h"
#include "protocol/error_codes.h"
#include "protocol/reassembly.h"

namespace pekolm {
namespace {

using namespace std::chrono_literals;

class DeviceSink final : public FrameSink {
 public:
  explicit DeviceSink(Device& device) : device_(device) {}

  Store store_values(const std::uint16_t raw[4]) override {
    if (!device_.buffer_mutex.try_lock_for(buffer_lock_timeout)) {
      device_.receive_error = error::lock_failed;
      return Store::dropped;
    }
    const bool clearing = device_.clear_requested.load();
    if (!clearing) {
      for (int channel = 0; channel < channel_count; ++channel) device_.rings[channel].push(raw[channel]);
    }
    device_.buffer_mutex.unlock();
    return clearing ? Store::abandon_pass : Store::stored;
  }

  void bad_terminator() override { device_.receive_error = error::frame_terminator; }

  std::size_t offer_answer(const std::uint8_t* bytes, std::size_t available) override {
    MutexLock lock(device_.answer_mutex);
    bool taken = false;
    const std::size_t span = device_.answer_slot.offer(bytes, available, taken);
    // Set under the mutex: a query that starts after this one finds the event reset, not a stale wake.
    if (taken) device_.answer_event.set();
    return span;
  }

 private:
  Device& device_;
};

}  // namespace

void ReceiveThread::start(const std::shared_ptr<Device>& device) {
  thread_ = std::thread([this, device] {
    run(*device);
    finished_.set();
  });
}

void ReceiveThread::request_stop(Device& device) {
  stop_requested_ = true;
  if (!thread_.joinable()) return;
  device.clear_requested = true;
  device.port->purge_input();
  device.port->interrupt_wait();
}

bool ReceiveThread::stop(Device& device, bool unloading) {
  request_stop(device);
  if (!thread_.joinable()) return true;
  const auto give_up = std::chrono::steady_clock::now() + stop_limit;
  bool finished = false;
  while (!(finished = finished_.wait_for(100ms))) {
    device.port->interrupt_wait();
    if (std::chrono::steady_clock::now() > give_up) break;
  }
  if (finished && (!unloading || platform::can_join_during_unload())) {
    thread_.join();
    return true;
  }
  // A thread let go here that has finished its work has only to return and end, a few instructions of this
  // library's code: the unload waits for all of them at once (finished_threads_leave).
  thread_.detach();
  return finished;
}

void ReceiveThread::finished_threads_leave() { std::this_thread::sleep_for(20ms); }

void ReceiveThread::run(Device& device) {
  Reassembly reassembly;
  DeviceSink sink(device);
  // Set when the last read filled the buffer and the port may hold more: read again before waiting.
  bool read_first = true;
  // Failed reads in a row: a port that fails every read is read ever more slowly, never in a spin. The
  // driver keeps what arrives meanwhile, so the longest pause loses nothing.
  int failures_in_row = 0;

  while (!stop_requested_.load()) {
    const std::size_t room = reassembly.free_size();
    platform::IoResult read;
    if (device.gone_error.load() != 0) {  // after a hang-up only a stop or clear request wakes the thread
      device.port->wait_for_interrupt();
    } else if (read_first) {
      read = device.port->read(reassembly.free_space(), room);
    } else {
      read = device.port->receive(reassembly.free_space(), room);  // an interrupted one brings nothing
    }
    // A read that did not fill the buffer has emptied the port's queue.
    read_first = read.error == 0 && read.bytes == room;

    if (read.error != 0) {
      if (!device.clear_requested.load()) device.receive_error = static_cast<std::uint32_t>(read.error);
      if (read.gone) {
        // Reading will not recover: idle until the application releases the port. A query waiting for
        // its answer learns it at once.
        device.gone_error = static_cast<std::uint32_t>(read.error);
        device.answer_event.set();
      } else {
        failures_in_row = std::min(failures_in_row + 1, 7);
        std::this_thread::sleep_for(1ms * (1 << (failures_in_row - 1)));  // 1 ms, doubling up to 64 ms
      }
      continue;
    }
    failures_in_row = 0;

    if (device.clear_requested.load()) {
      // Honour the clear: the partial frame and this read's bytes are dropped.
      reassembly.drop();
      {
        MutexLock lock(device.answer_mutex);
        device.answer_slot.forget_carried();
      }
      // A clear does not hide a device that has gone.
      device.receive_error = device.gone_error.load();
      device.clear_requested = false;
      device.clear_acknowledged.set();
      continue;
    }

    if (read.bytes != 0) reassembly.decode_received(read.bytes, sink);
  }
}

}  // namespace pekolm
