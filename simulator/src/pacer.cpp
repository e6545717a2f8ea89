// Frame pacing on the steady clock.
#include "pacer.h"

#include <cmath>

#include "rate_table.h"

namespace kolmsim {

void Pacer::configure(bool transmitting, std::uint8_t rate_code, Clock::time_point now) {
  const bool run = transmitting && rate_hz(rate_code) > 0;
  if (run == running_ && (!run || rate_code == rate_code_)) return;
  running_ = run;
  rate_code_ = rate_code;
  if (!run) return;
  period_ = std::chrono::duration<double>(1.0 / rate_hz(rate_code));
  epoch_ = now;
  taken_ = 0;
}

Clock::time_point Pacer::due_time(std::uint64_t k) const {
  return epoch_ + std::chrono::duration_cast<Clock::duration>(period_ * static_cast<double>(k));
}

std::vector<Clock::time_point> Pacer::take_due(Clock::time_point now) {
  std::vector<Clock::time_point> due;
  if (!running_ || now < epoch_) return due;
  const auto elapsed = std::chrono::duration<double>(now - epoch_);
  auto count = static_cast<std::uint64_t>(std::floor(elapsed / period_));
  // Rounding in due_time() may put frame `count` a tick after now; never hand out a frame early.
  while (count > taken_ && due_time(count) > now) --count;
  if (count <= taken_) return due;
  if (count - taken_ > kMaxBacklog) taken_ = count - kMaxBacklog;
  due.reserve(count - taken_);
  while (taken_ < count) due.push_back(due_time(++taken_));
  return due;
}

std::optional<Clock::time_point> Pacer::next_due() const {
  if (!running_) return std::nullopt;
  return due_time(taken_ + 1);
}

}  // namespace kolmsim
