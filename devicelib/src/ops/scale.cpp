// Scale: one integer per channel and input type, passed through. Input type 5 carries 32 bits on the
// wire, the others 24.
#include "command_transport.h"
#include "protocol/limits.h"

using namespace pekolm;

namespace {

constexpr int wide_type = 5;
// Byte 4 of an answer counts its payload: the echoes and four value bytes make 6.
constexpr std::size_t payload_length_index = 4;
constexpr std::uint8_t wide_payload_length = 6;

int value_bytes(int type) { return type == wide_type ? 4 : 3; }

}  // namespace

PEKOLM_API int PEKOLM_CALL PeKolmsetScale(int port, int channel, int type, int value) noexcept {
  return run_int(port, [=](Device& device) -> Result<int> {
    if (!is_channel(channel) || !is_input_type(type)) return fail(error::bad_argument);
    Command command{wire::set_scale, static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(type)};
    command.push_be(static_cast<std::uint32_t>(value), value_bytes(type));
    return sent(send(device, command));
  });
}

PEKOLM_API int PEKOLM_CALL PeKolmgetScale(int port, int channel, int type) noexcept {
  return run_int(port, [=](Device& device) -> Result<int> {
    if (!is_channel(channel) || !is_input_type(type)) return fail(error::bad_argument);
    const std::size_t answer_length = wire::get_scale.answer_length + (type == wide_type ? 1 : 0);
    Result<Answer> answer =
        query(device, {wire::get_scale.command, static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(type)},
              answer_length);
    if (!answer.ok()) return fail(answer.error);
    const Answer& a = answer.value;
    if (a[wire::payload] != channel || a[wire::payload + 1] != type) return fail(error::answer_content);
    // The answer says how wide its value is; that counts, not the type asked for.
    const int width = a[payload_length_index] == wide_payload_length ? 4 : 3;
    return static_cast<int>(read_be(a, wire::payload + 2, width));
  });
}
