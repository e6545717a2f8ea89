// Units per channel, as a unit-table index or as its text, and the amplifier's one free unit text.
#include <cstring>

#include "command_transport.h"
#include "protocol/conversions.h"
#include "protocol/limits.h"

using namespace pekolm;

namespace {

Result<int> set_unit(Device& device, int channel, int unit) {
  return sent(send(device, {wire::set_unit, static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(unit)}));
}

Result<int> get_unit(Device& device, int channel) {
  Result<Answer> answer =
      query(device, {wire::get_unit.command, static_cast<std::uint8_t>(channel)}, wire::get_unit.answer_length);
  if (!answer.ok()) return fail(answer.error);
  if (answer.value[wire::payload] != channel) return fail(error::answer_content);
  return answer.value[wire::payload + 1];
}

Result<int> set_free_text(Device& device, const char* text, std::size_t length) {
  Command command{wire::set_unit_text};
  // An empty text would be five zero bytes; the amplifier is sent five spaces instead.
  for (std::size_t i = 0; i < free_text_length; ++i) {
    const std::uint8_t blank = length == 0 ? ' ' : 0;
    command.push(i < length ? static_cast<std::uint8_t>(text[i]) : blank);
  }
  return sent(send(device, command));
}

Result<int> get_free_text(Device& device, char* text) {
  Result<Answer> answer = query(device, {wire::get_unit_text.command}, wire::get_unit_text.answer_length);
  if (!answer.ok()) return fail(answer.error);
  char copy[free_text_length + 1] = {};  // five characters and their terminator at the most
  std::memcpy(copy, answer.value.data() + wire::payload, free_text_length);
  std::memcpy(text, copy, std::strlen(copy) + 1);
  return 0;
}

}  // namespace

PEKOLM_API int PEKOLM_CALL KolmsetUnit(int port, int channel, int unit) noexcept {
  return run_int(port, [=](Device& device) -> Result<int> {
    if (device.firmware_version < unit_firmware) return fail(error::firmware_too_old);
    if (!is_channel(channel) || unit < 0 || unit >= unit_count) return fail(error::bad_argument);
    return set_unit(device, channel, unit);
  });
}

PEKOLM_API int PEKOLM_CALL KolmgetUnit(int port, int channel) noexcept {
  return run_int(port, [channel](Device& device) -> Result<int> {
    if (device.firmware_version < unit_firmware) return fail(error::firmware_too_old);
    if (!is_channel(channel)) return fail(error::bad_argument);
    return get_unit(device, channel);
  });
}

PEKOLM_API int PEKOLM_CALL KolmsetUnitText(int port, int channel, const char* text) noexcept {
  return run_int(port, [=](Device& device) -> Result<int> {
    if (device.firmware_version < unit_firmware) return fail(error::firmware_too_old);
    if (channel < 0 || channel > 4 || text == nullptr) return fail(error::bad_argument);
    const std::size_t length = strnlen(text, free_text_length + 1);
    if (length > free_text_length) return fail(error::bad_argument);
    if (channel == 0) return set_free_text(device, text, length);
    const std::optional<int> unit = unit_index_of(text);
    if (!unit) return fail(error::bad_argument);
    return set_unit(device, channel, *unit);
  });
}

PEKOLM_API int PEKOLM_CALL KolmgetUnitText(int port, int channel, char* text) noexcept {
  return run_int(port, [=](Device& device) -> Result<int> {
    if (device.firmware_version < unit_firmware) return fail(error::firmware_too_old);
    if (channel < 0 || channel > 4 || text == nullptr) return fail(error::bad_argument);
    if (channel == 0) return get_free_text(device, text);
    Result<int> unit = get_unit(device, channel);
    if (!unit.ok()) return unit;
    if (unit.value >= unit_count) return fail(error::answer_content);  // the device may know more units
    std::strcpy(text, unit_table[unit.value]);
    return 0;
  });
}
