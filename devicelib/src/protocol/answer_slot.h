// Where an answer frame passes from the decoder to the query that awaits it. Not thread-safe: the device's
// answer mutex guards it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "protocol/limits.h"

namespace pekolm {

// A complete answer frame, ';' at index 0.
using Answer = std::array<std::uint8_t, answer_buffer_size>;

class AnswerSlot {
 public:
  // A query awaits an answer frame of `length` bytes, its ';' included.
  void expect(std::size_t length) {
    received_length_ = 0;
    expected_length_ = length;
    ++generation_;
  }
  // Nothing is awaited any more.
  void forget() { received_length_ = expected_length_ = 0; }

  bool awaited() const { return expected_length_ != 0; }
  // The bytes of the answer that were there when the decoder took it, at most its length.
  std::size_t received_length() const { return received_length_; }
  const Answer& answer() const { return answer_; }

  // The decoder's side: an answer frame starts at `bytes`, with `available` bytes from its ';' on. Returns
  // how many bytes the frame spans, or 0 when no answer is awaited (the ';' is then an ordinary byte).
  // `taken` tells whether the awaited answer was complete and is now in answer().
  std::size_t offer(const std::uint8_t* bytes, std::size_t available, bool& taken);
  // The bytes an unfinished answer was carried in are gone (the receive buffer was emptied).
  void forget_carried() { carried_for_.reset(); }

 private:
  std::size_t expected_length_ = 0;
  std::size_t received_length_ = 0;
  // Counts the queries, so that the unfinished answer of an abandoned query is told from the one awaited.
  std::uint32_t generation_ = 0;
  // While an unfinished answer waits for its remaining bytes: the query it was begun for, and its length.
  std::optional<std::uint32_t> carried_for_;
  std::size_t carried_length_ = 0;
  Answer answer_{};
};

}  // namespace pekolm
