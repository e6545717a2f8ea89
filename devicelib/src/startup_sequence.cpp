// The first talk with a freshly opened amplifier: stop it if asked, bring it into operating mode 1, learn
// whether it transmits and which firmware it runs.
#include <chrono>

#include "activation.h"
#include "api.h"

namespace pekolm {

using namespace std::chrono_literals;

int run_startup_sequence(int port, int flags) {
  std::shared_ptr<Device> device = ports::find_open(port);
  if (!device) {
    ports::library_error = error::bad_port;
    return -1;
  }

  auto give_up = [&](bool release) {
    ports::library_error = device->last_error.load();
    if (release) {
      Kolmrelease(port);
    } else {
      teardown(device);
    }
    return -1;
  };

  if (flags & activation_flag::stop_first) {
    if (KolmstopTX(port) == -1) return give_up(false);
    if (flags & activation_flag::slow_start) sleep_at_least(200ms);
  } else {
    device->transmitting = true;
  }
  device->last_error = 0;
  ports::library_error = 0;

  const int tries = (flags & activation_flag::slow_start) ? 5 : 1;
  int mode = -1;
  for (int attempt = 0; attempt < tries && mode == -1; ++attempt) mode = KolmgetMode(port);
  if (mode == -1) return give_up(true);
  if (mode == 0) {
    // Its result does not count, and a successful activation leaves no error behind.
    KolmsetMode(port, 1, "quiran");
    device->last_error = 0;
    sleep_at_least(100ms);
  }

  const int tx_mode = KolmgetTXmode(port);
  if (tx_mode != -1) {
    device->transmitting = (tx_mode & 0x02) != 0;
  } else if (device->last_error.load() != error::answer_timeout) {
    // A silent answer is tolerated (its time-out stays pending); any other failure is not.
    return give_up(true);
  }

  const int firmware = KolmfirmwareVersion(port);
  device->firmware_version = firmware == -1 ? 0 : static_cast<std::uint32_t>(firmware);
  ports::activation_port = 0;
  return 0;
}

}  // namespace pekolm
