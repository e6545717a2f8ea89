// What the amplifier and its wire allow: counts and ranges of the arguments, sizes of what travels, and the
// firmware versions that brought a feature. One place, so that the families of operations agree.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "protocol/wire.h"

namespace pekolm {

inline constexpr int channel_count = 4;
inline bool is_channel(int channel) { return channel >= 1 && channel <= channel_count; }
// Input type codes (the gain): 1..7; they also select scale and offset.
inline bool is_input_type(int type) { return type >= 1 && type <= 7; }
inline constexpr int highest_threshold = 8;

// Rates the library opens ports with and the amplifier's serial interface takes, in the order of the
// amplifier's own baud codes.
inline constexpr std::array<int, 6> permitted_bauds = {9600, 19200, 38400, 57600, 115200, 230400};
inline constexpr std::array<int, 8> can_bauds = {20000, 50000, 80000, 100000, 125000, 250000, 500000, 1000000};

// Largest ring that keeps buffer size x 11 (one frame's bytes) within 32 bits.
inline constexpr std::uint32_t max_buffer_size = 390451572;

inline constexpr std::size_t access_code_length = 6;
inline constexpr std::size_t serial_number_length = 8;
inline constexpr std::size_t free_text_length = 5;  // a unit text travels as exactly this many bytes

// Firmware versions from which the amplifier has a feature.
inline constexpr std::uint32_t io_state_firmware = 8;      // reading the digital I/O state
inline constexpr std::uint32_t io_type_firmware = 10;      // the digital I/O type commands
inline constexpr std::uint32_t offset_firmware = 10;       // offsets
inline constexpr std::uint32_t unit_firmware = 10;         // units and unit texts
inline constexpr std::uint32_t extended_io_firmware = 12;  // twelve lines and types 16, 17

// What the library keeps of one answer, and of one command it builds.
inline constexpr std::size_t answer_buffer_size = 128;
inline constexpr std::size_t command_buffer_size = 16;

namespace wire {
inline constexpr Query all_queries[] = {
    read_offset,      read_rate, read_serial_number, read_threshold, get_mode,  get_tx_mode,
    firmware_version, get_scale, get_serial_baud,    get_gains,      get_unit,  get_io_type,
    get_io_state,     get_norm,  get_unit_text,      get_can_baud,   get_can_id};
inline constexpr SendOnly all_send_only[] = {
    save_parameter_set, load_parameter_set, write_offset,       set_zero,  set_rate,    write_serial_number,
    write_threshold,    stop_transmission,  start_transmission, set_mode,  set_tx_mode, request_value,
    set_scale,          set_serial_baud,    set_gain,           set_unit,  set_io_type, set_io_state,
    set_norm,           set_unit_text,      set_can_baud,       set_can_id};
constexpr bool every_answer_fits() {
  for (const Query& query : all_queries) {
    // +1: the scale of the wide input type answers one byte more.
    if (query.answer_length + 1 > answer_buffer_size || query.answer_length <= payload) return false;
  }
  return true;
}
constexpr bool every_request_fits() {
  for (const Query& query : all_queries) {
    if (query.request_length > command_buffer_size) return false;
  }
  for (const SendOnly& command : all_send_only) {
    if (command.request_length > command_buffer_size) return false;
  }
  return true;
}
static_assert(every_answer_fits(), "an answer would not fit the answer buffer, or has no payload");
static_assert(every_request_fits(), "a command would not fit the command buffer");
// The commands whose parameters are texts and codes of these lengths.
static_assert(set_mode.request_length == 2 + access_code_length &&
                  write_serial_number.request_length == 1 + serial_number_length &&
                  set_unit_text.request_length == 1 + free_text_length,
              "a text parameter's length and its command's length disagree");
}  // namespace wire

}  // namespace pekolm
