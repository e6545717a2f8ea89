// The command transaction against the simulated amplifier: time-outs, answers amid measured values or in
// pieces, an abandoned partial answer, a clear during a query.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "pekolm.h"
#include "shared_amplifier.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

using CommandTransport = QuietAmplifier<32>;
TEST_F(CommandTransport, SilentAmplifierTimesOutAndThePortStaysUsable) {
  amplifier->sim().set_fault(0xB1, kolmsim::AnswerFault{.silent = true});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KolmgetBaudSerial(port), -1);
  EXPECT_GE(elapsed_ms(start), 6000);
  EXPECT_EQ(KolmgetLastError(port), 0x30000058);
  EXPECT_EQ(KolmgetMode(port), 1);
}
TEST_F(CommandTransport, AnAbandonedPartialAnswerNeverCompletesTheNextOne) {
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
TEST_F(CommandTransport, AnswersAmidStreamingValues) {
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
TEST_F(CommandTransport, SplitAnswersAreReassembled) {
  amplifier->sim().split_frames({1, 3, 2}, 5ms);
  EXPECT_EQ(KolmgetMode(port), 1);
  char serial[9];
  EXPECT_EQ(KolmreadSerialNo(port, serial), 0);
  amplifier->sim().split_frames({}, 0ms);
}
TEST_F(CommandTransport, ClearDuringAQueryTurnsItIntoATimeout) {
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
