// Opening and closing ports against the simulated amplifier: argument checks, the error report of a
// failed activation, exclusive use, and the start-up talk with the amplifier.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

#include "pekolm.h"
#include "platform/serial_port.h"
#include "simulated_amplifier.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

kolmsim::Options quiet() {
  kolmsim::Options options;
  options.transmitting = false;
  return options;
}

TEST(Version, IsOnePointNine) { EXPECT_EQ(KolmdllVersion(), 65545); }

TEST(LastError, NothingPendingOnAPortNeverOpened) { EXPECT_EQ(KolmgetLastError(77), 0); }

TEST(Activation, RefusesBadArgumentsBeforeTouchingAnything) {
  EXPECT_EQ(KolmactivateExtended(300, 115200, 10, 0), -1);
  EXPECT_EQ(KolmgetLastError(300), 0x30000101);
  EXPECT_EQ(KolmgetLastError(300), 0);

  EXPECT_EQ(KolmactivateExtended(0, 115200, 10, 0), -1);
  EXPECT_EQ(KolmgetLastError(0), 0x30000101);

  EXPECT_EQ(KolmactivateExtended(2, 4800, 10, 0), -1);
  EXPECT_EQ(KolmgetLastError(2), 0x30000100);
}

TEST(Activation, MissingDeviceFailsWithPlainErrnoAndLeavesTheSlotClosed) {
  port_dir();  // makes sure PEKOLM_PORT_DIR is set
  EXPECT_EQ(KolmactExt(3, 115200, 10), -1);
  EXPECT_EQ(KolmgetLastError(3), ENOENT);
  EXPECT_EQ(Kolmrelease(3), -1);
  EXPECT_EQ(KolmgetLastError(3), 0x30000101);

  SimulatedAmplifier amplifier(3, quiet());
  EXPECT_EQ(amplifier.activate(), 0);
  EXPECT_EQ(KolmgetLastError(3), 0);
}

TEST(Activation, OpenPortCannotBeOpenedTwiceAndReleaseOnlyOnce) {
  SimulatedAmplifier amplifier(4, quiet());
  ASSERT_EQ(amplifier.activate(230400), 0);
  EXPECT_EQ(amplifier.activate(), -1);
  EXPECT_EQ(KolmgetLastError(4), 0x300000F6);
  EXPECT_EQ(KolmgetMode(4), 1);  // the open port is untouched

  EXPECT_EQ(Kolmrelease(4), 0);
  EXPECT_EQ(Kolmrelease(4), -1);
  EXPECT_EQ(KolmgetLastError(4), 0x30000101);
  EXPECT_EQ(amplifier.activate(), 0);  // and it can be opened again
}

