// What a pty cannot show: failed and short writes, CTS that rises late or never, read errors and a device
// that goes away. The library runs on the in-memory fake port here.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "fake_serial_port.h"
#include "pekolm.h"
#include "simulated_amplifier.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

class FakePort : public ::testing::Test {
 protected:
  std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
  FakePortInstaller installer{line};

  void TearDown() override {
    for (int port : {40, 41, 42}) {
      Kolmrelease(port);
      KolmgetLastError(port);
    }
  }
  void fail_next_write(int errno_value, bool short_write = false) {
    std::lock_guard lock(line->mutex);
    line->failing_write = static_cast<int>(line->writes.size()) + 1;
    line->write_errno = errno_value;
    line->write_short = short_write;
  }
  std::size_t writes() {
    std::lock_guard lock(line->mutex);
    return line->writes.size();
  }
};

TEST_F(FakePort, FailedWriteCarriesTheErrnoAndShortWriteItsOwnCode) {
  ASSERT_EQ(KolmactExt(40, 9600, 16), 0);
  fail_next_write(5);
  EXPECT_EQ(KolmstartTX(40), -1);
  EXPECT_EQ(KolmgetLastError(40), 0x20000005);
  fail_next_write(0, true);
  EXPECT_EQ(KolmstopTX(40), -1);
  EXPECT_EQ(KolmgetLastError(40), 0x300000F5);
  EXPECT_EQ(KolmstopTX(40), 0);
}

TEST_F(FakePort, ZeroingAllChannelsGoesOnAfterAFailure) {
  ASSERT_EQ(KolmactExt(40, 9600, 16), 0);
  const std::size_t before = writes();
  {
    std::lock_guard lock(line->mutex);
    line->failing_write = static_cast<int>(before) + 2;  // channel 2
    line->write_errno = 32;
  }
  EXPECT_EQ(KolmsetZero(40, 0), -1);
  EXPECT_EQ(writes(), before + 4);
  EXPECT_EQ(KolmgetLastError(40), 0x20000020);
}

TEST_F(FakePort, QueryWhoseWriteFailsReturnsAtOnce) {
  ASSERT_EQ(KolmactExt(40, 9600, 16), 0);
  fail_next_write(5);
  char serial[9] = "unchangd";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KolmreadSerialNo(40, serial), -1);
  EXPECT_LT(elapsed_ms(start), 3000);
  EXPECT_STREQ(serial, "unchangd");
  EXPECT_EQ(KolmgetLastError(40), 0x20000005);
}

TEST_F(FakePort, LoadingAParameterSetPausesEvenWhenItsWriteFails) {
  ASSERT_EQ(KolmactExt(40, 9600, 16), 0);
  fail_next_write(5);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KolmgetAll(40, 2), -1);
  EXPECT_GE(elapsed_ms(start), 500);
}

TEST_F(FakePort, OpenErrorIsPassedThroughPlain) {
  line->open_error = 13;
  EXPECT_EQ(KolmactExt(41, 9600, 16), -1);
  EXPECT_EQ(KolmgetLastError(41), 13);
}

TEST_F(FakePort, HandshakeWaitsForCts) {
  line->cts_on_at = std::chrono::steady_clock::now() + 800ms;
  EXPECT_EQ(KolmactivateExtended(40, 19200, 16, 0x4), 0);
}

TEST_F(FakePort, HandshakeWithoutCtsFailsAfterThreeSeconds) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KolmactivateExtended(41, 19200, 16, 0x4), -1);
  EXPECT_GE(elapsed_ms(start), 3000 + 500);
  EXPECT_EQ(KolmgetLastError(41), 0x3000001F);
  EXPECT_EQ(KolmgetMode(41), -1);  // closed again
  EXPECT_EQ(writes(), 0u);         // the amplifier was never spoken to
}

TEST_F(FakePort, UnreadableModemStatusCountsAsCtsOff) {
  line->cts_readable = false;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KolmactivateExtended(42, 19200, 16, 0x4), -1);
  EXPECT_LT(elapsed_ms(start), 3000);
  EXPECT_EQ(KolmgetLastError(42), 0x3000001F);
}

TEST_F(FakePort, StopFirstFailureClosesThePort) {
  fail_next_write(5);
  EXPECT_EQ(KolmactivateExtended(40, 9600, 16, 0x200), -1);
  EXPECT_EQ(KolmgetLastError(40), 0x20000005);
  EXPECT_EQ(Kolmrelease(40), -1);
}

