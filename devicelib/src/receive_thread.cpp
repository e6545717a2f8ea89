// Receive thread and the decoder's sink on a device: see receive_thread.h.
#include "receive_thread.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include "protocol/error_codes.h"
#include "protocol/frame_decoder.h"

namespace pekolm {
namespace {

// A frame waits at most this long for the buffer mutex before it is dropped.
constexpr std::chrono::milliseconds buffer_lock_timeout{20000};

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
    std::lock_guard lock(device_.answer_mutex);
    const std::optional<std::uint32_t> kept_for = std::exchange(partial_kept_for_, std::nullopt);
    const std::size_t expected = device_.expected_answer_length;
    if (expected == 0) return 0;
    // The unfinished answer of an abandoned query must not be completed by the bytes of the next one. A
    // stale part that already covers the new answer's length is taken, and shows as a length mismatch.
    if (kept_for && *kept_for != device_.answer_generation && partial_length_ < expected) return partial_length_;
    device_.received_answer_length = static_cast<std::uint32_t>(available);
    if (available < expected) {
      partial_kept_for_ = device_.answer_generation;
      partial_length_ = available;
      return expected;
    }
    std::memcpy(device_.answer.data(), bytes, std::min(expected, device_.answer.size()));
    device_.expected_answer_length = 0;
    device_.answer_event.set();
    return expected;
  }

  // The receive buffer was emptied: no unfinished answer is kept any more.
  void forget_partial_answer() { partial_kept_for_.reset(); }

 private:
  Device& device_;
  // Set while an unfinished answer waits at the start of the receive buffer: the query it was kept for.
  std::optional<std::uint32_t> partial_kept_for_;
  std::size_t partial_length_ = 0;
};

void receive_loop(Device& device) {
  std::uint8_t buffer[receive_buffer_size];
  std::size_t carried = 0;       // bytes of an unfinished frame at the buffer's start
  std::size_t request_size = 0;  // bytes that frame still lacks; 0 means one byte
  DeviceSink sink(device);

  while (!device.stop_requested.load()) {
    if (request_size == 0) request_size = 1;
    request_size = std::min(request_size, receive_buffer_size - carried);

    platform::IoResult read{0, 0};
    if (device.gone_error.load() != 0) {  // after a hang-up only a stop or clear request wakes the thread
      device.port->wait_for_interrupt();
    } else {
      switch (device.port->wait_readable()) {
        case platform::WaitResult::readable:
          read = device.port->read(buffer + carried, request_size);
          break;
        case platform::WaitResult::interrupted:
          break;  // an aborted read: nothing arrived
        case platform::WaitResult::hung_up:
          read = {0, device.port->hang_up_error(), true};
          break;
      }
    }

    if (read.error != 0) {
      if (!device.clear_requested.load()) device.receive_error = static_cast<std::uint32_t>(read.error);
      if (read.gone) {
        // Reading will not recover: idle until the application releases the port. A query waiting for
        // its answer learns it at once.
        device.gone_error = static_cast<std::uint32_t>(read.error);
        device.answer_event.set();
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      continue;
    }

    if (device.clear_requested.load()) {
      // Honour the clear: the partial frame and this read's bytes are dropped.
      carried = 0;
      request_size = 0;
      sink.forget_partial_answer();
      // A clear does not hide a device that has gone.
      device.receive_error = device.gone_error.load();
      device.clear_requested = false;
      device.clear_acknowledged.set();
      continue;
    }

    const std::size_t count = carried + read.bytes;
    carried = 0;
    if (count == 0) continue;
    DecodeResult decoded = decode(buffer, count, sink);
    if (decoded.carried != 0) std::memmove(buffer, buffer + count - decoded.carried, decoded.carried);
    carried = decoded.carried;
    request_size = decoded.request_size;
  }
}

}  // namespace

void start_receive_thread(const std::shared_ptr<Device>& device) {
  device->receive_thread = std::thread([device] {
    receive_loop(*device);
    device->thread_finished.set();
  });
}

}  // namespace pekolm
