#include "sample_clock.h"

#include <algorithm>
#include <cmath>

namespace kolmrec {

std::uint64_t SampleClock::read_at(double host_seconds, std::uint64_t waiting, bool full) {
  const double lag = host_seconds * rate_hz_ - static_cast<double>(next_index_ + waiting);
  if (!full) {
    lags_[lags_noted_++ % lags_.size()] = lag;
    return 0;
  }
  const double missing = std::round(lag - usual_lag());
  if (missing <= 0) return 0;
  const auto lost = static_cast<std::uint64_t>(missing);
  next_index_ += lost;
  return lost;
}

double SampleClock::usual_lag() {
  // None yet: the buffers were emptied at 0 s, when no sample was on its way.
  const std::size_t noted = std::min(lags_noted_, lags_.size());
  if (noted == 0) return 0;
  std::array<double, 63> sorted = lags_;
  const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(noted / 2);
  std::nth_element(sorted.begin(), middle, sorted.begin() + static_cast<std::ptrdiff_t>(noted));
  return *middle;
}

}  // namespace kolmrec
