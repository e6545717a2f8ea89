// Command lengths and frame layouts of the amplifier's wire.
#include "wire.h"

#include <algorithm>

namespace kolmsim::wire {
namespace {

struct CommandInfo {
  std::uint8_t request_length = 0;  // 0: not a command byte
  bool query = false;
};

constexpr std::array<CommandInfo, 256> make_table() {
  std::array<CommandInfo, 256> t{};
  auto send = [&t](std::uint8_t b, std::uint8_t len) { t[b] = {len, false}; };
  auto query = [&t](std::uint8_t b, std::uint8_t len) { t[b] = {len, true}; };
  send(0x09, 2);   // save parameter set
  send(0x0A, 2);   // load parameter set
  send(0x0B, 6);   // write offset
  send(0x0C, 2);   // zero a channel
  query(0x0D, 3);  // read offset
  send(0x12, 2);   // data rate
  query(0x16, 1);
  send(0x1E, 9);  // serial number
  query(0x1F, 1);
  send(0x20, 4);  // threshold register
  query(0x21, 2);
  send(0x23, 1);  // stop transmission
  send(0x24, 1);  // start transmission
  send(0x26, 8);  // mode with access code
  query(0x27, 1);
  send(0x28, 2);  // transmission mode
  query(0x29, 1);
  query(0x2B, 1);      // firmware version
  send(0x3B, 1);       // one measured value now
  send(kSetScale, 6);  // 7 for the wide type, see request_length
  query(0x89, 3);
  send(0xB0, 2);  // serial baud rate
  query(0xB1, 1);
  send(0xB2, 3);  // input type (gain)
  query(0xB3, 1);
  send(0xB4, 3);  // unit
  query(0xB5, 2);
  send(0xB6, 3);  // I/O line type
  query(0xB7, 2);
  send(0xB8, 3);  // I/O line state
  query(0xB9, 1);
  send(0xBA, 6);  // display norm
  query(0xBB, 2);
  send(0xBC, 6);  // free unit text
  query(0xBD, 1);
  send(0xC0, 2);  // CAN bit rate
  query(0xC1, 1);
  send(0xC5, 6);  // CAN identifier
  query(0xC6, 2);
  return t;
}

constexpr std::array<CommandInfo, 256> kCommands = make_table();

}  // namespace

std::size_t request_length(std::span<const std::uint8_t> pending) {
  if (pending.empty()) return 0;
  const std::uint8_t command = pending[0];
  std::size_t length = kCommands[command].request_length;
  if (command == kSetScale && pending.size() > kSetScaleTypeIndex && pending[kSetScaleTypeIndex] == kWideScaleType) {
    length += 1;
  }
  return length;
}

bool is_query(std::uint8_t command) { return kCommands[command].query; }

Bytes answer_frame(std::uint8_t command, std::span<const std::uint8_t> payload) {
  Bytes frame(payload.size() + kAnswerOverhead, 0);
  frame[0] = kAnswerStart;
  frame[1] = command;
  frame[kAnswerLengthIndex] = static_cast<std::uint8_t>(payload.size());
  std::copy(payload.begin(), payload.end(), frame.begin() + kAnswerPayloadOffset);
  frame[frame.size() - 2] = kCR;
  frame[frame.size() - 1] = kLF;
  return frame;
}

ValueFrame value_frame(const std::array<std::uint16_t, 4>& raw) {
  ValueFrame f{};
  f[0] = kValueStart;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    f[1 + 2 * i] = static_cast<std::uint8_t>(raw[i] >> 8);
    f[2 + 2 * i] = static_cast<std::uint8_t>(raw[i] & 0xFF);
  }
  f[9] = kCR;
  f[10] = kLF;
  return f;
}

}  // namespace kolmsim::wire
