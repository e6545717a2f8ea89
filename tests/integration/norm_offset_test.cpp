// Display normalisation and offset against the simulated amplifier, with the offsets' firmware gate.
#include <gtest/gtest.h>

#include <limits>

#include "pekolm.h"
#include "shared_amplifier.h"

namespace {

using namespace testing_support;

constexpr int old_port = 35;  // firmware 9: no offsets yet

class NormOffset : public SharedAmplifier<25> {
 protected:
  static void SetUpTestSuite() {
    open();
    old_amplifier = new SimulatedAmplifier(old_port, kolmsim::Options{.firmware_version = 9});
    old_amplifier->activate_or_fail();
  }
  static void TearDownTestSuite() {
    delete old_amplifier;
    SharedAmplifier::TearDownTestSuite();
  }
  void SetUp() override {
    SharedAmplifier::SetUp();
    old_amplifier->forget_commands();
  }
  static Strings sent(SimulatedAmplifier* a, std::size_t n) { return a->sent_hex(n); }
  static inline SimulatedAmplifier* old_amplifier = nullptr;
};

TEST_F(NormOffset, NormTravelsAsABigEndianFloat) {
  for (double norm : {0.0, 1e-8, -1e-7, 1e39, -1e39, std::numeric_limits<double>::quiet_NaN()}) {
    failed(KolmDispSetNorm(port, 1, norm), 0x30000100);
  }
  failed(KolmDispSetNorm(port, 5, 1.0), 0x30000100);
  EXPECT_EQ(KolmDispSetNorm(port, 2, 1.0), 0);
  EXPECT_EQ(KolmDispSetNorm(port, 3, -2e-7), 0);
  EXPECT_EQ(KolmDispSetNorm(port, 4, 0.1), 0);
  EXPECT_EQ(sent(amplifier, 3), (Strings{"BA 02 3F 80 00 00", "BA 03 B4 56 BF 95", "BA 04 3D CC CC CD"}));
  EXPECT_EQ(KolmDispGetNorm(port, 4), static_cast<double>(0.1f));
}

TEST_F(NormOffset, NormAnswerMustEchoTheChannel) {
  answer_with(0xBB, bytes({3, 0x3F, 0x80, 0, 0}));
  EXPECT_EQ(KolmDispGetNorm(port, 2), -1.0);
  EXPECT_EQ(KolmgetLastError(port), 0x30000060);
  EXPECT_EQ(KolmDispGetNorm(port, 0), -1.0);
  EXPECT_EQ(KolmgetLastError(port), 0x30000100);
}

TEST_F(NormOffset, OffsetKeepsItsLow24Bits) {
  EXPECT_EQ(KolmwriteOffset(port, 1, 1, 0x12345678), 0);
  EXPECT_EQ(KolmreadOffset(port, 1, 1), 0x345678);
  EXPECT_EQ(KolmwriteOffset(port, 4, 7, -1), 0);
  EXPECT_EQ(KolmreadOffset(port, 4, 7), 16777215);
  EXPECT_EQ(sent(amplifier, 4), (Strings{"0B 01 01 34 56 78", "0D 01 01", "0B 04 07 FF FF FF", "0D 04 07"}));
}

TEST_F(NormOffset, OffsetEchoAndArguments) {
  answer_with(0x0D, bytes({1, 3, 0, 0, 1}));
  failed(KolmreadOffset(port, 1, 2), 0x30000060);
  answer_with(0x0D, bytes({2, 2, 0, 0, 1}));
  failed(KolmreadOffset(port, 1, 2), 0x30000060);
  failed(KolmwriteOffset(port, 0, 1, 0), 0x30000100);
  failed(KolmreadOffset(port, 1, 8), 0x30000100);
}

TEST_F(NormOffset, OldFirmwareHasNoOffsetsButNorms) {
  failed(KolmwriteOffset(old_port, 1, 1, 5), 0x30000062, old_port);
  failed(KolmreadOffset(old_port, 0, 0), 0x30000062, old_port);  // before the arguments
  EXPECT_EQ(KolmDispSetNorm(old_port, 1, 2.0), 0);
  EXPECT_EQ(sent(old_amplifier, 1), (Strings{"BA 01 40 00 00 00"}));
}

}  // namespace