TEST(Activation, DeviceHeldByAnotherOpenerIsBusy) {
  SimulatedAmplifier amplifier(5, quiet());
  int other = ::open((port_dir() + "/com5").c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(amplifier.activate(), -1);
  EXPECT_EQ(KolmgetLastError(5), EBUSY);
  ::close(other);

  ASSERT_EQ(amplifier.activate(), 0);
  int intruder = ::open((port_dir() + "/com5").c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(intruder, 0);  // root may open it, but cannot take it
  EXPECT_NE(::flock(intruder, LOCK_EX | LOCK_NB), 0);
  ::close(intruder);
}

// Paths that do not lead to one serial line, refused at once: every open of a pty multiplexer makes a new
// pty, so the receive thread's own descriptor would be another line that no wake reaches.
TEST(Activation, RefusesWhatIsNoSerialLine) {
  const struct {
    const char* target;
    int code;
  } links[] = {{"/dev/ptmx", ENOTTY}, {"/dev/null", ENOTTY}};
  const std::string link = port_dir() + "/com7";
  for (const auto& [target, code] : links) {
    SCOPED_TRACE(target);
    std::filesystem::remove(link);
    ASSERT_EQ(::symlink(target, link.c_str()), 0);
    EXPECT_EQ(KolmactExt(7, 115200, 10), -1);
    EXPECT_EQ(KolmgetLastError(7), code);
  }
  std::filesystem::remove(link);
}

// A program started with a standard descriptor closed must not find its port there: what it then prints
// would go to the amplifier.
TEST(Activation, NeverTakesTheStandardDescriptors) {
  SimulatedAmplifier amplifier(16, quiet());
  int saved[3];
  bool taken[3];
  for (int fd = 0; fd < 3; ++fd) saved[fd] = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  for (int fd = 0; fd < 3; ++fd) ::close(fd);
  const int activated = amplifier.activate();
  for (int fd = 0; fd < 3; ++fd) taken[fd] = ::fcntl(fd, F_GETFD) != -1;
  const int released = Kolmrelease(16);
  for (int fd = 0; fd < 3; ++fd) {
    ::dup2(saved[fd], fd);
    ::close(saved[fd]);
  }
  ASSERT_EQ(activated, 0);
  EXPECT_EQ(released, 0);
  for (int fd = 0; fd < 3; ++fd) EXPECT_FALSE(taken[fd]) << "descriptor " << fd;
}

// Without PEKOLM_PORT_DIR, port n is the link com<n> of the library's default directory where there is one
// (as udev rules make them for USB adapters), else the machine's n-th serial port.
TEST(Activation, WithoutAPortDirTheDefaultLinksComeFirst) {
#ifndef PEKOLM_TEST_DEFAULT_PORT_DIR
  GTEST_SKIP() << "the library's default directory of links is not this build's to fill";
#else
  const std::string dir = PEKOLM_TEST_DEFAULT_PORT_DIR;
  SimulatedAmplifier amplifier(17, quiet());
  std::filesystem::create_directories(dir);
  const std::string link = dir + "/com17";
  std::filesystem::remove(link);
  std::filesystem::create_symlink(amplifier.sim().slave_path(), link);
  const std::string port_dir = ::getenv("PEKOLM_PORT_DIR");
  ::unsetenv("PEKOLM_PORT_DIR");
  EXPECT_EQ(pekolm::platform::device_path(17), link);
  EXPECT_EQ(amplifier.activate(), 0) << KolmgetLastError(17);
  EXPECT_EQ(Kolmrelease(17), 0);
  std::filesystem::remove(link);
  EXPECT_EQ(pekolm::platform::device_path(17), "/dev/ttyS16");
  ::setenv("PEKOLM_PORT_DIR", port_dir.c_str(), 1);
  EXPECT_EQ(pekolm::platform::device_path(17), port_dir + "/com17");
#endif
}

TEST(Activation, FailureOfOnePortDoesNotHideAnotherPortsError) {
  SimulatedAmplifier amplifier(6, quiet());
  amplifier.activate_or_fail();
  EXPECT_EQ(KolmsetZero(6, 9), -1);
  EXPECT_EQ(KolmactExt(8, 1234, 1), -1);  // port 8: bad baud
  EXPECT_EQ(KolmgetLastError(6), 0x30000100);
  EXPECT_EQ(KolmgetLastError(8), 0x30000100);
  EXPECT_EQ(KolmgetLastError(6), 0);
}

TEST(Activation, TakesTheSettleTimeAndBringsModeZeroToOne) {
  kolmsim::Options options = quiet();
  options.mode = 0;
  SimulatedAmplifier amplifier(9, options);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(amplifier.activate(), 0);
  EXPECT_GE(elapsed_ms(start), 500);
  const auto commands = amplifier.commands();
  ASSERT_GE(commands.size(), 4u);
  EXPECT_EQ(hex(commands[0]), "27");
  EXPECT_EQ(hex(commands[1]), "26 01 71 75 69 72 61 6E");  // mode 1, "quiran"
  EXPECT_EQ(hex(commands[2]), "29");
  EXPECT_EQ(hex(commands[3]), "2B");
  EXPECT_EQ(amplifier.sim().state().mode, 1);
}

TEST(Activation, AmplifierInModeOneGetsNoModeCommand) {
  SimulatedAmplifier amplifier(10, quiet());
  ASSERT_EQ(amplifier.activate(), 0);
  const auto commands = amplifier.commands();
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_EQ(hex(commands[0]), "27");
  EXPECT_EQ(hex(commands[1]), "29");
  EXPECT_EQ(hex(commands[2]), "2B");
}

TEST(Activation, StopFirstFlagSendsStopBeforeAnything) {
  SimulatedAmplifier amplifier(11);
  ASSERT_EQ(amplifier.activate(115200, 100, 0x200), 0);
  const auto received = amplifier.sim().received_bytes();
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received[0], 0x23);
  EXPECT_FALSE(amplifier.sim().state().transmitting);
}

TEST(Activation, SilentTransmissionModeQueryIsToleratedAndReportedOnce) {
  SimulatedAmplifier amplifier(12, quiet());
  amplifier.sim().set_fault(0x29, kolmsim::AnswerFault{.silent = true});
  ASSERT_EQ(amplifier.activate(), 0);
  EXPECT_EQ(KolmgetLastError(12), 0x30000058);
  EXPECT_EQ(KolmgetLastError(12), 0);
}

TEST(Activation, SilentModeQueryFailsAfterOneAnswerTimeoutAndClosesThePort) {
  SimulatedAmplifier amplifier(13, quiet());
  amplifier.sim().set_fault(0x27, kolmsim::AnswerFault{.silent = true});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(amplifier.activate(), -1);
  EXPECT_GE(elapsed_ms(start), 6000);
  EXPECT_EQ(KolmgetLastError(13), 0x30000058);
  EXPECT_EQ(KolmgetMode(13), -1);
  EXPECT_EQ(KolmgetLastError(13), 0x30000101);
  amplifier.sim().clear_faults();
  EXPECT_EQ(amplifier.activate(), 0);  // the device was let go
}

TEST(Activation, SilentFirmwareQueryLeavesVersionZero) {
  SimulatedAmplifier amplifier(14, quiet());
  amplifier.sim().set_fault(0x2B, kolmsim::AnswerFault{.silent = true});
  ASSERT_EQ(amplifier.activate(), 0);
  EXPECT_EQ(KolmgetLastError(14), 0x30000058);
}

TEST(Activation, BufferSizeBelowOneKeepsOneValuePerChannel) {
  SimulatedAmplifier amplifier(15, quiet());
  ASSERT_EQ(amplifier.activate(115200, 0), 0);
  amplifier.sim().inject(value_frame(1, 2, 3, 4));
  amplifier.sim().inject(value_frame(32768, 6, 7, 8));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(Kolmreceived(15, 5), 1);
  double v[4];
  ASSERT_EQ(KolmreadAll(15, &v[0], &v[1], &v[2], &v[3]), 1);
  EXPECT_EQ(v[0], 0.0);  // the newer frame overwrote the older
  EXPECT_EQ(Kolmreceived(15, 5), 0);
}

}  // namespace
