#include "sample_clock.h"

#include <cmath>

namespace kolmrec {

std::uint64_t SampleClock::read_at(double host_seconds, std::uint64_t waiting, bool full) {
  const std::uint64_t seen = next_index_ + waiting;
  std::uint64_t lost = 0;
  if (full) {
    const double sent = static_cast<double>(previous_position_) + (host_seconds - previous_seconds_) * rate_hz_;
    const double missing = std::round(sent - static_cast<double>(seen));
    if (missing > 0) lost = static_cast<std::uint64_t>(missing);
  }
  next_index_ += lost;
  previous_seconds_ = host_seconds;
  previous_position_ = seen + lost;
  return lost;
}

}  // namespace kolmrec
