// The amplifier's side of the serial wire: which command bytes it knows, how long each request is, and
// how its two kinds of outgoing frames are laid out. Pure data and pure functions; no I/O.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "kolmsim/simulator.h"

namespace kolmsim::wire {

inline constexpr std::uint8_t kAnswerStart = 0x3B;  // ';'
inline constexpr std::uint8_t kValueStart = 0xA5;
inline constexpr std::uint8_t kCR = 0x0D;
inline constexpr std::uint8_t kLF = 0x0A;
inline constexpr std::size_t kValueFrameSize = 11;
// Answer frame: ';' and the command byte, filler, the payload length at byte 4, filler, payload from
// byte 8, CR LF. Ten bytes of framing around the payload.
inline constexpr std::size_t kAnswerPayloadOffset = 8;
inline constexpr std::size_t kAnswerLengthIndex = 4;
inline constexpr std::size_t kAnswerOverhead = 10;

// The scale command is the only one whose length depends on its content: input type 5 carries a
// 32-bit value instead of a 24-bit one.
inline constexpr std::uint8_t kSetScale = 0x88;
inline constexpr std::size_t kSetScaleTypeIndex = 2;
inline constexpr std::uint8_t kWideScaleType = 5;

// Length in bytes of the command that starts at pending[0], command byte included; 0 when pending[0]
// is not a command byte (the caller skips it). For the scale command the length is only known once its
// type byte is there; until then the shorter length is reported, which already exceeds the bytes at
// hand, so asking again with more bytes always gives the final answer.
std::size_t request_length(std::span<const std::uint8_t> pending);

// Whether the command byte is one the amplifier answers with an answer frame.
bool is_query(std::uint8_t command);

// The answer frame for `command` carrying `payload` (at most 255 bytes).
Bytes answer_frame(std::uint8_t command, std::span<const std::uint8_t> payload);

using ValueFrame = std::array<std::uint8_t, kValueFrameSize>;
ValueFrame value_frame(const std::array<std::uint16_t, 4>& raw);

// Most significant byte first, as everything multi-byte travels.
inline void put_be(Bytes& out, std::uint32_t value, int byte_count) {
  for (int i = byte_count - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}
inline std::uint32_t read_be(std::span<const std::uint8_t> bytes) {
  std::uint32_t value = 0;
  for (std::uint8_t b : bytes) value = (value << 8) | b;
  return value;
}

}  // namespace kolmsim::wire
