// Commands on the wire against the simulated amplifier: the exact bytes of each send-only command, the
// answers of queries, and the failures of the command transaction.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "pekolm.h"
#include "shared_amplifier.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

class Commands : public SharedAmplifier<32> {
 protected:
  static void SetUpTestSuite() { open(kolmsim::Options{.transmitting = false}, 57600); }
};

using Strings = std::vector<std::string>;

TEST_F(Commands, TransmissionStartAndStopAreOneByteEach) {
  EXPECT_EQ(KolmstartTX(port), 0);
  EXPECT_EQ(KolmstopTX(port), 0);
  EXPECT_EQ(sent(2), (Strings{"24", "23"}));
  EXPECT_EQ(KolmstartTX(0), -1);
  EXPECT_EQ(KolmgetLastError(0), 0x30000101);
}

TEST_F(Commands, ZeroOneChannelOrAllFour) {
  EXPECT_EQ(KolmsetZero(port, 2), 0);
  EXPECT_EQ(KolmsetZero(port, 0), 0);
  EXPECT_EQ(sent(5), (Strings{"0C 02", "0C 01", "0C 02", "0C 03", "0C 04"}));
  EXPECT_EQ(KolmsetZero(port, 5), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000100);
  EXPECT_EQ(KolmsetZero(port, -1), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000100);
}

TEST_F(Commands, ParameterSetsAndTheLoadPause) {
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

TEST_F(Commands, ModeWithAccessCode) {
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

TEST_F(Commands, QueriesReturnTheAnswerByteUnsigned) {
  answer_with(0x27, {0xFF});
  EXPECT_EQ(KolmgetMode(port), 255);
  EXPECT_EQ(KolmfirmwareVersion(port), 12);
  answer_with(0x29, {0x03});
  EXPECT_EQ(KolmgetTXmode(port), 3);
}

TEST_F(Commands, SerialNumberBothWays) {
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

TEST_F(Commands, SerialAndCanInterfaceSettings) {
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

TEST_F(Commands, SilentAmplifierTimesOutAndThePortStaysUsable) {
  amplifier->sim().set_fault(0xB1, kolmsim::AnswerFault{.silent = true});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KolmgetBaudSerial(port), -1);
  EXPECT_GE(elapsed_ms(start), 6000);
  EXPECT_EQ(KolmgetLastError(port), 0x30000058);
  EXPECT_EQ(KolmgetMode(port), 1);
}

TEST_F(Commands, AnAbandonedPartialAnswerNeverCompletesTheNextOne) {
  ASSERT_EQ(KolmstopTX(port), 0);  // measured values would complete the partial answer themselves
  std::this_thread::sleep_for(50ms);
  amplifier->sim().set_fault(0x27, kolmsim::AnswerFault{.silent = true, .once = true});
  const Bytes stale = answer_frame({90});
  std::thread cut_short([&] {
    std::this_thread::sleep_for(200ms);
    amplifier->sim().inject(Bytes(stale.begin(), stale.begin() + 6));
  });
  EXPECT_EQ(KolmgetMode(port), -1);
  cut_short.join();
  EXPECT_EQ(KolmgetLastError(port), 0x30000058);
  EXPECT_EQ(KolmgetMode(port), 1);
  EXPECT_EQ(KolmgetLastError(port), 0);
}

TEST_F(Commands, AnswersAmidStreamingValues) {
  ASSERT_EQ(KolmclearDLLbuffer(port), 0);
  amplifier->sim().update_state([](kolmsim::AmplifierState& s) { s.rate_code = 0xAC; });  // 937.5 Hz
  ASSERT_EQ(KolmstartTX(port), 0);
  std::this_thread::sleep_for(50ms);
  for (int i = 0; i < 20; ++i) ASSERT_EQ(KolmfirmwareVersion(port), 12);
  ASSERT_EQ(KolmstopTX(port), 0);
  std::this_thread::sleep_for(50ms);
  EXPECT_GT(Kolmreceived(port, 0), 20);
  EXPECT_EQ(KolmgetLastError(port), 0);
  amplifier->sim().update_state([](kolmsim::AmplifierState& s) { s.rate_code = 0xA8; });
}

TEST_F(Commands, SplitAnswersAreReassembled) {
  amplifier->sim().split_frames({1, 3, 2}, 5ms);
  EXPECT_EQ(KolmgetMode(port), 1);
  char serial[9];
  EXPECT_EQ(KolmreadSerialNo(port, serial), 0);
  amplifier->sim().split_frames({}, 0ms);
}

TEST_F(Commands, ClearDuringAQueryTurnsItIntoATimeout) {
  amplifier->sim().set_fault(0x27, kolmsim::AnswerFault{.delay = 300ms, .once = true});
  std::thread clearer([] {
    std::this_thread::sleep_for(100ms);
    KolmclearDLLbuffer(port);
  });
  EXPECT_EQ(KolmgetMode(port), -1);
  clearer.join();
  EXPECT_EQ(KolmgetLastError(port), 0x30000058);
}

}  // namespace
