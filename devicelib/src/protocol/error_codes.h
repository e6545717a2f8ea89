// The library's error codes. OS error codes travel plain (opening the port, the receive thread) or or'ed
// with write_failed (writing a command).
#pragma once

#include <cstdint>

namespace pekolm::error {

inline constexpr std::uint32_t cts_timeout = 0x3000001F;
inline constexpr std::uint32_t answer_timeout = 0x30000058;
inline constexpr std::uint32_t answer_length = 0x30000059;
inline constexpr std::uint32_t answer_content = 0x30000060;
inline constexpr std::uint32_t frame_terminator = 0x30000061;
inline constexpr std::uint32_t firmware_too_old = 0x30000062;
inline constexpr std::uint32_t lock_failed = 0x300000F0;
inline constexpr std::uint32_t event_failed = 0x300000F1;
inline constexpr std::uint32_t out_of_memory = 0x300000F3;
inline constexpr std::uint32_t short_write = 0x300000F5;
inline constexpr std::uint32_t already_open = 0x300000F6;
inline constexpr std::uint32_t bad_argument = 0x30000100;
inline constexpr std::uint32_t bad_port = 0x30000101;
inline constexpr std::uint32_t write_failed = 0x20000000;

}  // namespace pekolm::error
