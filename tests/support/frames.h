// Bytes as the amplifier puts them on the wire, for tests at every level.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace testing_support {

using Bytes = std::vector<std::uint8_t>;

// A measured-value frame with these raw values.
inline Bytes value_frame(std::uint16_t ch1, std::uint16_t ch2, std::uint16_t ch3, std::uint16_t ch4) {
  Bytes frame{0xA5};
  for (std::uint16_t raw : {ch1, ch2, ch3, ch4}) {
    frame.push_back(static_cast<std::uint8_t>(raw >> 8));
    frame.push_back(static_cast<std::uint8_t>(raw));
  }
  frame.push_back('\r');
  frame.push_back('\n');
  return frame;
}

// An answer frame with the payload at byte 8 and the payload length at byte 4 (n bytes make n + 10).
inline Bytes answer_frame(const Bytes& payload) {
  Bytes frame(payload.size() + 10, 0);
  frame[0] = ';';
  frame[4] = static_cast<std::uint8_t>(payload.size());
  std::copy(payload.begin(), payload.end(), frame.begin() + 8);
  frame[frame.size() - 2] = '\r';
  frame[frame.size() - 1] = '\n';
  return frame;
}

}  // namespace testing_support
