// Opening and closing ports: activation, the start-up talk with the amplifier, and the one teardown that
// release, unload and failed activations share.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>

#include "device.h"
#include "protocol/limits.h"

namespace pekolm {

namespace activation_flag {
inline constexpr int handshake = 0x4;     // RTS/CTS; wait up to 3000 ms for CTS
inline constexpr int slow_start = 0x100;  // settle 2000 ms; mode query tried 5 times
inline constexpr int stop_first = 0x200;  // stop the amplifier's transmission before talking to it
}  // namespace activation_flag

std::uint32_t clamp_buffer_size(int requested);

// Sleeps at least `duration`, even where the system's sleep ends early.
void sleep_at_least(std::chrono::milliseconds duration);

enum class Teardown { release, unload };
// Cuts short the waits of other calls on the port and waits until none is inside, then stops the receive
// thread, closes the port and empties the slot. A receive thread that does not end in time is left behind
// with the port rather than blocking the caller for ever. False when another thread already tears it down.
bool teardown(const std::shared_ptr<Device>& device, Teardown mode = Teardown::release);

// Talks to the amplifier for the first time; the activation's result (0 or -1). Tears the port down when
// that fails.
int run_startup_sequence(const std::shared_ptr<Device>& device, int flags);

}  // namespace pekolm
