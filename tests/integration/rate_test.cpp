// Data rate against the simulated amplifier: the code sent, the line limit from the baud rate of
// activation, and the rate read back.
#include <gtest/gtest.h>

#include <limits>

#include "pekolm.h"
#include "simulated_amplifier.h"

namespace {

using namespace testing_support;

constexpr int slow_port = 21;  // 9600 baud
constexpr int fast_port = 31;  // 38400 baud

class Rate : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    slow = new SimulatedAmplifier(slow_port);
    slow->activate_or_fail(9600);
    fast = new SimulatedAmplifier(fast_port);
    fast->activate_or_fail(38400);
  }
  static void TearDownTestSuite() {
    delete slow;
    delete fast;
  }
  void SetUp() override {
    for (SimulatedAmplifier* a : {slow, fast}) a->forget_commands();
  }
  static Strings sent(SimulatedAmplifier* a, std::size_t count) { return a->sent_hex(count); }
  static inline SimulatedAmplifier* slow = nullptr;
  static inline SimulatedAmplifier* fast = nullptr;
};

TEST_F(Rate, WriteSendsTheCodeAndRefusalsSendNothing) {
  for (double refused : {0.6, 250.001, std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(KolmwriteFreq(fast_port, refused), -1);
    EXPECT_EQ(KolmgetLastError(fast_port), 0x30000100);
  }
  EXPECT_EQ(KolmwriteFreq(fast_port, 0.625), 0);
  EXPECT_EQ(KolmwriteFreq(fast_port, 1.0), 0);
  EXPECT_EQ(KolmwriteFreq(fast_port, 250), 0);
  EXPECT_EQ(sent(fast, 3), (Strings{"12 A0", "12 A1", "12 AA"}));
  EXPECT_EQ(KolmreadFreq(fast_port), 250.0);
}

TEST_F(Rate, SlowLineLimitKeepsTheBaudRateOfActivation) {
  EXPECT_EQ(KolmwriteFreq(slow_port, 80), 0);  // 125 Hz would be over the limit: 25 Hz
  EXPECT_EQ(KolmwriteFreq(slow_port, 82.65), -1);
  EXPECT_EQ(KolmgetLastError(slow_port), 0x30000100);
  ASSERT_EQ(KolmsetBaudSerial(slow_port, 230400), 0);
  EXPECT_EQ(KolmwriteFreq(slow_port, 100), -1);
  EXPECT_EQ(KolmgetLastError(slow_port), 0x30000100);
  EXPECT_EQ(sent(slow, 2), (Strings{"12 A8", "B0 60"}));
}

TEST_F(Rate, ReadTurnsTheCodeIntoHertz) {
  fast->answer_once(0x16, Bytes{0x93});
  EXPECT_EQ(KolmreadFreq(fast_port), 1.0 / 86400);
  fast->answer_once(0x16, Bytes{0x50});
  EXPECT_EQ(KolmreadFreq(fast_port), -1.0);
  EXPECT_EQ(KolmgetLastError(fast_port), 0x30000060);
  EXPECT_EQ(sent(fast, 2), (Strings{"16", "16"}));
  EXPECT_EQ(KolmreadFreq(0), -1.0);
  EXPECT_EQ(KolmgetLastError(0), 0x30000101);
}

}  // namespace
