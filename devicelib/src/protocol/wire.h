// The amplifier's command set: command bytes, the length of each request (its command byte counted) and
// the full length of each query's answer frame (its ';' counted). An answer carries its payload from byte
// 8 on; n payload bytes make an answer of n + 10.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pekolm::wire {

// A command the amplifier does not answer; it stands for its command byte.
struct SendOnly {
  std::uint8_t command;
  std::size_t request_length;  // the longest form where the length varies
  constexpr operator std::uint8_t() const { return command; }
};

struct Query {
  std::uint8_t command;
  std::size_t request_length;
  std::size_t answer_length;
};

// Payload bytes start here in every answer frame.
inline constexpr std::size_t payload = 8;

// Send-only commands.
inline constexpr SendOnly save_parameter_set{0x09, 2};
inline constexpr SendOnly load_parameter_set{0x0A, 2};
inline constexpr SendOnly write_offset{0x0B, 6};
inline constexpr SendOnly set_zero{0x0C, 2};
inline constexpr SendOnly set_rate{0x12, 2};
inline constexpr SendOnly write_serial_number{0x1E, 9};
inline constexpr SendOnly write_threshold{0x20, 4};
inline constexpr SendOnly stop_transmission{0x23, 1};
inline constexpr SendOnly start_transmission{0x24, 1};
inline constexpr SendOnly set_mode{0x26, 8};
inline constexpr SendOnly set_tx_mode{0x28, 2};
inline constexpr SendOnly request_value{0x3B, 1};
inline constexpr SendOnly set_scale{0x88, 7};  // 6 for input types whose value has 24 bits
inline constexpr SendOnly set_serial_baud{0xB0, 2};
inline constexpr SendOnly set_gain{0xB2, 3};
inline constexpr SendOnly set_unit{0xB4, 3};
inline constexpr SendOnly set_io_type{0xB6, 3};
inline constexpr SendOnly set_io_state{0xB8, 3};
inline constexpr SendOnly set_norm{0xBA, 6};
inline constexpr SendOnly set_unit_text{0xBC, 6};
inline constexpr SendOnly set_can_baud{0xC0, 2};
inline constexpr SendOnly set_can_id{0xC5, 6};

// Queries.
inline constexpr Query read_offset{0x0D, 3, 15};
inline constexpr Query read_rate{0x16, 1, 11};
inline constexpr Query read_serial_number{0x1F, 1, 18};
inline constexpr Query read_threshold{0x21, 2, 13};
inline constexpr Query get_mode{0x27, 1, 11};
inline constexpr Query get_tx_mode{0x29, 1, 11};
inline constexpr Query firmware_version{0x2B, 1, 11};
inline constexpr Query get_scale{0x89, 3, 15};  // 16 for input type 5, whose value has 32 bits
inline constexpr Query get_serial_baud{0xB1, 1, 11};
inline constexpr Query get_gains{0xB3, 1, 14};
inline constexpr Query get_unit{0xB5, 2, 12};
inline constexpr Query get_io_type{0xB7, 2, 12};
inline constexpr Query get_io_state{0xB9, 1, 11};
inline constexpr Query get_norm{0xBB, 2, 15};
inline constexpr Query get_unit_text{0xBD, 1, 15};
inline constexpr Query get_can_baud{0xC1, 1, 11};
inline constexpr Query get_can_id{0xC6, 2, 15};

}  // namespace pekolm::wire
