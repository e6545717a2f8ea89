// The load step of the kolmsim tool.
#include "load_switch.h"

#include <utility>

namespace kolmsim::tool {

LoadSwitch::LoadSwitch(std::function<void(bool on)> apply, std::vector<Clock::duration> schedule,
                       Clock::time_point start)
    : apply_(std::move(apply)), schedule_(std::move(schedule)), start_(start) {}

std::optional<Clock::time_point> LoadSwitch::follow_schedule(Clock::time_point now) {
  for (; next_ < schedule_.size() && start_ + schedule_[next_] <= now; ++next_) apply_(next_ % 2 == 0);
  if (next_ == schedule_.size()) return std::nullopt;
  return start_ + schedule_[next_];
}

}  // namespace kolmsim::tool
