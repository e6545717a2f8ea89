// What ends a port: a release while other threads are inside it, a device that goes away mid-stream,
// and a normal user opening a released port again.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "pekolm.h"
#include "platform/serial_port.h"
#include "simulated_amplifier.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

constexpr int not_open = 0x30000101;

kolmsim::Options quiet() { return kolmsim::Options{.transmitting = false}; }

struct WaitingCall {
  const char* name;
  int callers;  // threads making the call at once: the later ones queue behind the first
  std::function<int(int port)> call;
};

TEST(Release, CutsShortEveryWaitingCallAndLeavesThePortFree) {
  const int port = 61;
  SimulatedAmplifier amplifier(port, quiet());
  const WaitingCall calls[] = {
      {"a query waiting for its answer", 1, [](int p) { return KolmgetBaudSerial(p); }},
      {"queries queued behind it", 3, [](int p) { return KolmgetBaudSerial(p); }},
      {"pauses between commands", 1, [](int p) { return KolmwriteThreshold(p, 0, 0.5, 0.2); }},
      {"pauses between lines", 1, [](int p) { return KolmsetDigitalIOtype(p, 0, 1); }},
      {"a parameter set's load pause", 1, [](int p) { return KolmgetAll(p, 1); }},
  };
  for (const WaitingCall& waiting : calls) {
    SCOPED_TRACE(waiting.name);
    // Activating at once after the previous release is part of the test: the port must be free.
    amplifier.activate_or_fail();
    amplifier.sim().set_fault(0xB1, kolmsim::AnswerFault{.silent = true});
    std::vector<int> results(waiting.callers, 0);
    std::vector<std::thread> callers;
    for (int& result : results) callers.emplace_back([&] { result = waiting.call(port); });
    std::this_thread::sleep_for(250ms);

    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Kolmrelease(port), 0);
    const std::size_t bytes_at_release = amplifier.sim().received_bytes().size();
    for (std::thread& caller : callers) caller.join();
    EXPECT_LT(elapsed_ms(start), 4000) << "the calls ran on after the release";
    for (int result : results) EXPECT_EQ(result, -1);
    EXPECT_EQ(KolmgetLastError(port), not_open);

    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(amplifier.sim().received_bytes().size(), bytes_at_release) << "bytes reached the port after release";
    amplifier.sim().clear_faults();
  }
}

// The platform's own port on a silent simulated line, without the library around it.
class SystemPort : public ::testing::Test {
 protected:
  static constexpr int port = 65;
  void SetUp() override {
    int os_error = 0;
    serial = pekolm::platform::open_system_serial_port(port, {115200, false}, os_error);
    ASSERT_NE(serial, nullptr) << os_error;
  }
  SimulatedAmplifier amplifier{port, quiet()};
  std::unique_ptr<pekolm::platform::SerialPort> serial;
};

// A write that has returned has left; the purge of a release must not take it back. On a pty the bytes
// wait a moment in the kernel before the other side can read them, and a purge of the output would
// drop them there: the last command before a release then never reached the amplifier.
TEST_F(SystemPort, PurgeKeepsWhatWasWrittenBeforeIt) {
  constexpr int rounds = 300;
  const std::uint8_t get_value = 0x3B;
  for (int round = 0; round < rounds; ++round) {
    ASSERT_EQ(serial->write(&get_value, 1).bytes, 1U);
    ASSERT_EQ(serial->purge_all(), 0);
  }
  EXPECT_EQ(amplifier.wait_for_commands(rounds, 5s).size(), static_cast<std::size_t>(rounds));
}

// A clear or a release interrupts the receive thread once; on a silent line a lost interrupt would leave
// it asleep for good. One interrupt must end a receive, whether it comes before the receive or during it.
TEST_F(SystemPort, OneInterruptEndsAReceiveOnASilentLine) {
  std::uint8_t byte = 0;
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    const bool during = round % 2 == 1;
    if (!during) serial->interrupt_wait();
    auto received = std::async(std::launch::async, [&] { return serial->receive(&byte, 1); });
    if (during) {
      std::this_thread::sleep_for(std::chrono::milliseconds(round % 4));  // sometimes before the read begins
      serial->interrupt_wait();
    }
    if (received.wait_for(2s) != std::future_status::ready) {
      ADD_FAILURE() << "the interrupt was lost";
      while (received.wait_for(100ms) != std::future_status::ready) serial->interrupt_wait();
    }
    EXPECT_TRUE(received.get().interrupted);
  }
}

