// Putting commands on the wire: send-only commands, and queries that wait for their answer frame.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "api.h"
#include "device.h"
#include "protocol/wire.h"

namespace pekolm {

// Every query's answer arrives within this time or not at all.
inline constexpr std::chrono::milliseconds answer_timeout{6000};

// A command: the command byte and its parameter bytes, written in one write.
class Command {
 public:
  Command(std::initializer_list<std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) push(b);
  }
  void push(std::uint8_t byte) { bytes_[size_++] = byte; }
  // Big-endian, the amplifier's byte order for every multi-byte value.
  void push_be(std::uint32_t value, int byte_count) {
    for (int shift = 8 * (byte_count - 1); shift >= 0; shift -= 8) push(static_cast<std::uint8_t>(value >> shift));
  }
  const std::uint8_t* data() const { return bytes_.data(); }
  std::size_t size() const { return size_; }

 private:
  std::array<std::uint8_t, command_buffer_size> bytes_{};
  std::size_t size_ = 0;
};

// Writes the command; 0, or the code of a failed (0x20000000 | the OS code) or short write.
std::uint32_t send(Device& device, const Command& command);

// Writes the command and waits for an answer frame of `answer_length` bytes.
Result<Answer> query(Device& device, const Command& command, std::size_t answer_length);

// Result of a send-only operation.
inline Result<int> sent(std::uint32_t code) { return code == 0 ? Result<int>(0) : Result<int>::failure(code); }

inline std::uint32_t read_be(const Answer& answer, std::size_t index, int byte_count) {
  std::uint32_t value = 0;
  for (int i = 0; i < byte_count; ++i) value = value << 8 | answer[index + i];
  return value;
}

}  // namespace pekolm

namespace pekolm {

// A one-byte query whose answer is one payload byte: that byte, 0..255.
inline Result<int> query_payload_byte(Device& device, const wire::Query& q) {
  Result<Answer> answer = query(device, {q.command}, q.answer_length);
  if (!answer.ok()) return fail(answer.error);
  return answer.value[wire::payload];
}

}  // namespace pekolm
