// Settings of the amplifier's own interfaces: serial baud rate, CAN bit rate and identifiers, and the
// transmission mode. None of them changes how the library's own port is set up.
#include <algorithm>
#include <array>

#include "command_transport.h"
#include "protocol/limits.h"

using namespace pekolm;

namespace {

// Device code of the rate at position i is 0x10 * (i + 1).

template <std::size_t N>
int code_of(const std::array<int, N>& table, int rate) {
  auto found = std::find(table.begin(), table.end(), rate);
  return found == table.end() ? -1 : static_cast<int>(0x10 * (found - table.begin() + 1));
}

template <std::size_t N>
int rate_of(const std::array<int, N>& table, int code) {
  for (std::size_t i = 0; i < N; ++i) {
    if (code == static_cast<int>(0x10 * (i + 1))) return table[i];
  }
  return -1;
}

bool is_can_slot(int slot) { return slot >= 1 && slot <= 8; }

template <std::size_t N>
Result<int> set_rate(Device& device, std::uint8_t command, const std::array<int, N>& table, int rate) {
  const int code = code_of(table, rate);
  if (code < 0) return fail(error::bad_argument);
  return sent(send(device, {command, static_cast<std::uint8_t>(code)}));
}

template <std::size_t N>
Result<int> get_rate(Device& device, const wire::Query& q, const std::array<int, N>& table) {
  Result<int> code = query_payload_byte(device, q);
  if (!code.ok()) return code;
  const int rate = rate_of(table, code.value);
  if (rate < 0) return fail(error::answer_content);
  return rate;
}

}  // namespace

PEKOLM_API int PEKOLM_CALL KolmsetBaudSerial(int port, int baud) noexcept {
  return run_int(port,
                 [baud](Device& device) { return set_rate(device, wire::set_serial_baud, permitted_bauds, baud); });
}

PEKOLM_API int PEKOLM_CALL KolmgetBaudSerial(int port) noexcept {
  return run_int(port, [](Device& device) { return get_rate(device, wire::get_serial_baud, permitted_bauds); });
}

PEKOLM_API int PEKOLM_CALL KolmsetBaudCAN(int port, int baud) noexcept {
  return run_int(port, [baud](Device& device) { return set_rate(device, wire::set_can_baud, can_bauds, baud); });
}

PEKOLM_API int PEKOLM_CALL KolmgetBaudCAN(int port) noexcept {
  return run_int(port, [](Device& device) { return get_rate(device, wire::get_can_baud, can_bauds); });
}

PEKOLM_API int PEKOLM_CALL KolmsetCanID(int port, int slot, int id) noexcept {
  return run_int(port, [=](Device& device) -> Result<int> {
    if (!is_can_slot(slot)) return fail(error::bad_argument);
    Command command{wire::set_can_id, static_cast<std::uint8_t>(slot)};
    command.push_be(static_cast<std::uint32_t>(id), 4);
    return sent(send(device, command));
  });
}

PEKOLM_API int PEKOLM_CALL KolmgetCanID(int port, int slot) noexcept {
  return run_int(port, [slot](Device& device) -> Result<int> {
    if (!is_can_slot(slot)) return fail(error::bad_argument);
    Result<Answer> answer =
        query(device, {wire::get_can_id.command, static_cast<std::uint8_t>(slot)}, wire::get_can_id.answer_length);
    if (!answer.ok()) return fail(answer.error);
    if (answer.value[wire::payload] != slot) return fail(error::answer_content);
    return static_cast<int>(read_be(answer.value, wire::payload + 1, 4));
  });
}

// These two keep their C++ names on purpose: programs bind them by the decorated symbols.
PEKOLM_CXX_API int PEKOLM_CALL KolmgetTXmode(int port) noexcept {
  return run_int(port, [](Device& device) { return query_payload_byte(device, wire::get_tx_mode); });
}

PEKOLM_CXX_API int PEKOLM_CALL KolmsetTXmode(int port, int mode) noexcept {
  return run_int(port, [mode](Device& device) {
    return sent(send(device, {wire::set_tx_mode, static_cast<std::uint8_t>(mode)}));
  });
}
