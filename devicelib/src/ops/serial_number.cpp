// The amplifier's serial number: eight characters, carried as they stand.
#include <cstring>

#include "command_transport.h"
#include "protocol/limits.h"

using namespace pekolm;

PEKOLM_API int PEKOLM_CALL PeKolmwriteSerialNo(int port, const char* serial) noexcept {
  return run_int(port, [serial](Device& device) -> Result<int> {
    if (serial == nullptr || strnlen(serial, serial_number_length + 1) != serial_number_length) {
      return fail(error::bad_argument);
    }
    Command command{wire::write_serial_number};
    for (std::size_t i = 0; i < serial_number_length; ++i) command.push(static_cast<std::uint8_t>(serial[i]));
    return sent(send(device, command));
  });
}

PEKOLM_API int PEKOLM_CALL KolmreadSerialNo(int port, char* serial) noexcept {
  return run_int(port, [serial](Device& device) -> Result<int> {
    if (serial == nullptr) return fail(error::bad_argument);
    Result<Answer> answer = query(device, {wire::read_serial_number.command}, wire::read_serial_number.answer_length);
    if (!answer.ok()) return fail(answer.error);
    // Cut at the first NUL among the eight characters, as a C string would be.
    char text[serial_number_length + 1] = {};
    std::memcpy(text, answer.value.data() + wire::payload, serial_number_length);
    std::memcpy(serial, text, std::strlen(text) + 1);
    return 0;
  });
}
