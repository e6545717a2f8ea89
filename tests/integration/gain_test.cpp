// Input type (gain) and the analogue-type layer over it, against the simulated amplifier.
#include <gtest/gtest.h>

#include <chrono>

#include "pekolm.h"
#include "shared_amplifier.h"

namespace {

using namespace testing_support;
using Ints = std::vector<int>;

constexpr int closed_port = 99;

class Gain : public SharedAmplifier<24> {
 protected:
  static void answer_with(Bytes payload) { amplifier->answer_once(0xB3, std::move(payload)); }
};

TEST_F(Gain, SetOneChannelAndRefusals) {
  refused(KolmsetGain(port, 1, 8));
  refused(KolmsetGain(port, 0, 1));
  refused(KolmgetGain(port, 5));
  refused(KolmsetAnalogueType(port, 5, 1));
  refused(KolmsetAnalogueType(port, 2, 9));
  EXPECT_EQ(KolmsetGain(port, 1, 7), 0);
  EXPECT_EQ(KolmsetAnalogueType(port, 4, 2), 0);
  EXPECT_EQ(sent(2), (Strings{"B2 01 07", "B2 04 02"}));
}

TEST_F(Gain, AnalogueTypeChecksTheChannelBeforeThePort) {
  refused(KolmsetAnalogueType(closed_port, 5, 1), closed_port);
  EXPECT_EQ(KolmsetAnalogueType(closed_port, 1, 1), -1);
  EXPECT_EQ(KolmgetLastError(closed_port), 0x30000101);
}

TEST_F(Gain, AllFourChannelsWithPauses) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KolmsetAnalogueType(port, 0, 3), 0);
  EXPECT_GE(elapsed_ms(start), 320);
  EXPECT_EQ(sent(4), (Strings{"B2 01 03", "B2 02 03", "B2 03 03", "B2 04 03"}));
}

TEST_F(Gain, ReadOneOrAllChannels) {
  amplifier->sim().update_state([](kolmsim::AmplifierState& s) {
    for (std::uint8_t c = 0; c < 4; ++c) s.gains[c] = c + 1;
  });
  EXPECT_EQ(KolmgetGain(port, 0), 0x01020304);
  EXPECT_EQ(KolmgetGain(port, 3), 3);
  int t[4] = {};
  EXPECT_EQ(KolmgetAnalogueType(port, &t[0], &t[1], &t[2], &t[3]), 0);
  EXPECT_EQ(Ints(t, t + 4), (Ints{1, 2, 3, 4}));
  EXPECT_EQ(sent(3), (Strings{"B3", "B3", "B3"}));
}

TEST_F(Gain, HighCodesUnsignedAloneSignedApart) {
  answer_with(bytes({0x80, 0xFF, 0x02, 0x7F}));
  EXPECT_EQ(KolmgetGain(port, 0), static_cast<int>(0x80FF027Fu));
  answer_with(bytes({0x80, 0xFF, 0x02, 0x7F}));
  EXPECT_EQ(KolmgetGain(port, 2), 255);
  answer_with(bytes({0x80, 0xFF, 0x02, 0x7F}));
  int t[4] = {};
  EXPECT_EQ(KolmgetAnalogueType(port, &t[0], &t[1], &t[2], &t[3]), 0);
  EXPECT_EQ(Ints(t, t + 4), (Ints{-128, -1, 2, 127}));
}

TEST_F(Gain, FailedReadLeavesTheOutputsAlone) {
  int t[4] = {9, 9, 9, 9};
  refused(KolmgetAnalogueType(port, &t[0], nullptr, &t[2], &t[3]));
  EXPECT_EQ(KolmgetAnalogueType(closed_port, &t[0], &t[1], &t[2], &t[3]), -1);
  EXPECT_EQ(KolmgetLastError(closed_port), 0x30000101);
  EXPECT_EQ(Ints(t, t + 4), (Ints{9, 9, 9, 9}));
}

}  // namespace
