// Misbehaviour on demand, for testing the host: answers that are late, missing, too long, too short
// or wrong; measured-value frames with a broken end; garbage between frames; frames cut into pieces.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "kolmsim/simulator.h"
#include "wire.h"

namespace kolmsim {

// An answer frame on its way, after the faults were applied.
struct PlannedAnswer {
  Bytes frame;
  Clock::duration delay{};
};

// The bytes that go out for one measured-value frame.
struct DressedValue {
  Bytes frame;
  Bytes garbage_after;  // empty when no garbage is due
};

class FaultBook {
 public:
  void set_answer_fault(std::uint8_t command, const AnswerFault& fault) { answer_faults_[command] = fault; }
  // Forgets every fault, including broken terminators, garbage and splitting.
  void clear() { *this = FaultBook{}; }

  // The answer for a query whose real payload is `payload` (none: the amplifier would not answer);
  // none when nothing goes out. A fault that brings its own payload answers even a query the amplifier
  // would not answer. Consumes a one-shot fault when it applies. The payload length byte always
  // matches the payload actually sent.
  std::optional<PlannedAnswer> plan_answer(std::uint8_t command, const std::optional<Bytes>& payload);

  void break_terminators(int n) { broken_terminators_ = n > 0 ? n : 0; }
  void garbage_between_frames(Bytes garbage, int every);
  // Applies terminator breaking and garbage to the next measured-value frame.
  DressedValue dress_value(const wire::ValueFrame& frame);

  void split_frames(std::vector<std::size_t> piece_sizes, Clock::duration gap) {
    piece_sizes_ = std::move(piece_sizes);
    gap_ = gap;
  }
  const std::vector<std::size_t>& piece_sizes() const { return piece_sizes_; }
  Clock::duration gap() const { return gap_; }

 private:
  std::map<std::uint8_t, AnswerFault> answer_faults_;
  int broken_terminators_ = 0;
  Bytes garbage_;
  int garbage_every_ = 0;
  std::uint64_t frames_since_garbage_ = 0;
  std::vector<std::size_t> piece_sizes_;
  Clock::duration gap_{};
};

}  // namespace kolmsim
