// Fault injection for answers and measured-value frames.
#include "faults.h"

#include <algorithm>

namespace kolmsim {

std::optional<PlannedAnswer> FaultBook::plan_answer(std::uint8_t command, const std::optional<Bytes>& payload) {
  auto it = answer_faults_.find(command);
  if (it == answer_faults_.end() || (!payload && !it->second.payload)) {
    if (!payload) return std::nullopt;
    return PlannedAnswer{wire::answer_frame(command, *payload), {}};
  }
  const AnswerFault fault = it->second;
  if (fault.once) answer_faults_.erase(it);
  if (fault.silent) return std::nullopt;

  Bytes sent = fault.payload ? *fault.payload : *payload;
  const long size = std::clamp<long>(static_cast<long>(sent.size()) + fault.length_delta, 0, 255);
  sent.resize(static_cast<std::size_t>(size), 0);
  return PlannedAnswer{wire::answer_frame(command, sent), fault.delay};
}

void FaultBook::garbage_between_frames(Bytes garbage, int every) {
  garbage_ = std::move(garbage);
  garbage_every_ = every > 0 && !garbage_.empty() ? every : 0;
  frames_since_garbage_ = 0;
}

DressedValue FaultBook::dress_value(const wire::ValueFrame& frame) {
  DressedValue out;
  out.frame.assign(frame.begin(), frame.end());
  if (broken_terminators_ > 0) {
    --broken_terminators_;
    // Swapped, as a line that lost a byte might deliver them; neither starts a frame.
    out.frame[9] = wire::kLF;
    out.frame[10] = wire::kCR;
  }
  if (garbage_every_ > 0 && ++frames_since_garbage_ >= static_cast<std::uint64_t>(garbage_every_)) {
    frames_since_garbage_ = 0;
    out.garbage_after = garbage_;
  }
  return out;
}

}  // namespace kolmsim
