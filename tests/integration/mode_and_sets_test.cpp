// Zero, parameter sets, mode and the one-byte queries, on the wire against the simulated amplifier.
#include <gtest/gtest.h>

#include <chrono>

#include "pekolm.h"
#include "shared_amplifier.h"

namespace {

using namespace testing_support;

using ModeAndSets = QuietAmplifier<32>;

TEST_F(ModeAndSets, ZeroOneChannelOrAllFour) {
  EXPECT_EQ(KolmsetZero(port, 2), 0);
  EXPECT_EQ(KolmsetZero(port, 0), 0);
  EXPECT_EQ(sent(5), (Strings{"0C 02", "0C 01", "0C 02", "0C 03", "0C 04"}));
  EXPECT_EQ(KolmsetZero(port, 5), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000100);
  EXPECT_EQ(KolmsetZero(port, -1), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000100);
}
TEST_F(ModeAndSets, ParameterSetsAndTheLoadPause) {
  EXPECT_EQ(KolmsaveAll(port, 3), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KolmgetAll(port, 1), 0);
  EXPECT_GE(elapsed_ms(start), 500);
  EXPECT_EQ(sent(2), (Strings{"09 03", "0A 01"}));
  EXPECT_EQ(KolmsaveAll(port, 0), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000100);
  EXPECT_EQ(KolmgetAll(port, 4), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000100);
}
TEST_F(ModeAndSets, ModeWithAccessCode) {
  EXPECT_EQ(KolmsetMode(port, 2, "quiran"), 0);
  EXPECT_EQ(sent(1), (Strings{"26 02 71 75 69 72 61 6E"}));
  EXPECT_EQ(KolmgetMode(port), 2);
  EXPECT_EQ(KolmsetMode(port, 1, "quiran"), 0);
  EXPECT_EQ(KolmgetMode(port), 1);

  for (const char* code : {"quira", "quirann", ""}) {
    EXPECT_EQ(KolmsetMode(port, 1, code), -1) << code;
    EXPECT_EQ(KolmgetLastError(port), 0x30000100);
  }
  EXPECT_EQ(KolmsetMode(port, 3, "quiran"), -1);
  EXPECT_EQ(KolmsetMode(port, 1, nullptr), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000100);
  EXPECT_EQ(amplifier->commands().size(), 4u);  // nothing written for the refused ones
}
TEST_F(ModeAndSets, QueriesReturnTheAnswerByteUnsigned) {
  answer_with(0x27, {0xFF});
  EXPECT_EQ(KolmgetMode(port), 255);
  EXPECT_EQ(KolmfirmwareVersion(port), 12);
  answer_with(0x29, {0x03});
  EXPECT_EQ(KolmgetTXmode(port), 3);
}

}  // namespace
