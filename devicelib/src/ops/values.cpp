// Taking measured values out of the channel rings, and emptying them.
#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>

#include "api.h"

using namespace pekolm;
using namespace std::chrono_literals;

namespace {

// The buffer mutex, taken for the life of the object or not at all. To the thread-safety analysis it is
// always taken: every caller returns at once, touching nothing, when it was not.
class SCOPED_CAPABILITY BufferLock {
 public:
  explicit BufferLock(Device& device) ACQUIRE(device.buffer_mutex)
      : device_(device), locked_(device.buffer_mutex.try_lock_for(buffer_lock_timeout)) {}
  ~BufferLock() RELEASE() {
    if (locked_) device_.buffer_mutex.unlock();
  }
  explicit operator bool() const { return locked_; }

 private:
  Device& device_;
  bool locked_;
};

// Once the device has gone, every read fails and reports why again, however often the code was fetched.
bool device_gone(Device& device) {
  const std::uint32_t gone = device.gone_error.load();
  if (gone == 0) return false;
  device.receive_error = gone;
  return true;
}

std::uint32_t smallest_count(const Device& device) REQUIRES(device.buffer_mutex) {
  std::uint32_t smallest = device.rings[0].count();
  for (const ValueRing& ring : device.rings) smallest = std::min(smallest, ring.count());
  return smallest;
}

}  // namespace

PEKOLM_API int PEKOLM_CALL KolmclearDLLbuffer(int port) noexcept {
  return run_int(port, [](Device& device) -> Result<int> {
    std::lock_guard one_clear_at_a_time(device.clear_mutex);
    {
      BufferLock lock(device);
      if (!lock) return fail(error::lock_failed);
      for (ValueRing& ring : device.rings) ring.clear();
      device.clear_requested = true;
      device.port->purge_input();
    }
    // Outside the lock: waking a blocked read may reprogram the line.
    device.port->interrupt_wait();
    // The receive thread needs the buffer mutex to finish its frame before it can acknowledge.
    while (!device.clear_acknowledged.wait_for(100ms) && !device.calls.closing()) device.port->interrupt_wait();
    if (device.calls.closing()) return fail(error::bad_port);
    MutexLock answer(device.answer_mutex);
    device.answer_slot.forget();
    return 0;
  });
}

PEKOLM_API int PEKOLM_CALL Kolmreceived(int port, int channel) noexcept {
  return run_int(port, [channel](Device& device) -> Result<int> {
    if (channel < 0 || channel > 5) return fail(Result<int>::unrecorded);
    BufferLock lock(device);
    if (!lock) return fail(error::lock_failed);
    if (channel >= 1 && channel <= 4) return static_cast<int>(device.rings[channel - 1].count());
    std::uint32_t result = device.rings[0].count();
    for (const ValueRing& ring : device.rings) {
      result = channel == 0 ? std::min(result, ring.count()) : std::max(result, ring.count());
    }
    return static_cast<int>(result);
  });
}

PEKOLM_API int PEKOLM_CALL Kolmread(int port, int channel, double* value) noexcept {
  return run_int(port, [=](Device& device) -> Result<int> {
    if (channel < 1 || channel > 4 || value == nullptr) return fail(error::bad_argument);
    BufferLock lock(device);
    if (!lock) return fail(error::lock_failed);
    // While the receive thread reports an error nothing is taken; the error stays for KolmgetLastError.
    if (device_gone(device) || device.receive_error.load() != 0) return fail(Result<int>::unrecorded);
    ValueRing& ring = device.rings[channel - 1];
    if (ring.count() == 0) return 0;
    *value = normalise(ring.pop());
    return 1;
  });
}

PEKOLM_API int PEKOLM_CALL KolmreadAll(int port, double* ch1, double* ch2, double* ch3, double* ch4) noexcept {
  return run_int(port, [=](Device& device) -> Result<int> {
    if (ch1 == nullptr || ch2 == nullptr || ch3 == nullptr || ch4 == nullptr) return fail(error::bad_argument);
    BufferLock lock(device);
    if (!lock) return fail(error::lock_failed);
    if (device_gone(device) || device.receive_error.load() != 0) return fail(Result<int>::unrecorded);
    if (smallest_count(device) == 0) return 0;
    double* out[channel_count] = {ch1, ch2, ch3, ch4};
    for (int channel = 0; channel < channel_count; ++channel) *out[channel] = normalise(device.rings[channel].pop());
    return 1;
  });
}

PEKOLM_API int PEKOLM_CALL KolmreadMultiple(int port, int channel, double* values, int maxCount, int* count) noexcept {
  return run_int(port, [=](Device& device) -> Result<int> {
    const bool arguments_ok = channel >= 0 && channel <= 4 && values != nullptr && maxCount >= 1 &&
                              (channel != 0 || maxCount % 4 == 0) && count != nullptr;
    if (!arguments_ok) return fail(error::bad_argument);

    // The rings are locked only to copy raw values out, one block at a time, and the block is normalised
    // after the lock is released: the receive thread never waits longer than one block takes to copy.
    constexpr std::uint32_t block_values = 400;
    std::array<std::uint16_t, block_values> raw;
    const std::uint32_t per_value = channel == 0 ? channel_count : 1;  // values per set
    const std::uint32_t block_sets = block_values / per_value;
    std::uint32_t sets = 0;  // what the first look found, in sets of per_value values
    std::uint32_t delivered = 0;
    for (bool first = true; first || delivered < sets * per_value; first = false) {
      std::uint32_t taken = 0;  // sets in this block
      {
        BufferLock lock(device);
        if (!lock && first) return fail(error::lock_failed);
        if (!lock) break;  // what earlier blocks took is the caller's: a shorter block, not a failure
        // Another reader or a clear may have taken values since the last block.
        const std::uint32_t available = channel == 0 ? smallest_count(device) : device.rings[channel - 1].count();
        if (first) sets = std::min(available, static_cast<std::uint32_t>(maxCount) / per_value);
        taken = std::min({available, block_sets, sets - delivered / per_value});
        if (channel == 0) {
          for (int c = 0; c < channel_count; ++c) {
            device.rings[c].take(raw.data() + static_cast<std::size_t>(c) * block_sets, taken);
          }
        } else {
          device.rings[channel - 1].take(raw.data(), taken);
        }
      }
      if (taken == 0) break;
      double* out = values + delivered;
      if (channel == 0) {
        for (std::uint32_t set = 0; set < taken; ++set) {
          for (std::uint32_t c = 0; c < channel_count; ++c) {
            out[set * channel_count + c] = normalise(raw[c * block_sets + set]);
          }
        }
      } else {
        for (std::uint32_t i = 0; i < taken; ++i) out[i] = normalise(raw[i]);
      }
      delivered += taken * per_value;
    }
    *count = static_cast<int>(delivered);
    // An empty ring of a device that has gone is no quiet amplifier.
    if (device_gone(device)) return fail(Result<int>::unrecorded);
    if (delivered == 0) return 0;
    // The values are taken even while the receive thread reports an error; the result says so.
    if (device.receive_error.load() != 0) return fail(Result<int>::unrecorded);
    return 1;
  });
}
