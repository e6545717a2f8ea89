// Units and unit texts against the simulated amplifier: text to index through the unit table, the free
// unit text of channel 0, and the firmware gate.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "pekolm.h"
#include "shared_amplifier.h"

namespace {

using namespace testing_support;

constexpr int old_port = 29;  // firmware 9: no units yet

class Units : public SharedAmplifier<28> {
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
  static inline SimulatedAmplifier* old_amplifier = nullptr;
};

TEST_F(Units, UnitByIndex) {
  failed(KolmsetUnit(port, 1, 30), 0x30000100);
  failed(KolmsetUnit(port, 1, -1), 0x30000100);
  EXPECT_EQ(KolmsetUnit(port, 1, 29), 0);
  EXPECT_EQ(sent(1), (Strings{"B4 01 1D"}));
  EXPECT_EQ(KolmgetUnit(port, 1), 29);
  answer_with(0xB5, bytes({2, 3}));
  failed(KolmgetUnit(port, 1), 0x30000060);
}

TEST_F(Units, UnitByText) {
  failed(KolmsetUnitText(port, 2, "KG"), 0x30000100);
  failed(KolmsetUnitText(port, 1, "abcdef"), 0x30000100);
  failed(KolmsetUnitText(port, 1, nullptr), 0x30000100);
  EXPECT_EQ(KolmsetUnitText(port, 2, "kN"), 0);
  EXPECT_EQ(KolmsetUnitText(port, 2, ""), 0);
  EXPECT_EQ(KolmsetUnitText(port, 3, "\xB5m/m"), 0);
  EXPECT_EQ(sent(3), (Strings{"B4 02 09", "B4 02 07", "B4 03 06"}));
  char text[6] = {};
  EXPECT_EQ(KolmgetUnitText(port, 3, text), 0);
  EXPECT_STREQ(text, "\xB5m/m");
}

TEST_F(Units, TableTextOfAReadUnit) {
  char text[6] = "xxxxx";
  answer_with(0xB5, bytes({2, 30}));
  failed(KolmgetUnitText(port, 2, text), 0x30000060);
  EXPECT_STREQ(text, "xxxxx");
  answer_with(0xB5, bytes({2, 19}));
  EXPECT_EQ(KolmgetUnitText(port, 2, text), 0);
  EXPECT_EQ(std::string(text, 3), std::string("\xB0"
                                              "C\0",
                                              3));
}

TEST_F(Units, FreeTextIsFiveBytes) {
  failed(KolmsetUnitText(port, 0, "abcdef"), 0x30000100);
  EXPECT_EQ(KolmsetUnitText(port, 0, "abc"), 0);
  EXPECT_EQ(KolmsetUnitText(port, 0, ""), 0);
  EXPECT_EQ(sent(2), (Strings{"BC 61 62 63 00 00", "BC 20 20 20 20 20"}));
  char text[7];
  std::memset(text, 'Q', sizeof text);
  answer_with(0xBD, bytes({0x61, 0x62, 0x63, 0x64, 0x65}));
  EXPECT_EQ(KolmgetUnitText(port, 0, text), 0);
  EXPECT_EQ(std::string(text, 7), std::string("abcde\0Q", 7));
  answer_with(0xBD, bytes({0, 0x62, 0x63, 0x64, 0x65}));
  EXPECT_EQ(KolmgetUnitText(port, 0, text), 0);
  EXPECT_STREQ(text, "");
}

TEST_F(Units, OldFirmwareFailsBeforeAnyArgumentCheck) {
  char text[6] = {};
  failed(KolmsetUnit(old_port, 9, 99), 0x30000062, old_port);
  failed(KolmgetUnit(old_port, 9), 0x30000062, old_port);
  failed(KolmsetUnitText(old_port, 9, nullptr), 0x30000062, old_port);
  failed(KolmgetUnitText(old_port, 0, text), 0x30000062, old_port);
}

}  // namespace
