// The serial and CAN interface settings and the transmission mode, both ways.
#include <gtest/gtest.h>

#include "pekolm.h"
#include "shared_amplifier.h"

namespace {

using namespace testing_support;

using Interfaces = QuietAmplifier<32>;

TEST_F(Interfaces, SerialAndCanInterfaceSettings) {
  EXPECT_EQ(KolmsetBaudSerial(port, 115200), 0);
  EXPECT_EQ(KolmsetBaudCAN(port, 1000000), 0);
  EXPECT_EQ(KolmsetCanID(port, 2, 0x18FF0102), 0);
  EXPECT_EQ(KolmsetTXmode(port, 0x102), 0);
  EXPECT_EQ(sent(4), (Strings{"B0 50", "C0 80", "C5 02 18 FF 01 02", "28 02"}));
  EXPECT_EQ(KolmgetBaudSerial(port), 115200);
  EXPECT_EQ(KolmgetBaudCAN(port), 1000000);
  EXPECT_EQ(KolmgetCanID(port, 2), 0x18FF0102);

  EXPECT_EQ(KolmsetBaudSerial(port, 14400), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000100);
  EXPECT_EQ(KolmsetBaudCAN(port, 9600), -1);
  EXPECT_EQ(KolmsetCanID(port, 9, 1), -1);
  EXPECT_EQ(KolmgetCanID(port, 0), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000100);

  answer_with(0xB1, {0x60});
  EXPECT_EQ(KolmgetBaudSerial(port), 230400);
  answer_with(0xB1, {0x70});
  EXPECT_EQ(KolmgetBaudSerial(port), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000060);
  answer_with(0xC1, {0x10});
  EXPECT_EQ(KolmgetBaudCAN(port), 20000);
  answer_with(0xC6, {3, 0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(KolmgetCanID(port, 2), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000060);
  answer_with(0xC6, {2, 0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(KolmgetCanID(port, 2), -1);  // a valid identifier the caller cannot tell from failure
  EXPECT_EQ(KolmgetLastError(port), 0);
}

}  // namespace