TEST(Unplugged, ReadsAndQueriesKeepFailingWithTheSystemsCodeUntilRelease) {
  const int port = 62;
  {
    SimulatedAmplifier amplifier(port);
    amplifier.activate_or_fail();
    ASSERT_TRUE(eventually([&] { return Kolmreceived(port, 0) > 0; }));

    // A query in flight when the device goes fails at once, not with the answer time-out.
    amplifier.sim().set_fault(0x27, kolmsim::AnswerFault{.silent = true});
    std::thread unplug([&] {
      std::this_thread::sleep_for(200ms);
      amplifier.sim().hang_up();
    });
    EXPECT_EQ(KolmgetMode(port), -1);
    unplug.join();
    EXPECT_EQ(KolmgetLastError(port), EIO);  // the receive thread's
    EXPECT_EQ(KolmgetLastError(port), EIO);  // the query's

    double value = 0;
    double values[8];
    int count = -1;
    for (int round = 0; round < 3; ++round) {
      SCOPED_TRACE(round);
      EXPECT_EQ(Kolmread(port, 1, &value), -1);
      EXPECT_EQ(KolmgetLastError(port), EIO);
      EXPECT_EQ(KolmreadAll(port, &value, &value, &value, &value), -1);
      EXPECT_EQ(KolmgetLastError(port), EIO);
      EXPECT_EQ(KolmclearDLLbuffer(port), 0);
      EXPECT_EQ(KolmgetLastError(port), EIO) << "a clear hid the device's absence";
      EXPECT_EQ(KolmreadMultiple(port, 0, values, 8, &count), -1);
      EXPECT_EQ(count, 0);
      EXPECT_EQ(KolmgetLastError(port), EIO);
    }
    EXPECT_EQ(Kolmrelease(port), 0);
  }
  SimulatedAmplifier plugged_in_again(port, quiet());
  EXPECT_EQ(plugged_in_again.activate(), 0);
}

// The child's half of the test below: two activations in one process, as a normal user.
bool run_as_child() {
  const char* port = std::getenv("PEKOLM_TEST_REOPEN_PORT");
  if (port == nullptr) return false;
  const int number = std::atoi(port);
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(KolmactExt(number, 115200, 64), 0) << "round " << round << ", error " << KolmgetLastError(number);
    EXPECT_EQ(Kolmrelease(number), 0);
  }
  return true;
}

constexpr int cannot_become_normal_user = 77;

// Root opens a tty however it was left, so the children drop to nobody when the suite runs as root.
TEST(NormalUser, OpensAReleasedPortAgainInTheSameAndTheNextProcess) {
  if (run_as_child()) return;
  const int port = 63;
  SimulatedAmplifier amplifier(port, quiet());
  ASSERT_EQ(::chmod(amplifier.sim().slave_path().c_str(), 0666), 0);
  ASSERT_EQ(::chmod(port_dir().c_str(), 0755), 0);
  ::setenv("PEKOLM_TEST_REOPEN_PORT", std::to_string(port).c_str(), 1);
  const std::string filter =
      "--gtest_filter=" + std::string(::testing::UnitTest::GetInstance()->current_test_suite()->name()) + "." +
      ::testing::UnitTest::GetInstance()->current_test_info()->name();
  for (int process = 0; process < 2; ++process) {
    const pid_t child = ::fork();
    if (child == 0) {
      if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
        ::_exit(cannot_become_normal_user);
      }
      ::execl("/proc/self/exe", "reopen", filter.c_str(), static_cast<char*>(nullptr));
      ::_exit(cannot_become_normal_user);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == cannot_become_normal_user) {
      ::unsetenv("PEKOLM_TEST_REOPEN_PORT");
      GTEST_SKIP() << "cannot run a child as a normal user here (no setuid, or the test binary is out of its reach)";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << process << " failed, status " << status;
  }
  ::unsetenv("PEKOLM_TEST_REOPEN_PORT");
}

}  // namespace
