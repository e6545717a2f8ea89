// The display loop: a receive error, an amplifier that goes away, keys without a command, how a signal
// leaves the terminal, and a terminal that hangs up.
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>

#include <thread>

#include "console_session.h"
#include "pekolm.h"

namespace console_testing {
namespace {

constexpr int port = 9;

// A console past its start-up on a simulated amplifier, with the display running.
template <typename Base = ::testing::Test>
class RunningConsole : public Base {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(start_up(console, sim, port)); }

  kolmsim::Simulator sim;
  bool linked = (link(sim, port), true);  // before the console starts
  ConsoleSession console{testing_support::port_dir()};
};

using DisplayLoop = RunningConsole<>;

TEST_F(DisplayLoop, AReceiveErrorRingsShowsTheCodeAndWaitsForAKey) {
  ASSERT_TRUE(console.expect("W1: ")) << console.tail();

  sim.break_terminators(1);
  ASSERT_TRUE(console.expect("\a")) << console.tail();
  const Clock::time_point bell = console.matched_at();
  // 0x30000061: a frame that did not end in CR LF.
  ASSERT_TRUE(console.expect("Error! GetlastError: 805306465\nBeliebige Taste...")) << console.tail();
  // Loose: the bell's own arrival may be late by as much as a loaded (or sanitised) machine delays it.
  EXPECT_GE(console.matched_at() - bell, 700ms) << "the tone lasts a second";

  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(console.unmatched(), "") << "nothing is shown until a key is pressed";
  console.send(" ");
  ASSERT_TRUE(console.expect("W1: ")) << console.tail();

  // The same error again, after good reads: told again.
  sim.break_terminators(1);
  ASSERT_TRUE(console.expect("\aError! GetlastError: 805306465\nBeliebige Taste...")) << console.tail();
  console.send(" ");
  ASSERT_TRUE(console.expect("W1: ")) << console.tail();
}

TEST_F(DisplayLoop, AnAmplifierThatWentAwayIsToldOnceAndQStillEndsTheConsole) {
  ASSERT_TRUE(console.expect("W1: ")) << console.tail();

  sim.hang_up();
  ASSERT_TRUE(console.expect("\aError! GetlastError: ")) << console.tail();
  ASSERT_TRUE(console.expect("\nBeliebige Taste...")) << console.tail();
  console.send(" ");
  // Every read fails from now on, with the same code; a key pressed a moment later is the loop's.
  std::this_thread::sleep_for(300ms);
  console.send("q");
  ASSERT_TRUE(console.expect("q Beliebige Taste...\n\n")) << console.tail();
  console.send(" ");
  const std::optional<Ending> ending = console.wait_exit();
  ASSERT_TRUE(ending) << console.tail();
  EXPECT_TRUE(ending->exited);
  EXPECT_EQ(ending->status, 0);
  EXPECT_EQ(console.output().find("GetlastError", console.output().find("GetlastError") + 1), std::string::npos)
      << console.tail();
}

TEST_F(DisplayLoop, AKeyWithoutACommandOnlyPauses) {
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
class WayOut : public RunningConsole<::testing::TestWithParam<int>> {};

TEST_P(WayOut, ASignalInTheDisplayLoopRestoresTheTerminal) {
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

// The ways a terminal goes away: closed while SIGHUP reaches the console, closed while the console was
// started with SIGHUP ignored (as under nohup; then only the input tells), and SIGHUP alone while the
// console waits for a key.
enum class HangUp { closed, closed_signal_ignored, signal_in_pause };

class TerminalGone : public ::testing::TestWithParam<HangUp> {};

TEST_P(TerminalGone, EndsTheConsoleAsQWould) {
  kolmsim::Simulator sim;
  link(sim, port);
  // The console inherits the disposition across fork and exec.
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = GetParam() == HangUp::closed_signal_ignored ? SIG_IGN : SIG_DFL;
  ::sigaction(SIGHUP, &ignore, &previous);
  ConsoleSession console(testing_support::port_dir());
  ::sigaction(SIGHUP, &previous, nullptr);
  ASSERT_NO_FATAL_FAILURE(start_up(console, sim, port));
  ASSERT_TRUE(console.expect("W1: ")) << console.tail();

  if (GetParam() == HangUp::signal_in_pause) {
    console.send("b");
    ASSERT_TRUE(console.expect("b Beliebige Taste...\n\n")) << console.tail();
    ::kill(console.pid(), SIGHUP);
  } else {
    console.hang_up();
  }
  const std::optional<Ending> ending = console.wait_exit(5s);
  ASSERT_TRUE(ending) << "the console outlived its terminal";
  EXPECT_TRUE(ending->exited);
  EXPECT_EQ(ending->status, 0);
  if (GetParam() == HangUp::signal_in_pause) {
    EXPECT_EQ(console.local_modes() & (ICANON | ECHO), static_cast<unsigned>(ICANON | ECHO));
  }
  EXPECT_EQ(KolmactExt(port, 115200, 16), 0) << "the port was let go";
  EXPECT_EQ(Kolmrelease(port), 0);
}

std::string way_name(const ::testing::TestParamInfo<HangUp>& info) {
  switch (info.param) {
    case HangUp::closed:
      return "Closed";
    case HangUp::closed_signal_ignored:
      return "ClosedWithSighupIgnored";
    case HangUp::signal_in_pause:
      return "SighupInAPause";
  }
  return "";
}

INSTANTIATE_TEST_SUITE_P(HangUps, TerminalGone,
                         ::testing::Values(HangUp::closed, HangUp::closed_signal_ignored, HangUp::signal_in_pause),
                         way_name);

}  // namespace
}  // namespace console_testing
