// The simulated measuring signal.
#include "signal_source.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kolmsim {
namespace {

constexpr int kZero = 32768;

int clamp_raw(long long v) { return static_cast<int>(std::clamp<long long>(v, 0, 65535)); }

}  // namespace

SignalSource::SignalSource(Clock::time_point origin) : origin_(origin) {}

void SignalSource::set_signal(int ch, const ChannelSignal& signal) {
  signal_[ch] = signal;
  raw_[ch].reset();
}

int SignalSource::loaded_level(int ch, Clock::time_point t) {
  long long base;
  if (raw_[ch]) {
    base = *raw_[ch];
  } else {
    const ChannelSignal& s = signal_[ch];
    const double seconds = std::chrono::duration<double>(t - origin_).count();
    const double phase = ch * std::numbers::pi / 2;
    base = kZero + static_cast<long long>(s.offset) +
           std::llround(s.amplitude * std::sin(2 * std::numbers::pi * s.frequency * seconds + phase));
    if (s.noise > 0) base += std::uniform_int_distribution<int>(-s.noise, s.noise)(noise_);
  }
  return clamp_raw(base + load_[ch]);
}

std::array<std::uint16_t, 4> SignalSource::sample(Clock::time_point t) {
  std::array<std::uint16_t, 4> raw{};
  for (int ch = 0; ch < 4; ++ch) {
    raw[ch] = static_cast<std::uint16_t>(clamp_raw(static_cast<long long>(loaded_level(ch, t)) - zero_[ch]));
  }
  return raw;
}

void SignalSource::zero(int ch, Clock::time_point t) { zero_[ch] = loaded_level(ch, t) - kZero; }

void SignalSource::clear() {
  signal_.fill(ChannelSignal{});
  raw_.fill(std::nullopt);
  load_.fill(0);
  zero_.fill(0);
}

}  // namespace kolmsim
