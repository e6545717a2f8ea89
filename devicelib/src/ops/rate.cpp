// Data rate: the amplifier's rate code, chosen from a rate in hertz within what the port's line carries.
#include "command_transport.h"
#include "protocol/conversions.h"

using namespace pekolm;

PEKOLM_API int PEKOLM_CALL KolmwriteFreq(int port, double rate) noexcept {
  return run_int(port, [rate](Device& device) -> Result<int> {
    // The limit follows the baud rate of activation, even if the amplifier's own rate changed since.
    const std::optional<std::uint8_t> code = rate_code_for(rate, device.baud);
    if (!code) return fail(error::bad_argument);
    return sent(send(device, {wire::set_rate, *code}));
  });
}

PEKOLM_API double PEKOLM_CALL KolmreadFreq(int port) noexcept {
  return run_on_port<double>(port, -1.0, [](Device& device) -> Result<double> {
    Result<int> code = query_payload_byte(device, wire::read_rate);
    if (!code.ok()) return Result<double>::failure(code.error);
    const std::optional<double> rate = rate_of_code(static_cast<std::uint8_t>(code.value));
    if (!rate) return Result<double>::failure(error::answer_content);
    return *rate;
  });
}
