// The Windows ports on COM9, played by the simulated amplifier, in both modes: bytes arrive, a wake and a
// purge end a waiting receive, and aborts that no cancel of ours caused (as drivers give after an error)
// are waited on and reported, never spun on. Then how the system's codes are read, without a port.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/windows_serial_port.h"

namespace {

using namespace pekolm::platform;
using namespace std::chrono_literals;
using windows::IoMode;

constexpr int port_number = 9;

class WindowsPort : public ::testing::TestWithParam<IoMode> {
 protected:
  void SetUp() override {
    int os_error = 0;
    port = windows::open_port(port_number, LineSettings{115200, false}, GetParam(), os_error);
    ASSERT_NE(port, nullptr) << "COM9 could not be opened: " << os_error;
    // The amplifier streams from the start: stopped, the line carries only answers.
    const std::uint8_t stop_transmission = 0x23;
    ASSERT_EQ(port->write(&stop_transmission, 1).bytes, 1U);
    std::this_thread::sleep_for(200ms);
    port->purge_input();
  }

  // The mode query, which the amplifier answers with a few bytes.
  void ask() {
    const std::uint8_t query = 0x27;
    ASSERT_EQ(port->write(&query, 1).bytes, 1U);
  }

  // Bytes, past the wakes left over from what the test did before.
  IoResult receive_bytes() {
    IoResult received;
    for (int i = 0; i < 10 && received.bytes == 0 && received.error == 0; ++i) {
      received = port->receive(buffer, sizeof buffer);
    }
    return received;
  }

  std::unique_ptr<SerialPort> port;
  std::uint8_t buffer[256]{};
};

TEST_P(WindowsPort, AnswerArrivesAndWakesEndAWaitingReceive) {
  ask();
  const IoResult answer = receive_bytes();
  EXPECT_EQ(answer.error, 0);
  EXPECT_GT(answer.bytes, 0U);

  // A wake while nobody waits is kept for the next receive; then one that comes during the wait.
  port->purge_input();
  port->interrupt_wait();
  EXPECT_TRUE(port->receive(buffer, sizeof buffer).interrupted);
  std::thread waker([&] {
    std::this_thread::sleep_for(50ms);
    port->interrupt_wait();
  });
  EXPECT_TRUE(port->receive(buffer, sizeof buffer).interrupted);
  waker.join();

  // A purge from another thread, as a clear does, ends the wait without an error.
  std::thread purger([&] {
    std::this_thread::sleep_for(50ms);
    port->purge_input();
    port->interrupt_wait();
  });
  const IoResult purged = port->receive(buffer, sizeof buffer);
  EXPECT_EQ(purged.error, 0);
  EXPECT_EQ(purged.bytes, 0U);
  purger.join();

  // And the port reads on.
  ask();
  EXPECT_GT(receive_bytes().bytes, 0U);
}

// Another party aborting every read of ours: the receive waits between them and reports the abort once it
// has come in a row, as an error the device survives.
TEST_P(WindowsPort, ForeignAbortsAreWaitedOnAndReported) {
  if (GetParam() == IoMode::polled) GTEST_SKIP() << "a polled read is never pending, so nothing aborts it";
  std::atomic<bool> aborting{true};
  std::thread aborter([&] {
    while (aborting) {
      CancelIoEx(windows::handle_of(*port), nullptr);
      std::this_thread::sleep_for(1ms);
    }
  });
  int receives = 0;
  IoResult reported;
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < 500ms) {
    const IoResult received = port->receive(buffer, sizeof buffer);
    ++receives;
    if (received.error != 0) reported = received;
  }
  aborting = false;
  aborter.join();
  EXPECT_EQ(reported.error, static_cast<int>(ERROR_OPERATION_ABORTED));
  EXPECT_FALSE(reported.gone);
  EXPECT_LT(receives, 100);  // each one waits at least 2 + 4 + 8 ms before it reports

  ask();
  EXPECT_GT(receive_bytes().bytes, 0U);
}

INSTANTIATE_TEST_SUITE_P(BothModes, WindowsPort, ::testing::Values(IoMode::overlapped, IoMode::polled),
                         [](const auto& info) { return info.param == IoMode::overlapped ? "overlapped" : "polled"; });

TEST(WindowsCodes, RemovalCodesAreTheDeviceGoingAwayAndLineErrorsAreReported) {
  for (DWORD code : {2UL, 5UL, 6UL, 21UL, 22UL, 31UL, 55UL, 433UL, 1167UL, 1617UL}) {
    EXPECT_TRUE(windows::went_away(code)) << code;
  }
  for (DWORD code : {0UL, 87UL, 121UL, 995UL, 1117UL}) EXPECT_FALSE(windows::went_away(code)) << code;

  EXPECT_EQ(windows::line_error(0), 0UL);
  EXPECT_EQ(windows::line_error(CE_FRAME), static_cast<DWORD>(ERROR_CRC));
  EXPECT_EQ(windows::line_error(CE_RXPARITY | CE_BREAK), static_cast<DWORD>(ERROR_CRC));
  EXPECT_EQ(windows::line_error(CE_OVERRUN | CE_FRAME), static_cast<DWORD>(ERROR_IO_DEVICE));
  EXPECT_EQ(windows::line_error(CE_RXOVER), static_cast<DWORD>(ERROR_IO_DEVICE));
}

}  // namespace
