// When measured-value frames are due. Frame k of a transmission is due k periods after it started, on
// the steady clock, so the rate holds on average however late the thread wakes; frames that fell due
// while the thread slept are handed out together.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "kolmsim/simulator.h"

namespace kolmsim {

class Pacer {
 public:
  // A backlog beyond this many frames (about a second at the highest rate) is dropped rather than
  // sent in one burst after a long stall.
  static constexpr std::uint64_t kMaxBacklog = 8192;

  // Follows the transmission state; starting, or changing the rate while transmitting, restarts the
  // count so that the first frame comes one period later.
  void configure(bool transmitting, std::uint8_t rate_code, Clock::time_point now);
  // Due times of the frames due by `now`, oldest first; each is handed out once.
  std::vector<Clock::time_point> take_due(Clock::time_point now);
  // When the next frame falls due; none while not transmitting.
  std::optional<Clock::time_point> next_due() const;

 private:
  Clock::time_point due_time(std::uint64_t k) const;

  bool running_ = false;
  std::uint8_t rate_code_ = 0;
  Clock::time_point epoch_{};
  std::chrono::duration<double> period_{0};
  std::uint64_t taken_ = 0;  // frames handed out since epoch_
};

}  // namespace kolmsim
