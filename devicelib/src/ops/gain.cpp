// Input type (gain) per channel, and the analogue-type layer over it that sets all four channels or reads
// them into separate outputs.
#include <chrono>

#include "activation.h"
#include "command_transport.h"
#include "protocol/limits.h"

using namespace pekolm;
using namespace std::chrono_literals;

namespace {

// Fixed pause after each channel when all four are set.
constexpr auto type_settle_time = 80ms;

// The answer carries the four codes at payload bytes 0..3, channel 1 first, and no channel echo.
Result<Answer> query_gains(Device& device) {
  return query(device, {wire::get_gains.command}, wire::get_gains.answer_length);
}

}  // namespace

PEKOLM_API int PEKOLM_CALL KolmsetGain(int port, int channel, int gain) noexcept {
  return run_int(port, [=](Device& device) -> Result<int> {
    if (!is_channel(channel) || !is_input_type(gain)) return fail(error::bad_argument);
    return sent(send(device, {wire::set_gain, static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(gain)}));
  });
}

PEKOLM_API int PEKOLM_CALL KolmgetGain(int port, int channel) noexcept {
  return run_int(port, [channel](Device& device) -> Result<int> {
    if (channel < 0 || channel > 4) return fail(error::bad_argument);
    Result<Answer> answer = query_gains(device);
    if (!answer.ok()) return fail(answer.error);
    if (channel == 0) return static_cast<int>(read_be(answer.value, wire::payload, 4));
    return answer.value[wire::payload + channel - 1];
  });
}

PEKOLM_API int PEKOLM_CALL KolmsetAnalogueType(int port, int channel, int type) noexcept {
  // The channel is checked before the port: the code goes to the port's record if it is open, else to
  // where codes of ports without a record wait.
  if (channel < 0 || channel > 4) {
    std::shared_ptr<Device> device;
    try {
      device = ports::find_open(port);
    } catch (...) {
      // Without the port table there is no record to hold the code either.
    }
    if (device) {
      device->last_error = error::bad_argument;
    } else {
      ports::library_error = error::bad_argument;
    }
    return -1;
  }
  if (channel != 0) return KolmsetGain(port, channel, type);
  // Each channel through the full gain operation; the pause follows every attempt, and the first failure
  // ends the run. Inside the port as a whole, so that a release waits for the run instead of letting it go
  // on into the port's next activation.
  return run_int(port, [port, type](Device& device) -> Result<int> {
    for (int c = 1; c <= 4; ++c) {
      const int result = KolmsetGain(port, c, type);
      const bool paused = device.calls.pause(type_settle_time);
      if (result == -1) return fail(Result<int>::unrecorded);  // its own call recorded why
      if (!paused) return fail(error::bad_port);
    }
    return 0;
  });
}

PEKOLM_API int PEKOLM_CALL KolmgetAnalogueType(int port, int* type1, int* type2, int* type3, int* type4) noexcept {
  return run_int(port, [=](Device& device) -> Result<int> {
    if (type1 == nullptr || type2 == nullptr || type3 == nullptr || type4 == nullptr) return fail(error::bad_argument);
    Result<Answer> answer = query_gains(device);
    if (!answer.ok()) return fail(answer.error);
    int* outputs[] = {type1, type2, type3, type4};
    // A code of 0x80 or above reads as negative: each byte is taken as signed.
    for (int i = 0; i < 4; ++i) {
      *outputs[i] = static_cast<std::int8_t>(answer.value[wire::payload + i]);  // NOLINT(bugprone-signed-char-misuse)
    }
    return 0;
  });
}
