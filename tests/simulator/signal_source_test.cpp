// The simulated signal: exact fixed values, loads, zeroing.
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
