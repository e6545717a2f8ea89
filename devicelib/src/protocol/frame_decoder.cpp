// Frame decoder: see frame_decoder.h.
#include "protocol/frame_decoder.h"

namespace pekolm {

DecodeResult decode(const std::uint8_t* bytes, std::size_t count, FrameSink& sink) {
  std::size_t position = 0;
  while (position < count) {
    const std::uint8_t* at = bytes + position;
    const std::size_t remaining = count - position;

    if (*at == value_frame_start) {
      if (remaining < value_frame_length) return {remaining, value_frame_length - remaining};
      position += value_frame_length;
      if (at[9] != '\r' || at[10] != '\n') {
        sink.bad_terminator();  // the frame is dropped; what follows it is decoded as usual
        continue;
      }
      std::uint16_t raw[4];
      for (int channel = 0; channel < 4; ++channel) {
        raw[channel] = static_cast<std::uint16_t>(at[1 + 2 * channel] << 8 | at[2 + 2 * channel]);
      }
      if (sink.store_values(raw) == FrameSink::Store::abandon_pass) return {0, 0};
      continue;
    }

    if (*at == answer_frame_start) {
      const std::size_t expected = sink.offer_answer(at, remaining);
      if (expected == 0) {
        ++position;
        continue;
      }
      if (remaining < expected) return {remaining, expected - remaining};
      position += expected;
      continue;
    }

    ++position;
  }
  return {0, 0};
}

}  // namespace pekolm
