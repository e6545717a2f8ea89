// Scale against the simulated amplifier: 24-bit values, 32 bits for input type 5.
#include <gtest/gtest.h>

#include "pekolm.h"
#include "shared_amplifier.h"

namespace {

using namespace testing_support;

class Scale : public SharedAmplifier<23> {
 protected:
  static void answer_with(Bytes payload) { amplifier->answer_once(0x89, std::move(payload)); }
};

TEST_F(Scale, ValueBytesByInputType) {
  EXPECT_EQ(PeKolmsetScale(port, 2, 1, 100000), 0);
  EXPECT_EQ(PeKolmsetScale(port, 2, 5, 100000), 0);
  EXPECT_EQ(PeKolmsetScale(port, 4, 7, 0x12345678), 0);  // the top byte is dropped
  EXPECT_EQ(sent(3), (Strings{"88 02 01 01 86 A0", "88 02 05 00 01 86 A0", "88 04 07 34 56 78"}));
}

TEST_F(Scale, NarrowReadsBackUnsignedWideKeepsItsSign) {
  ASSERT_EQ(PeKolmsetScale(port, 1, 3, -1), 0);
  EXPECT_EQ(PeKolmgetScale(port, 1, 3), 16777215);
  ASSERT_EQ(PeKolmsetScale(port, 2, 5, -5), 0);
  EXPECT_EQ(PeKolmgetScale(port, 2, 5), -5);
  answer_with(bytes({4, 5, 0x80, 0, 0, 0}));
  EXPECT_EQ(PeKolmgetScale(port, 4, 5), -2147483648);
  EXPECT_EQ(sent(5), (Strings{"88 01 03 FF FF FF", "89 01 03", "88 02 05 FF FF FF FB", "89 02 05", "89 04 05"}));
}

TEST_F(Scale, EchoAndArguments) {
  answer_with(bytes({1, 3, 0, 0, 1}));
  EXPECT_EQ(PeKolmgetScale(port, 1, 2), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000060);
  answer_with(bytes({2, 2, 0, 0, 1}));
  EXPECT_EQ(PeKolmgetScale(port, 1, 2), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000060);
  for (auto [channel, type] : {std::pair{0, 1}, {5, 1}, {1, 0}, {1, 8}}) {
    EXPECT_EQ(PeKolmsetScale(port, channel, type, 5), -1);
    EXPECT_EQ(KolmgetLastError(port), 0x30000100);
    EXPECT_EQ(PeKolmgetScale(port, channel, type), -1);
    EXPECT_EQ(KolmgetLastError(port), 0x30000100);
  }
  EXPECT_EQ(KolmgetValue(port), 0);
  EXPECT_EQ(sent(3), (Strings{"89 01 02", "89 01 02", "3B"}));
}

}  // namespace
