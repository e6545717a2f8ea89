// The load step of the kolmsim tool, put on and taken off by SIGUSR1 and SIGUSR2 and by a schedule of
// times, as when someone lays a test weight on the scale and lifts it again.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "kolmsim/simulator.h"

namespace kolmsim::tool {

class LoadSwitch {
 public:
  // `apply` puts the load on (true) or takes it off. `schedule` holds increasing times after `start`:
  // the load goes on at the 1st, 3rd, ... and off at the 2nd, 4th, ..., whatever signals did between.
  LoadSwitch(std::function<void(bool on)> apply, std::vector<Clock::duration> schedule, Clock::time_point start);

  void set(bool on) { apply_(on); }
  // Switches for every time of the schedule that has come, in order; the next time, if one is left.
  std::optional<Clock::time_point> follow_schedule(Clock::time_point now);

 private:
  std::function<void(bool)> apply_;
  std::vector<Clock::duration> schedule_;
  Clock::time_point start_;
  std::size_t next_ = 0;  // index of the first time not yet reached
};

}  // namespace kolmsim::tool
