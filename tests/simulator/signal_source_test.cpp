// The simulated signal: exact fixed values, offset, sine, noise and loads combined, zeroing.
#include "signal_source.h"

#include <gtest/gtest.h>

namespace kolmsim {
namespace {

using namespace std::chrono_literals;
const Clock::time_point t0 = Clock::time_point{} + 1h;

TEST(SignalSource, FixedValuesArePlayedExactly) {
  SignalSource s(t0);
  s.set_raw(0, 0);
  s.set_raw(1, 65535);
  s.set_raw(2, 12345);
  s.set_raw(3, 32768);
  for (auto t : {t0, t0 + 1s, t0 + 17s}) EXPECT_EQ(s.sample(t), (std::array<std::uint16_t, 4>{0, 65535, 12345, 32768}));
}

TEST(SignalSource, LoadIsAddedAndClamped) {
  SignalSource s(t0);
  s.set_raw(0, 40000);
  s.set_load(0, 1000);
  s.set_raw(1, 65000);
  s.set_load(1, 1000);
  s.set_raw(2, 500);
  s.set_load(2, -1000);
  const auto v = s.sample(t0);
  EXPECT_EQ(v[0], 41000);
  EXPECT_EQ(v[1], 65535);
  EXPECT_EQ(v[2], 0);
}

TEST(SignalSource, ZeroingMakesThePresentLevelReadZeroFromThenOn) {
  SignalSource s(t0);
  s.set_raw(0, 65000);
  s.set_load(0, 1000);  // clamped to 65535 first
  s.zero(0, t0);
  EXPECT_EQ(s.sample(t0 + 1s)[0], 32768);
  s.set_load(0, -2000);  // 63000 against the 65535 it was zeroed at
  EXPECT_EQ(s.sample(t0 + 2s)[0], 32768 - 2535);
  s.clear();
  s.set_raw(0, 40000);
  EXPECT_EQ(s.sample(t0)[0], 40000);
}

TEST(SignalSource, OffsetSineAndLoadAddUpAndAreClamped) {
  struct Case {
    ChannelSignal signal;
    int load;
    Clock::duration at;
    int expected;
  };
  // Channel 1 has phase 0: a 1 Hz sine is at its peak a quarter second in, at its trough after 0.75 s.
  const Case cases[] = {
      {{-1000, 0, 0, 0}, 0, 0s, 31768},       {{-1000, 0, 0, 0}, 3121, 0s, 34889},
      {{500, 200, 1, 0}, 0, 250ms, 33468},    {{500, 200, 1, 0}, 100, 750ms, 33168},
      {{32000, 1000, 1, 0}, 0, 250ms, 65535}, {{-32000, 1000, 1, 0}, -1000, 750ms, 0},
      {{32767, 0, 0, 0}, 32767, 0s, 65535},
  };
  for (const Case& c : cases) {
    SignalSource s(t0);
    s.set_raw(0, 1);  // the signal replaces a fixed value
    s.set_signal(0, c.signal);
    s.set_load(0, c.load);
    EXPECT_EQ(s.sample(t0 + c.at)[0], c.expected) << c.signal.offset << " " << c.signal.amplitude << " " << c.load;
  }
  // The phases stay a quarter turn apart: at 0 s channel 2 is at its peak, channel 4 at its trough.
  SignalSource s(t0);
  for (int ch = 0; ch < 4; ++ch) s.set_signal(ch, {0, 100, 1, 0});
  EXPECT_EQ(s.sample(t0), (std::array<std::uint16_t, 4>{32768, 32868, 32768, 32668}));
  s.set_raw(1, 7);  // and a fixed value replaces the signal
  EXPECT_EQ(s.sample(t0)[1], 7);
  s.clear();  // back to the default signal, which moves
  EXPECT_NE(s.sample(t0 + 1250ms)[0], s.sample(t0 + 3750ms)[0]);
}

TEST(SignalSource, NoiseStaysWithinItsLevelAndReachesBothEnds) {
  for (const int level : {0, 1, 2, 50}) {
    SignalSource s(t0);
    s.set_signal(2, {100, 0, 0, level});
    int lo = 65535;
    int hi = 0;
    for (int i = 0; i < 2000; ++i) {
      const int v = s.sample(t0 + i * 1ms)[2];
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    EXPECT_EQ(lo, 32868 - level) << level;
    EXPECT_EQ(hi, 32868 + level) << level;
  }
}

TEST(SignalSource, DefaultSignalMovesAroundZeroWithChannelsApart) {
  SignalSource s(t0);
  std::array<int, 4> lo{65535, 65535, 65535, 65535}, hi{};
  std::array<std::uint16_t, 4> at_start = s.sample(t0);
  for (auto t = t0; t < t0 + 10s; t += 50ms) {
    const auto v = s.sample(t);
    for (int ch = 0; ch < 4; ++ch) {
      lo[ch] = std::min<int>(lo[ch], v[ch]);
      hi[ch] = std::max<int>(hi[ch], v[ch]);
    }
  }
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_GT(hi[ch] - lo[ch], 200) << ch;   // visibly alive
    EXPECT_LT(hi[ch] - lo[ch], 2000) << ch;  // but far from full scale
    EXPECT_NEAR((hi[ch] + lo[ch]) / 2, 32768, 100) << ch;
  }
  EXPECT_GT(std::abs(at_start[0] - at_start[1]), 100);
}

}  // namespace
}  // namespace kolmsim
