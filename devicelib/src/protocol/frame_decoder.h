// Splits the amplifier's byte stream into measured-value frames and answer frames.
//
// The amplifier sends two kinds of frame: an 11-byte measured-value frame (0xA5, four big-endian raw
// values, CR LF) and an answer frame that starts with ';' and whose length only the waiting query knows.
// Every other byte between frames means nothing and is skipped.
//
// decode() has no I/O and no threads: it looks at bytes and tells its sink what it found, every complete
// frame of them in order. It stops at an unfinished frame and says how many bytes that frame still lacks;
// Reassembly (reassembly.h) carries it to the next read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pekolm {

inline constexpr std::uint8_t value_frame_start = 0xA5;
inline constexpr std::uint8_t answer_frame_start = ';';
inline constexpr std::size_t value_frame_length = 11;

class FrameSink {
 public:
  enum class Store { stored, dropped, abandon_pass };

  virtual ~FrameSink() = default;
  // Four raw values of a well-terminated frame. abandon_pass drops every byte left in this pass (a clear
  // request is under way).
  virtual Store store_values(const std::uint16_t raw[4]) = 0;
  // A measured-value frame whose bytes 9 and 10 are not CR LF.
  virtual void bad_terminator() = 0;
  // An answer frame starts at `bytes` with `available` bytes from its ';' on (possibly more than the
  // answer). Returns the bytes the frame spans when a query waits for one (taking it when complete), or 0
  // when none waits (the ';' is then skipped like any other byte).
  virtual std::size_t offer_answer(const std::uint8_t* bytes, std::size_t available) = 0;
};

struct DecodeResult {
  std::size_t carried = 0;       // bytes of an unfinished frame, to be kept at the buffer's start
  std::size_t request_size = 0;  // bytes that frame still lacks; 0 when no frame is open
};

// Decodes `count` bytes at `bytes`. The unfinished frame, if any, is left at the end of the given bytes;
// the caller moves it to the start of its buffer.
DecodeResult decode(const std::uint8_t* bytes, std::size_t count, FrameSink& sink);

}  // namespace pekolm
