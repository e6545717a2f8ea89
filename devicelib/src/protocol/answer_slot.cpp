// Answer hand-over: see answer_slot.h.
#include "protocol/answer_slot.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace pekolm {

std::size_t AnswerSlot::offer(const std::uint8_t* bytes, std::size_t available, bool& taken) {
  taken = false;
  const std::optional<std::uint32_t> carried_for = std::exchange(carried_for_, std::nullopt);
  if (expected_length_ == 0) return 0;
  if (carried_for && *carried_for != generation_) {
    // The unfinished answer of an abandoned query must not be completed by the bytes of the next one.
    if (carried_length_ < expected_length_) return carried_length_;
    // A stale part that already covers the new answer's length is taken with all the bytes there are, so
    // that it shows as a length mismatch rather than as the answer.
    received_length_ = available;
  } else {
    // Bytes beyond the answer belong to what follows it, not to the answer.
    received_length_ = std::min(available, expected_length_);
  }
  if (available < expected_length_) {
    carried_for_ = generation_;
    carried_length_ = available;
    return expected_length_;
  }
  const std::size_t length = std::exchange(expected_length_, 0);
  std::memcpy(answer_.data(), bytes, std::min(length, answer_.size()));
  taken = true;
  return length;
}

}  // namespace pekolm
