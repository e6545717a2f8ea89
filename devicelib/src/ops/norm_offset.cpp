// Display normalisation (a single-precision factor per channel) and offset (a raw 24-bit value per channel
// and input type), both kept by the amplifier.
#include "command_transport.h"
#include "protocol/conversions.h"
#include "protocol/limits.h"

using namespace pekolm;

PEKOLM_API int PEKOLM_CALL KolmDispSetNorm(int port, int channel, double norm) noexcept {
  return run_int(port, [=](Device& device) -> Result<int> {
    if (!is_channel(channel) || !norm_acceptable(norm)) return fail(error::bad_argument);
    Command command{wire::set_norm, static_cast<std::uint8_t>(channel)};
    command.push_be(norm_bits(norm), 4);
    return sent(send(device, command));
  });
}

PEKOLM_API double PEKOLM_CALL KolmDispGetNorm(int port, int channel) noexcept {
  return run_on_port<double>(port, -1.0, [channel](Device& device) -> Result<double> {
    if (!is_channel(channel)) return Result<double>::failure(error::bad_argument);
    Result<Answer> answer =
        query(device, {wire::get_norm.command, static_cast<std::uint8_t>(channel)}, wire::get_norm.answer_length);
    if (!answer.ok()) return Result<double>::failure(answer.error);
    if (answer.value[wire::payload] != channel) return Result<double>::failure(error::answer_content);
    return norm_from_bits(read_be(answer.value, wire::payload + 1, 4));
  });
}

PEKOLM_API int PEKOLM_CALL KolmwriteOffset(int port, int channel, int type, int offset) noexcept {
  return run_int(port, [=](Device& device) -> Result<int> {
    if (device.firmware_version < offset_firmware) return fail(error::firmware_too_old);
    if (!is_channel(channel) || !is_input_type(type)) return fail(error::bad_argument);
    Command command{wire::write_offset, static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(type)};
    command.push_be(static_cast<std::uint32_t>(offset), 3);  // bits 24..31 are dropped
    return sent(send(device, command));
  });
}

PEKOLM_API int PEKOLM_CALL KolmreadOffset(int port, int channel, int type) noexcept {
  return run_int(port, [=](Device& device) -> Result<int> {
    if (device.firmware_version < offset_firmware) return fail(error::firmware_too_old);
    if (!is_channel(channel) || !is_input_type(type)) return fail(error::bad_argument);
    Result<Answer> answer =
        query(device, {wire::read_offset.command, static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(type)},
              wire::read_offset.answer_length);
    if (!answer.ok()) return fail(answer.error);
    const Answer& a = answer.value;
    if (a[wire::payload] != channel || a[wire::payload + 1] != type) return fail(error::answer_content);
    return static_cast<int>(read_be(a, wire::payload + 2, 3));
  });
}
