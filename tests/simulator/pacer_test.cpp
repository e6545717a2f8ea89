// Frame pacing against a clock the test moves.
#include "pacer.h"

#include <gtest/gtest.h>

namespace kolmsim {
namespace {

using namespace std::chrono_literals;
const Clock::time_point t0 = Clock::time_point{} + 1h;

TEST(Pacer, FirstFrameComesOnePeriodAfterTheStart) {
  Pacer p;
  p.configure(true, 0xA8, t0);  // 25 Hz
  EXPECT_EQ(p.next_due(), t0 + 40ms);
  EXPECT_TRUE(p.take_due(t0 + 39ms).empty());
  EXPECT_EQ(p.take_due(t0 + 40ms), (std::vector<Clock::time_point>{t0 + 40ms}));
  EXPECT_TRUE(p.take_due(t0 + 41ms).empty());
}

TEST(Pacer, LateWakeUpsGetEveryFrameThatFellDue) {
  Pacer p;
  p.configure(true, 0xAF, t0);  // 7500 Hz
  std::size_t frames = 0;
  for (auto t = t0; t <= t0 + 1s; t += 3ms) frames += p.take_due(t).size();
  frames += p.take_due(t0 + 1s + 50us).size();  // less than a period past the 7500th
  EXPECT_EQ(frames, 7500u);
}

TEST(Pacer, NothingWhileNotTransmitting) {
  Pacer p;
  p.configure(false, 0xA8, t0);
  EXPECT_FALSE(p.next_due());
  EXPECT_TRUE(p.take_due(t0 + 10s).empty());
  p.configure(true, 0xA8, t0 + 10s);
  EXPECT_EQ(p.take_due(t0 + 10s + 100ms).size(), 2u);
  p.configure(false, 0xA8, t0 + 11s);
  EXPECT_TRUE(p.take_due(t0 + 12s).empty());
}

TEST(Pacer, ChangingTheRateRestartsButReconfiguringTheSameDoesNot) {
  Pacer p;
  p.configure(true, 0xA8, t0);
  p.take_due(t0 + 100ms);  // 2 frames
  p.configure(true, 0xA8, t0 + 110ms);
  EXPECT_EQ(p.next_due(), t0 + 120ms);
  p.configure(true, 0xA9, t0 + 110ms);  // 125 Hz
  EXPECT_EQ(p.next_due(), t0 + 118ms);
}

TEST(Pacer, SlowestRateIsOneFrameADay) {
  Pacer p;
  p.configure(true, 0x93, t0);
  EXPECT_EQ(p.next_due(), t0 + 24h);
}

TEST(Pacer, BacklogAfterAStallIsBounded) {
  Pacer p;
  p.configure(true, 0xAF, t0);
  EXPECT_EQ(p.take_due(t0 + 60s).size(), Pacer::kMaxBacklog);
  EXPECT_EQ(p.take_due(t0 + 60s).size(), 0u);
}

}  // namespace
}  // namespace kolmsim
