// What the four channels measure: per channel an offset, a sine and noise (ChannelSignal), or a fixed raw
// value, plus a load step. By default a slow sine of a few hundred counts around zero (32768) with a little
// noise, so that a display looks alive. Tests replace it with fixed raw values, which are played exactly.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <random>

#include "kolmsim/simulator.h"

namespace kolmsim {

class SignalSource {
 public:
  explicit SignalSource(Clock::time_point origin);

  // The raw values of channels 1..4 at time t: the channel's base (fixed value or its signal), plus its
  // load, clamped to 0..65535, minus its zero, clamped again.
  std::array<std::uint16_t, 4> sample(Clock::time_point t);

  // Channels are 0-based here. A signal or a fixed value replaces whichever the channel had.
  void set_signal(int channel, const ChannelSignal& signal);
  void set_raw(int channel, std::uint16_t raw) { raw_[channel] = raw; }
  void set_load(int channel, int load) { load_[channel] = load; }
  // The channel's level at t, before zeroing, reads as 32768 from now on.
  void zero(int channel, Clock::time_point t);
  // Back to the default signal, without loads or zeros.
  void clear();

 private:
  int loaded_level(int channel, Clock::time_point t);

  Clock::time_point origin_;
  std::array<ChannelSignal, 4> signal_{};
  std::array<std::optional<std::uint16_t>, 4> raw_{};
  std::array<int, 4> load_{};
  std::array<int, 4> zero_{};  // counts subtracted after the load
  std::minstd_rand noise_{20240611};
};

}  // namespace kolmsim
