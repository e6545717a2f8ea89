// The first talk with a freshly opened amplifier: stop it if asked, bring it into operating mode 1, learn
// whether it transmits and which firmware it runs.
#include <chrono>

#include "activation.h"
#include "command_transport.h"

namespace pekolm {

using namespace std::chrono_literals;

namespace {

// 0, or the code that ends the activation. Codes the activation tolerates stay pending in last_error, as an
// operation's would.
std::uint32_t talk_to_amplifier(Device& device, int flags) {
  const bool slow = (flags & activation_flag::slow_start) != 0;
  if (flags & activation_flag::stop_first) {
    if (std::uint32_t code = send(device, {wire::stop_transmission}); code != 0) return code;
    device.transmitting = false;
    if (slow) sleep_at_least(200ms);
  } else {
    device.transmitting = true;
  }
  device.last_error = 0;
  ports::library_error = 0;

  Result<int> mode = Result<int>::failure(error::answer_timeout);
  for (int attempt = 0; attempt < (slow ? 5 : 1) && !mode.ok(); ++attempt) {
    mode = query_payload_byte(device, wire::get_mode);
  }
  if (!mode.ok()) return mode.error;
  if (mode.value == 0) {
    // Its result does not count, and a successful activation leaves no error behind.
    send(device, {wire::set_mode, 1, 'q', 'u', 'i', 'r', 'a', 'n'});
    sleep_at_least(100ms);
  }

  const Result<int> tx_mode = query_payload_byte(device, wire::get_tx_mode);
  if (tx_mode.ok()) {
    device.transmitting = (tx_mode.value & 0x02) != 0;
  } else if (tx_mode.error == error::answer_timeout) {
    device.last_error = tx_mode.error;  // a silent answer is tolerated, and reported
  } else {
    return tx_mode.error;
  }

  const Result<int> firmware = query_payload_byte(device, wire::firmware_version);
  device.firmware_version = firmware.ok() ? static_cast<std::uint32_t>(firmware.value) : 0;
  if (!firmware.ok()) device.last_error = firmware.error;
  return 0;
}

}  // namespace

int run_startup_sequence(const std::shared_ptr<Device>& device, int flags) {
  std::uint32_t failure = error::bad_port;  // a release came first
  if (device->calls.enter()) {
    InsideGate inside(device->calls);
    failure = talk_to_amplifier(*device, flags);
  }
  if (failure != 0) {
    teardown(device);  // outside the gate: teardown waits until no call is inside
    ports::library_error = failure;
    return -1;
  }
  ports::activation_port = 0;
  return 0;
}

}  // namespace pekolm
