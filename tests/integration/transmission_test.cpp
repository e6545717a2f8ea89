// Starting and stopping the amplifier's transmission: one command byte each.
#include <gtest/gtest.h>

#include "pekolm.h"
#include "shared_amplifier.h"

namespace {

using namespace testing_support;

using Transmission = QuietAmplifier<32>;

TEST_F(Transmission, TransmissionStartAndStopAreOneByteEach) {
  EXPECT_EQ(KolmstartTX(port), 0);
  EXPECT_EQ(KolmstopTX(port), 0);
  EXPECT_EQ(sent(2), (Strings{"24", "23"}));
  EXPECT_EQ(KolmstartTX(0), -1);
  EXPECT_EQ(KolmgetLastError(0), 0x30000101);
}

}  // namespace
