// The display loop: a receive error, keys without a command, and how a signal leaves the terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>

#include <thread>

#include "console_session.h"

namespace console_testing {
namespace {

constexpr int port = 9;

TEST(DisplayLoop, AReceiveErrorRingsShowsTheCodeAndWaitsForAKey) {
  kolmsim::Simulator sim;
  link(sim, port);
  ConsoleSession console(testing_support::port_dir());
  ASSERT_NO_FATAL_FAILURE(start_up(console, sim, port));
  ASSERT_TRUE(console.expect("W1: ")) << console.tail();

  sim.break_terminators(1);
  ASSERT_TRUE(console.expect("\a")) << console.tail();
  const Clock::time_point bell = console.matched_at();
  // 0x30000061: a frame that did not end in CR LF.
  ASSERT_TRUE(console.expect("Error! GetlastError: 805306465\nBeliebige Taste...")) << console.tail();
  EXPECT_GE(console.matched_at() - bell, 900ms) << "the tone lasts a second";

  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(console.unmatched(), "") << "nothing is shown until a key is pressed";
  console.send(" ");
  ASSERT_TRUE(console.expect("W1: ")) << console.tail();
}

TEST(DisplayLoop, AKeyWithoutACommandOnlyPauses) {
  kolmsim::Simulator sim;
  link(sim, port);
  ConsoleSession console(testing_support::port_dir());
  ASSERT_NO_FATAL_FAILURE(start_up(console, sim, port));
  sim.clear_commands();
  for (const char* key : {"b", "Q", "7", "K", "\n"}) {
    console.send(key);
    ASSERT_TRUE(console.expect(std::string(key) + " Beliebige Taste...\n\n")) << console.tail();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(console.unmatched(), "") << "waits for a key after " << key;
    console.send(" ");
  }
  // Q is not q: the console is still there.
  ASSERT_TRUE(console.expect("W1: ")) << console.tail();
  EXPECT_FALSE(console.wait_exit(100ms));
  EXPECT_EQ(commands(sim, 0), std::vector<std::string>{});
}

// The terminal's settings come back however the console ends.
class WayOut : public ::testing::TestWithParam<int> {};

TEST_P(WayOut, ASignalInTheDisplayLoopRestoresTheTerminal) {
  kolmsim::Simulator sim;
  link(sim, port);
  ConsoleSession console(testing_support::port_dir());
  ASSERT_NO_FATAL_FAILURE(start_up(console, sim, port));
  ASSERT_TRUE(testing_support::eventually([&] { return (console.local_modes() & ICANON) == 0; }));
  if (GetParam() == SIGINT) {
    console.send("\x03");  // Ctrl-C
  } else {
    ::kill(console.pid(), GetParam());
  }
  const std::optional<console_testing::Ending> ending = console.wait_exit();
  ASSERT_TRUE(ending);
  EXPECT_FALSE(ending->exited);
  EXPECT_EQ(ending->status, GetParam());
  EXPECT_EQ(console.local_modes() & (ICANON | ECHO), static_cast<unsigned>(ICANON | ECHO));
}

INSTANTIATE_TEST_SUITE_P(Signals, WayOut, ::testing::Values(SIGINT, SIGTERM));

}  // namespace
}  // namespace console_testing
