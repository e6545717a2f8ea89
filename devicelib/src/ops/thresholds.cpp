// Thresholds 1..8: an on and an off level each, kept in two consecutive registers of the amplifier as raw
// values on the scale of the measured values.
#include <chrono>

#include "activation.h"
#include "command_transport.h"
#include "protocol/conversions.h"
#include "protocol/limits.h"

using namespace pekolm;
using namespace std::chrono_literals;

namespace {

// The amplifier needs this long to store a register before it takes the next command.
constexpr auto register_store_time = 100ms;

int on_register(int threshold) { return 2 * threshold - 1; }
int off_register(int threshold) { return 2 * threshold; }

std::uint32_t write_register(Device& device, int reg, std::uint16_t raw) {
  Command command{wire::write_threshold, static_cast<std::uint8_t>(reg)};
  command.push_be(raw, 2);
  return send(device, command);
}

Result<std::uint16_t> read_register(Device& device, int reg) {
  Result<Answer> answer =
      query(device, {wire::read_threshold.command, static_cast<std::uint8_t>(reg)}, wire::read_threshold.answer_length);
  if (!answer.ok()) return Result<std::uint16_t>::failure(answer.error);
  if (answer.value[wire::payload] != reg) return Result<std::uint16_t>::failure(error::answer_content);
  return static_cast<std::uint16_t>(read_be(answer.value, wire::payload + 1, 2));
}

}  // namespace

PEKOLM_API int PEKOLM_CALL KolmwriteThreshold(int port, int threshold, double on, double off) noexcept {
  return run_int(port, [=](Device& device) -> Result<int> {
    if (threshold < 0 || threshold > highest_threshold) return fail(error::bad_argument);
    const std::optional<std::uint16_t> raw_on = threshold_raw(on);
    const std::optional<std::uint16_t> raw_off = threshold_raw(off);
    if (!raw_on || !raw_off || *raw_on < *raw_off) return fail(error::bad_argument);

    if (threshold != 0) {
      if (std::uint32_t code = write_register(device, on_register(threshold), *raw_on); code != 0) return fail(code);
      if (!device.calls.pause(register_store_time)) return fail(error::bad_port);
      return sent(write_register(device, off_register(threshold), *raw_off));
    }
    // All eight, registers 1..16 in order; the pause follows every write, and the first failure ends it.
    for (int n = 1; n <= highest_threshold; ++n) {
      for (auto [reg, raw] : {std::pair{on_register(n), *raw_on}, std::pair{off_register(n), *raw_off}}) {
        const std::uint32_t code = write_register(device, reg, raw);
        const bool paused = device.calls.pause(register_store_time);
        if (code != 0) return fail(code);
        if (!paused) return fail(error::bad_port);
      }
    }
    return 0;
  });
}

PEKOLM_API int PEKOLM_CALL KolmreadThreshold(int port, int threshold, double* on, double* off) noexcept {
  return run_int(port, [=](Device& device) -> Result<int> {
    if (threshold < 1 || threshold > highest_threshold) return fail(error::bad_argument);
    if (on == nullptr || off == nullptr) return fail(error::bad_argument);
    const Result<std::uint16_t> raw_on = read_register(device, on_register(threshold));
    if (!raw_on.ok()) return fail(raw_on.error);
    const Result<std::uint16_t> raw_off = read_register(device, off_register(threshold));
    if (!raw_off.ok()) return fail(raw_off.error);
    // Reading refuses 65535, though a level just below 1.05 writes it.
    if (raw_on.value == 0xFFFF || raw_off.value == 0xFFFF) return fail(error::answer_content);
    *on = threshold_level(raw_on.value);
    *off = threshold_level(raw_off.value);
    return 0;
  });
}