TEST_F(FakePort, TransmissionModeFailureOtherThanSilenceFailsActivation) {
  {
    std::lock_guard lock(line->mutex);
    line->failing_write = 2;  // mode query, then the transmission-mode query
    line->write_errno = 5;
  }
  EXPECT_EQ(KolmactExt(40, 9600, 16), -1);
  EXPECT_EQ(KolmgetLastError(40), 0x20000005);
}

TEST_F(FakePort, FailedModeCommandLeavesNoErrorAfterASuccessfulActivation) {
  line->responder = [](const FakeBytes& command) -> FakeBytes {
    if (!command.empty() && command[0] == 0x27) return answer_frame({0});  // mode 0: needs switching
    return default_response(command);
  };
  {
    std::lock_guard lock(line->mutex);
    line->failing_write = 2;  // the mode command
    line->write_errno = 5;
  }
  ASSERT_EQ(KolmactExt(40, 9600, 16), 0);
  EXPECT_EQ(KolmgetLastError(40), 0);
  EXPECT_EQ(hex(line->written()[1]), "26 01 71 75 69 72 61 6E");
}

TEST_F(FakePort, ReadErrorIsReportedAsTheReceiveError) {
  ASSERT_EQ(KolmactExt(40, 9600, 16), 0);
  {
    std::lock_guard lock(line->mutex);
    line->read_error = 71;
  }
  line->changed.notify_all();
  ASSERT_TRUE(eventually([] {
    double v;
    return Kolmread(40, 1, &v) == -1;
  }));
  EXPECT_EQ(KolmgetLastError(40), 71);
  // A clear brings the port back to reading.
  EXPECT_EQ(KolmclearDLLbuffer(40), 0);
  line->push(value_frame(1, 2, 3, 4));
  ASSERT_TRUE(eventually([] { return Kolmreceived(40, 0) == 1; }));
}

// A driver that fails every read (as some abort every read after a line error) must not be read in a spin:
// the pauses between the reads grow.
TEST_F(FakePort, ReadErrorThatPersistsIsReportedWithoutASpinAndEnds) {
  ASSERT_EQ(KolmactExt(40, 9600, 16), 0);
  {
    std::lock_guard lock(line->mutex);
    line->read_error = 995;
    line->read_error_persists = true;
  }
  line->changed.notify_all();
  std::this_thread::sleep_for(1s);
  {
    std::lock_guard lock(line->mutex);
    EXPECT_GT(line->failed_reads, 3);
    EXPECT_LT(line->failed_reads, 100);  // a 1 ms pause alone would allow 1000
    line->read_error = 0;
  }
  EXPECT_EQ(KolmgetLastError(40), 995);
  line->push(value_frame(1, 2, 3, 4));
  ASSERT_TRUE(eventually([] { return Kolmreceived(40, 0) == 1; }));
}

TEST_F(FakePort, DeviceThatGoesAwayFailsCleanlyAndCanBeReleased) {
  ASSERT_EQ(KolmactExt(40, 9600, 16), 0);
  {
    std::lock_guard lock(line->mutex);
    line->hung_up = true;
  }
  line->changed.notify_all();
  ASSERT_TRUE(eventually([] {
    double v;
    return Kolmread(40, 1, &v) == -1;
  }));
  EXPECT_EQ(KolmgetLastError(40), 5);
  EXPECT_EQ(KolmstartTX(40), -1);
  EXPECT_EQ(KolmgetLastError(40), 0x20000005);
  EXPECT_EQ(Kolmrelease(40), 0);
}

// A receive thread that no wake reaches must not hold a release up for ever: it is left behind with the
// port, and the port number is free again.
TEST_F(FakePort, ReleaseGivesUpOnAReceiveThreadThatCannotBeWoken) {
  ASSERT_EQ(KolmactExt(40, 9600, 16), 0);
  {
    std::lock_guard lock(line->mutex);
    line->deaf = true;
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Kolmrelease(40), 0);
  EXPECT_GE(elapsed_ms(start), 2000);
  EXPECT_EQ(KolmactExt(40, 9600, 16), 0);
  {
    std::lock_guard lock(line->mutex);
    line->deaf = false;  // the thread left behind ends now
  }
  line->changed.notify_all();
}

TEST_F(FakePort, StartupTalksToTheAmplifierInOrder) {
  ASSERT_EQ(KolmactivateExtended(40, 9600, 16, 0x200), 0);
  auto written = line->written();
  ASSERT_EQ(written.size(), 4u);
  EXPECT_EQ(hex(written[0]), "23");
  EXPECT_EQ(hex(written[1]), "27");
  EXPECT_EQ(hex(written[2]), "29");
  EXPECT_EQ(hex(written[3]), "2B");
}

}  // namespace
