// Digital inputs and outputs against simulated amplifiers of several firmware versions: line and type
// limits, type codes both ways, the state byte and the all-lines loops.
#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "pekolm.h"
#include "simulated_amplifier.h"

namespace {

using namespace testing_support;

constexpr int v12 = 26;  // twelve lines, types up to 17
constexpr int v11 = 27;  // eight lines, types up to 15
constexpr int v9 = 36;   // state only
constexpr int v7 = 37;   // state can be set, not read

class DigitalIo : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (auto [port, firmware] : {std::pair{v12, 12}, {v11, 11}, {v9, 9}, {v7, 7}}) {
      auto* a = new SimulatedAmplifier(port, kolmsim::Options{.firmware_version = static_cast<std::uint8_t>(firmware)});
      a->activate_or_fail();
      amplifiers[port] = a;
    }
  }
  static void TearDownTestSuite() {
    for (auto& [port, a] : amplifiers) delete a;
    amplifiers.clear();
  }
  void SetUp() override {
    for (auto& [port, a] : amplifiers) a->forget_commands();
  }
  static Strings sent(int port, std::size_t n) { return amplifiers[port]->sent_hex(n); }
  static void answer_with(std::uint8_t command, Bytes payload) {
    amplifiers[v12]->answer_once(command, std::move(payload));
  }
  static void failed(int port, int result, int code) {
    EXPECT_EQ(result, -1);
    EXPECT_EQ(KolmgetLastError(port), code);
  }
  static inline std::map<int, SimulatedAmplifier*> amplifiers;
};

TEST_F(DigitalIo, TypeCodesOnTheWire) {
  EXPECT_EQ(KolmsetDigitalIOtype(v12, 3, 5), 0);
  EXPECT_EQ(KolmsetDigitalIOtype(v12, 2, 8), 0);
  EXPECT_EQ(KolmsetDigitalIOtype(v12, 12, 16), 0);
  EXPECT_EQ(sent(v12, 3), (Strings{"B6 03 0C", "B6 02 11", "B6 0C 0F"}));
  EXPECT_EQ(KolmgetDigitalIOtype(v12, 12), 16);
  for (auto [code, type] : {std::pair{0x11, 8}, {0x0C, 5}, {0x09, 9}}) {
    answer_with(0xB7, bytes({2, code}));
    EXPECT_EQ(KolmgetDigitalIOtype(v12, 2), type) << code;
  }
  answer_with(0xB7, bytes({2, 0x19}));
  failed(v12, KolmgetDigitalIOtype(v12, 2), 0x30000060);
  answer_with(0xB7, bytes({3, 0x11}));
  failed(v12, KolmgetDigitalIOtype(v12, 2), 0x30000060);
}

TEST_F(DigitalIo, LinesAndTypesGrowWithFirmware12) {
  failed(v11, KolmgetDigitalIOtype(v11, 9), 0x30000100);
  failed(v11, KolmsetDigitalIOtype(v11, 1, 16), 0x30000100);
  EXPECT_EQ(KolmgetDigitalIOtype(v12, 9), 0);
  failed(v12, KolmgetDigitalIOtype(v12, 13), 0x30000100);
  failed(v12, KolmsetDigitalIOtype(v12, 1, 18), 0x30000100);
}

TEST_F(DigitalIo, FirmwareGatesComeBeforeTheArguments) {
  failed(v9, KolmsetDigitalIOtype(v9, 99, 1), 0x30000062);
  failed(v9, KolmgetDigitalIOtype(v9, 1), 0x30000062);
  EXPECT_EQ(KolmgetDigitalIOvalue(v9, 0), 0);
  failed(v7, KolmgetDigitalIOvalue(v7, 99), 0x30000062);
  EXPECT_EQ(KolmsetDigitalIOvalue(v7, 2, 0x1FE), 0);  // no gate; only the low byte travels
  EXPECT_EQ(sent(v7, 1), (Strings{"B8 02 FE"}));
}

TEST_F(DigitalIo, AllLinesWithPauses) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KolmsetDigitalIOtype(v12, 0, 1), 0);
  EXPECT_GE(elapsed_ms(start), 12 * 80);
  const Strings types = sent(v12, 12);
  ASSERT_EQ(types.size(), 12u);
  EXPECT_EQ(types.front(), "B6 01 01");
  EXPECT_EQ(types.back(), "B6 0C 01");
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(KolmsetDigitalIOvalue(v11, 0, 0x101), 0);
  EXPECT_GE(elapsed_ms(start), 8 * 80);
  EXPECT_EQ(sent(v11, 8),
            (Strings{"B8 01 01", "B8 02 01", "B8 03 01", "B8 04 01", "B8 05 01", "B8 06 01", "B8 07 01", "B8 08 01"}));
}

TEST_F(DigitalIo, StateByteAndSingleLines) {
  answer_with(0xB9, bytes({0x05}));
  EXPECT_EQ(KolmgetDigitalIOvalue(v12, 0), 5);
  for (auto [line, set] : {std::pair{1, 1}, {2, 0}, {3, 1}}) {
    answer_with(0xB9, bytes({0x05}));
    EXPECT_EQ(KolmgetDigitalIOvalue(v12, line), set) << line;
  }
  answer_with(0xB9, bytes({0x80}));
  EXPECT_EQ(KolmgetDigitalIOvalue(v12, 0), -128);
  answer_with(0xB9, bytes({0x80}));
  EXPECT_EQ(KolmgetDigitalIOvalue(v12, 8), 1);
  failed(v12, KolmgetDigitalIOvalue(v12, 9), 0x30000100);
  failed(v12, KolmsetDigitalIOvalue(v12, -1, 1), 0x30000100);
}

}  // namespace
