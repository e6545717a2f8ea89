// Digital inputs and outputs: a function type per line and one state byte for the lines. How many lines
// and types there are depends on the firmware the amplifier reported at activation.
#include <chrono>

#include "activation.h"
#include "command_transport.h"
#include "protocol/conversions.h"
#include "protocol/limits.h"

using namespace pekolm;
using namespace std::chrono_literals;

namespace {

// Fixed pause after each line when all lines are set.
constexpr auto line_settle_time = 80ms;

constexpr int state_lines = 8;  // one bit each in the state byte

struct IoLimits {
  int lines;
  int highest_type;
};

IoLimits io_limits(const Device& device) {
  return device.firmware_version >= extended_io_firmware ? IoLimits{12, 17} : IoLimits{8, 15};
}

// Sends `command_byte, line, payload` for one line, or for lines 1..lines with a pause after each attempt;
// the first failure ends the run.
Result<int> set_lines(Device& device, std::uint8_t command_byte, int io, int lines, std::uint8_t payload) {
  auto send_line = [&](int line) { return send(device, {command_byte, static_cast<std::uint8_t>(line), payload}); };
  if (io != 0) return sent(send_line(io));
  for (int line = 1; line <= lines; ++line) {
    const std::uint32_t code = send_line(line);
    const bool paused = device.calls.pause(line_settle_time);
    if (code != 0) return fail(code);
    if (!paused) return fail(error::bad_port);
  }
  return 0;
}

}  // namespace

PEKOLM_API int PEKOLM_CALL KolmsetDigitalIOtype(int port, int io, int type) noexcept {
  return run_int(port, [=](Device& device) -> Result<int> {
    if (device.firmware_version < io_type_firmware) return fail(error::firmware_too_old);
    const IoLimits limits = io_limits(device);
    if (io < 0 || io > limits.lines || type < 0 || type > limits.highest_type) return fail(error::bad_argument);
    return set_lines(device, wire::set_io_type, io, limits.lines, io_type_to_device(type));
  });
}

PEKOLM_API int PEKOLM_CALL KolmgetDigitalIOtype(int port, int io) noexcept {
  return run_int(port, [io](Device& device) -> Result<int> {
    if (device.firmware_version < io_type_firmware) return fail(error::firmware_too_old);
    if (io < 1 || io > io_limits(device).lines) return fail(error::bad_argument);
    Result<Answer> answer =
        query(device, {wire::get_io_type.command, static_cast<std::uint8_t>(io)}, wire::get_io_type.answer_length);
    if (!answer.ok()) return fail(answer.error);
    if (answer.value[wire::payload] != io) return fail(error::answer_content);
    const std::optional<int> type = io_type_from_device(answer.value[wire::payload + 1]);
    if (!type) return fail(error::answer_content);
    return *type;
  });
}

PEKOLM_API int PEKOLM_CALL KolmsetDigitalIOvalue(int port, int io, int value) noexcept {
  return run_int(port, [=](Device& device) -> Result<int> {
    if (io < 0 || io > state_lines) return fail(error::bad_argument);
    return set_lines(device, wire::set_io_state, io, state_lines, static_cast<std::uint8_t>(value));
  });
}

PEKOLM_API int PEKOLM_CALL KolmgetDigitalIOvalue(int port, int io) noexcept {
  return run_int(port, [io](Device& device) -> Result<int> {
    if (device.firmware_version < io_state_firmware) return fail(error::firmware_too_old);
    if (io < 0 || io > state_lines) return fail(error::bad_argument);
    Result<int> state = query_payload_byte(device, wire::get_io_state);
    if (!state.ok()) return state;
    // The whole byte is reported signed, so line 8 set makes it negative.
    if (io == 0) return static_cast<std::int8_t>(state.value);
    return (state.value >> (io - 1)) & 1;
  });
}
