// The serial number written and read back, and what a bad one does.
#include <gtest/gtest.h>

#include <cstring>

#include "pekolm.h"
#include "shared_amplifier.h"

namespace {

using namespace testing_support;

using SerialNumber = QuietAmplifier<32>;

TEST_F(SerialNumber, SerialNumberBothWays) {
  EXPECT_EQ(PeKolmwriteSerialNo(port, "12345678"), 0);
  EXPECT_EQ(sent(1), (Strings{"1E 31 32 33 34 35 36 37 38"}));
  char serial[12];
  std::memset(serial, 'x', sizeof serial);
  EXPECT_EQ(KolmreadSerialNo(port, serial), 0);
  EXPECT_STREQ(serial, "12345678");

  for (const char* bad : {"1234567", "123456789", ""}) {
    EXPECT_EQ(PeKolmwriteSerialNo(port, bad), -1);
    EXPECT_EQ(KolmgetLastError(port), 0x30000100);
  }
  EXPECT_EQ(PeKolmwriteSerialNo(port, nullptr), -1);
  EXPECT_EQ(KolmreadSerialNo(port, nullptr), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000100);

  answer_with(0x1F, bytes({'0', '0', '0', 0, '2', '3', '4', '5'}));
  EXPECT_EQ(KolmreadSerialNo(port, serial), 0);
  EXPECT_STREQ(serial, "000");
}

}  // namespace
