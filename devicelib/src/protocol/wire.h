// The amplifier's command set: command bytes and the full length of each query's answer frame (its ';'
// counted). An answer carries its payload from byte 8 on; n payload bytes make an answer of n + 10.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pekolm::wire {

struct Query {
  std::uint8_t command;
  std::size_t answer_length;
};

// Payload bytes start here in every answer frame.
inline constexpr std::size_t payload = 8;

// Send-only commands.
inline constexpr std::uint8_t save_parameter_set = 0x09;
inline constexpr std::uint8_t load_parameter_set = 0x0A;
inline constexpr std::uint8_t write_offset = 0x0B;
inline constexpr std::uint8_t set_zero = 0x0C;
inline constexpr std::uint8_t set_rate = 0x12;
inline constexpr std::uint8_t write_serial_number = 0x1E;
inline constexpr std::uint8_t write_threshold = 0x20;
inline constexpr std::uint8_t stop_transmission = 0x23;
inline constexpr std::uint8_t start_transmission = 0x24;
inline constexpr std::uint8_t set_mode = 0x26;
inline constexpr std::uint8_t set_tx_mode = 0x28;
inline constexpr std::uint8_t request_value = 0x3B;
inline constexpr std::uint8_t set_scale = 0x88;
inline constexpr std::uint8_t set_serial_baud = 0xB0;
inline constexpr std::uint8_t set_gain = 0xB2;
inline constexpr std::uint8_t set_unit = 0xB4;
inline constexpr std::uint8_t set_io_type = 0xB6;
inline constexpr std::uint8_t set_io_state = 0xB8;
inline constexpr std::uint8_t set_norm = 0xBA;
inline constexpr std::uint8_t set_unit_text = 0xBC;
inline constexpr std::uint8_t set_can_baud = 0xC0;
inline constexpr std::uint8_t set_can_id = 0xC5;

// Queries.
inline constexpr Query read_offset{0x0D, 15};
inline constexpr Query read_rate{0x16, 11};
inline constexpr Query read_serial_number{0x1F, 18};
inline constexpr Query read_threshold{0x21, 13};
inline constexpr Query get_mode{0x27, 11};
inline constexpr Query get_tx_mode{0x29, 11};
inline constexpr Query firmware_version{0x2B, 11};
inline constexpr Query get_scale{0x89, 15};  // 16 for input type 5, whose value has 32 bits
inline constexpr Query get_serial_baud{0xB1, 11};
inline constexpr Query get_gains{0xB3, 14};
inline constexpr Query get_unit{0xB5, 12};
inline constexpr Query get_io_type{0xB7, 12};
inline constexpr Query get_io_state{0xB9, 11};
inline constexpr Query get_norm{0xBB, 15};
inline constexpr Query get_unit_text{0xBD, 15};
inline constexpr Query get_can_baud{0xC1, 11};
inline constexpr Query get_can_id{0xC6, 15};

}  // namespace pekolm::wire
