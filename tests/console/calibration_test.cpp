// Calibration with the 50 g test load: the new norm from a known load, and every way it can end without
// one; and the calibration as people try it, on the kolmsim tool with a load step.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <thread>

#include "console_session.h"

namespace console_testing {
namespace {

constexpr int port = 14;
using Strings = std::vector<std::string>;

class Calibration : public ConsoleTest {
 protected:
  Calibration() : ConsoleTest(port) {}  // 25 Hz: the means take 10 and 20 samples
  void SetUp() override {
    for (int channel = 1; channel <= 4; ++channel) sim.set_channel_raw(channel, 32768);
    ASSERT_NO_FATAL_FAILURE(start());
  }
};

TEST_F(Calibration, AKnownLoadGivesTheNormThatShowsFifty) {
  console.send("k");
  ASSERT_TRUE(console.answer("kEntlasten, dann Kanal (1..4) eingeben:\n", "1\n")) << console.tail();
  ASSERT_TRUE(console.expect("Prueflast von 50 g auflegen, Taste druecken...\n")) << console.tail();
  // 3277 counts: 0.10500801 normalised.
  sim.set_channel_load(1, 3277);
  std::this_thread::sleep_for(100ms);
  console.send("x\n");
  ASSERT_TRUE(console.answer("Neue Normierung: 476.154. Diesen Wert setzen? (j / n): \n", "j\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("\nKolmDispSetNorm: 0\n KolmDispGetNorm: 476.154\n"));

  const Strings sent = commands(sim, 3);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], "0C 01");
  EXPECT_EQ(sent[1].substr(0, 5), "BA 01");
  EXPECT_EQ(sent[2], "BB 01");
  // The loaded channel now reads the test load.
  ASSERT_TRUE(console.expect("W1: 50.00000 W2: 0.00000 W3: 0.00000 W4: 0.00000\n")) << console.tail();
}

TEST_F(Calibration, EqualMeansOfferNoNormAndChannelsOutsideTheTableGiveUp) {
  console.send("k");
  ASSERT_TRUE(console.answer("kEntlasten, dann Kanal (1..4) eingeben:\n", "2\n")) << console.tail();
  ASSERT_TRUE(console.answer("Prueflast von 50 g auflegen, Taste druecken...\n", "x\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("Mit und ohne Prueflast gleiche Werte: keine neue Normierung.\n"));
  EXPECT_EQ(commands(sim, 1), Strings{"0C 02"});

  // A channel without a norm: zero still runs (for all four, as the library does for 0), the library
  // refuses every read, and the calibration gives up like one whose values stopped coming.
  sim.clear_commands();
  console.send("k");
  ASSERT_TRUE(console.answer("kEntlasten, dann Kanal (1..4) eingeben:\n", "0\n")) << console.tail();
  ASSERT_TRUE(console.expect("Seit 10 s kein Messwert: Kalibrierung abgebrochen.\n Beliebige Taste...\n\n", 20s))
      << console.tail();
  console.send(" ");
  EXPECT_EQ(commands(sim, 4), (Strings{"0C 01", "0C 02", "0C 03", "0C 04"}));
  ASSERT_TRUE(console.expect("W1: 0.00000 W2: 0.00000 W3: 0.00000 W4: 0.00000\n")) << console.tail();
}

TEST_F(Calibration, GivesUpWhenNoValueCameForTenSeconds) {
  console.send("x");
  ASSERT_NO_FATAL_FAILURE(ends_with("xKolmstopTX: 0\n"));
  console.send("k");
  ASSERT_TRUE(console.answer("kEntlasten, dann Kanal (1..4) eingeben:\n", "1\n")) << console.tail();
  const Clock::time_point asked = Clock::now();
  ASSERT_TRUE(console.expect("Seit 10 s kein Messwert: Kalibrierung abgebrochen.\n Beliebige Taste...\n\n", 20s))
      << console.tail();
  EXPECT_GE(console.matched_at() - asked, 9900ms);
  EXPECT_EQ(console.output().find("Prueflast"), std::string::npos);
  console.send(" ");
  console.send("y");
  ASSERT_NO_FATAL_FAILURE(ends_with("yKolmstartTX: 0\n"));
  ASSERT_TRUE(console.expect("W1: ")) << console.tail();
}

// kolmsim runs the console, with a steady signal and a load step that SIGUSR1 puts on once the console asks
// for the test load; kolmsim says so before the first value that carries it.
TEST(CalibrationOnKolmsim, TheLoadStepOfTheToolReadsFiftyWithTheOfferedNorm) {
  constexpr int load = 3121;
  ConsoleSession console(testing_support::port_dir(),
                         {KOLMSIM_TOOL_PATH, "--com", "7", "--sine", "all:0:0", "--noise", "all:2", "--load",
                          "1:" + std::to_string(load), "--", KOLMCONSOLE_PATH});
  ASSERT_TRUE(console.answer("ComNr. eingeben: \n", "7\n")) << console.tail();
  ASSERT_TRUE(console.answer("Baudrate eingeben: \n", "115200\n")) << console.tail();
  ASSERT_TRUE(console.expect("FW-Version: ")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(finish_with_pause(console));
  ASSERT_TRUE(console.expect("W1: ")) << console.tail();

  console.send("k");
  ASSERT_TRUE(console.answer("kEntlasten, dann Kanal (1..4) eingeben:\n", "1\n")) << console.tail();
  ASSERT_TRUE(console.expect("Prueflast von 50 g auflegen, Taste druecken...\n")) << console.tail();
  ::kill(console.pid(), SIGUSR1);
  ASSERT_TRUE(console.answer("kolmsim: load on\n", "x\n")) << console.tail();
  ASSERT_TRUE(console.answer(". Diesen Wert setzen? (j / n): \n", "j\n")) << console.tail();
  const std::string out = console.output();
  const double norm = std::strtod(out.c_str() + out.rfind("Neue Normierung: ") + 17, nullptr);
  // Noise of 2 counts either way moves each mean by 2 counts at most.
  const double expected = 50 / (load * 1.05 / 32767.5);
  EXPECT_NEAR(norm, expected, expected * 4 / load) << console.tail();
  ASSERT_NO_FATAL_FAILURE(finish_with_pause(console));

  // The display shows the load as about 50 until SIGUSR2 takes it off.
  const auto shows_channel_1 = [&](double low, double high) {
    return testing_support::eventually([&] {
      const std::string rest = console.unmatched();
      const std::size_t line = rest.rfind("W1: ");
      if (line == std::string::npos) return false;
      const double value = std::strtod(rest.c_str() + line + 4, nullptr);
      return value > low && value < high;
    });
  };
  EXPECT_TRUE(shows_channel_1(49, 51)) << console.tail();
  ::kill(console.pid(), SIGUSR2);
  ASSERT_TRUE(console.expect("kolmsim: load off\n")) << console.tail();
  EXPECT_TRUE(shows_channel_1(-1, 1)) << console.tail();

  console.send("q");
  ASSERT_NO_FATAL_FAILURE(finish_with_pause(console));
  const std::optional<Ending> ending = console.wait_exit();
  ASSERT_TRUE(ending && ending->exited) << console.tail();
  EXPECT_EQ(ending->status, 0);
}

}  // namespace
}  // namespace console_testing
