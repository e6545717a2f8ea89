// Zero, parameter sets, operating mode, firmware version and the single-value request.
#include <chrono>
#include <cstring>

#include "activation.h"
#include "command_transport.h"
#include "protocol/limits.h"
#include "protocol/wire.h"

using namespace pekolm;
using namespace std::chrono_literals;

namespace {

// The amplifier needs this long to take over a loaded parameter set.
constexpr auto parameter_set_load_time = 500ms;

bool is_parameter_set(int set) { return set >= 1 && set <= 3; }

}  // namespace

PEKOLM_API int PEKOLM_CALL KolmsetZero(int port, int channel) noexcept {
  return run_int(port, [channel](Device& device) -> Result<int> {
    if (channel < 0 || channel > 4) return fail(error::bad_argument);
    if (channel != 0) return sent(send(device, {wire::set_zero, static_cast<std::uint8_t>(channel)}));
    // All four, even after a failure; the last failure's code is the one recorded.
    std::uint32_t last_failure = 0;
    for (std::uint8_t c = 1; c <= 4; ++c) {
      if (std::uint32_t code = send(device, {wire::set_zero, c}); code != 0) last_failure = code;
    }
    return sent(last_failure);
  });
}

PEKOLM_API int PEKOLM_CALL KolmsaveAll(int port, int set) noexcept {
  return run_int(port, [set](Device& device) -> Result<int> {
    if (!is_parameter_set(set)) return fail(error::bad_argument);
    return sent(send(device, {wire::save_parameter_set, static_cast<std::uint8_t>(set)}));
  });
}

PEKOLM_API int PEKOLM_CALL KolmgetAll(int port, int set) noexcept {
  return run_int(port, [set](Device& device) -> Result<int> {
    if (!is_parameter_set(set)) return fail(error::bad_argument);
    const std::uint32_t code = send(device, {wire::load_parameter_set, static_cast<std::uint8_t>(set)});
    const bool paused = device.calls.pause(parameter_set_load_time);
    if (code == 0 && !paused) return fail(error::bad_port);
    return sent(code);
  });
}

PEKOLM_API int PEKOLM_CALL KolmsetMode(int port, int mode, const char* code) noexcept {
  return run_int(port, [=](Device& device) -> Result<int> {
    if (mode < 0 || mode > 2) return fail(error::bad_argument);
    if (code == nullptr || strnlen(code, access_code_length + 1) != access_code_length)
      return fail(error::bad_argument);
    Command command{wire::set_mode, static_cast<std::uint8_t>(mode)};
    for (std::size_t i = 0; i < access_code_length; ++i) command.push(static_cast<std::uint8_t>(code[i]));
    return sent(send(device, command));
  });
}

PEKOLM_API int PEKOLM_CALL KolmgetMode(int port) noexcept {
  return run_int(port, [](Device& device) { return query_payload_byte(device, wire::get_mode); });
}

PEKOLM_API int PEKOLM_CALL KolmfirmwareVersion(int port) noexcept {
  return run_int(port, [](Device& device) { return query_payload_byte(device, wire::firmware_version); });
}

PEKOLM_API int PEKOLM_CALL KolmgetValue(int port) noexcept {
  return run_int(port, [](Device& device) { return sent(send(device, {wire::request_value})); });
}
