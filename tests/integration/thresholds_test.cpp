// Thresholds against the simulated amplifier: register writes with their pauses, the two queries of a
// read, and levels on the scale of measured values.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <limits>

#include "pekolm.h"
#include "shared_amplifier.h"

namespace {

using namespace testing_support;

constexpr double count = 2.1 / 65535;  // one raw count as a level

class Thresholds : public SharedAmplifier<22> {
 protected:
};

TEST_F(Thresholds, OneThresholdIsTwoRegistersAPauseApart) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KolmwriteThreshold(port, 3, 0.5, -0.5), 0);
  EXPECT_GE(elapsed_ms(start), 100);
  // On below off as doubles, but the same register value: that is what is compared.
  EXPECT_EQ(KolmwriteThreshold(port, 8, 0.1 * count, 0.4 * count), 0);
  EXPECT_EQ(sent(4), (Strings{"20 05 BC F4", "20 06 43 0C", "20 0F 80 00", "20 10 80 00"}));
}

TEST_F(Thresholds, RefusedWritesSendNothing) {
  refused(KolmwriteThreshold(port, 1, -0.5, 0.5));
  refused(KolmwriteThreshold(port, 1, 1.05, 0.0));
  refused(KolmwriteThreshold(port, 1, 0.0, std::numeric_limits<double>::quiet_NaN()));
  refused(KolmwriteThreshold(port, 9, 0.1, 0.0));
  EXPECT_EQ(KolmgetValue(port), 0);
  EXPECT_EQ(sent(1), (Strings{"3B"}));
}

TEST_F(Thresholds, AllEightWriteSixteenRegistersInOrder) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KolmwriteThreshold(port, 0, 8192 * count, -8192 * count), 0);
  EXPECT_GE(elapsed_ms(start), 1600);
  Strings expected;
  for (int reg = 1; reg <= 16; ++reg) {
    char text[16];
    std::snprintf(text, sizeof text, "20 %02X %s", reg, reg % 2 ? "A0 00" : "60 00");
    expected.push_back(text);
  }
  EXPECT_EQ(sent(16), expected);
}

TEST_F(Thresholds, ReadAsksBothRegistersAndConverts) {
  amplifier->sim().update_state([](kolmsim::AmplifierState& s) {
    s.thresholds[2] = 48372;
    s.thresholds[3] = 17164;
  });
  double on = 0, off = 0;
  EXPECT_EQ(KolmreadThreshold(port, 2, &on, &off), 0);
  EXPECT_DOUBLE_EQ(on, 0.500013733119707);
  EXPECT_DOUBLE_EQ(off, -0.500013733119707);
  EXPECT_EQ(sent(2), (Strings{"21 03", "21 04"}));
}

TEST_F(Thresholds, FailedReadsLeaveTheOutputsAlone) {
  double on = 7, off = 7;
  amplifier->answer_once(0x21, bytes({0x04, 0xBC, 0xF4}));
  EXPECT_EQ(KolmreadThreshold(port, 2, &on, &off), -1);  // wrong echo: no second query
  EXPECT_EQ(KolmgetLastError(port), 0x30000060);
  amplifier->sim().update_state([](kolmsim::AmplifierState& s) { s.thresholds[1] = 0xFFFF; });
  EXPECT_EQ(KolmreadThreshold(port, 1, &on, &off), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000060);
  refused(KolmreadThreshold(port, 0, &on, &off));
  refused(KolmreadThreshold(port, 1, &on, nullptr));
  EXPECT_EQ(on, 7);
  EXPECT_EQ(off, 7);
  EXPECT_EQ(sent(3), (Strings{"21 03", "21 01", "21 02"}));
}

}  // namespace
