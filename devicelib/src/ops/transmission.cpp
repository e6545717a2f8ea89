// Start and stop of the amplifier's continuous transmission of measured values.
#include "command_transport.h"
#include "protocol/wire.h"

using namespace pekolm;

PEKOLM_API int PEKOLM_CALL KolmstartTX(int port) noexcept {
  return run_int(port, [](Device& device) -> Result<int> {
    if (std::uint32_t code = send(device, {wire::start_transmission}); code != 0) return fail(code);
    device.transmitting = true;
    return 0;
  });
}

PEKOLM_API int PEKOLM_CALL KolmstopTX(int port) noexcept {
  return run_int(port, [](Device& device) -> Result<int> {
    if (std::uint32_t code = send(device, {wire::stop_transmission}); code != 0) return fail(code);
    device.transmitting = false;
    return 0;
  });
}
