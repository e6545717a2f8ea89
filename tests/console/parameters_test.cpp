// The dialogs that pass settings to and from the library: every prompt and report, the bytes that reach
// the amplifier, and that only a lower-case j goes on.
#include <gtest/gtest.h>

#include <thread>

#include "console_session.h"

namespace console_testing {
namespace {

constexpr int port = 11;
using Strings = std::vector<std::string>;

class Parameters : public ConsoleTest {
 protected:
  Parameters() : ConsoleTest(port, {.rate_code = 0xA4}) {}  // 6.25 Hz keeps the display calm
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(start()); }
};

TEST_F(Parameters, ScaleIsReadBackHalfASecondAfterItWasSet) {
  console.send("c");
  ASSERT_TRUE(console.answer("c Kanal (1..4): \n", "2\n")) << console.tail();
  ASSERT_TRUE(console.answer(" Gain: \n", "3\n")) << console.tail();
  ASSERT_TRUE(console.answer("PeKolmgetScale: 0\nScale aendern? (j / n): ", "j\n")) << console.tail();
  ASSERT_TRUE(console.answer("\nNeue Scale (ganze Zahl): ", "0x123456\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("\nPeKolmsetScale: 0\nPeKolmgetScale: 1193046\n"));
  EXPECT_EQ(commands(sim, 3), (Strings{"89 02 03", "88 02 03 12 34 56", "89 02 03"}));
  const std::vector<kolmsim::CommandRecord> records = sim.commands();
  EXPECT_GE(records[2].at - records[1].at, 480ms);

  // Upper-case J is no.
  sim.clear_commands();
  console.send("c");
  ASSERT_TRUE(console.answer(" Kanal (1..4): \n", "2\n")) << console.tail();
  ASSERT_TRUE(console.answer(" Gain: \n", "3\n")) << console.tail();
  ASSERT_TRUE(console.answer("PeKolmgetScale: 1193046\nScale aendern? (j / n): ", "J\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with(""));
  EXPECT_EQ(commands(sim, 1), Strings{"89 02 03"});
}

TEST_F(Parameters, GainIsSetAndReadBackAndARefusedChannelShowsMinusOne) {
  console.send("g");
  ASSERT_TRUE(console.answer("g Kanal (1..4): \n", "3\n")) << console.tail();
  ASSERT_TRUE(console.answer("KolmgetGain: 1\nGain aendern? (j / n): ", "j\n")) << console.tail();
  ASSERT_TRUE(console.answer("\nNeue Gain: ", "4\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("\nKolmsetGain: 0\nKolmgetGain: 4\n"));
  EXPECT_EQ(commands(sim, 3), (Strings{"B3", "B2 03 04", "B3"}));
  EXPECT_EQ(sim.state().gains[2], 4);

  // The console checks no range: the library refuses, and the read-back follows all the same.
  sim.clear_commands();
  console.send("g");
  ASSERT_TRUE(console.answer(" Kanal (1..4): \n", "9\n")) << console.tail();
  ASSERT_TRUE(console.answer("KolmgetGain: -1\nGain aendern? (j / n): ", "j\n")) << console.tail();
  ASSERT_TRUE(console.answer("\nNeue Gain: ", "1\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("\nKolmsetGain: -1\nKolmgetGain: -1\n"));
  EXPECT_EQ(commands(sim, 0), Strings{});
}

TEST_F(Parameters, DataRateAndModeShowWhatIsInForceAfterwards) {
  console.send("f");
  ASSERT_TRUE(console.answer("fKolmreadFreq: 6.25\nFreq aendern? (j / n): ", "j\n")) << console.tail();
  ASSERT_TRUE(console.answer("\nNeue Freq: ", "2.5\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("\nKolmwriteFreq: 0\n KolmreadFreq: 2.5\n"));
  EXPECT_EQ(commands(sim, 3), (Strings{"16", "12 A2", "16"}));

  sim.clear_commands();
  console.send("m");
  ASSERT_TRUE(console.answer("mKolmgetMode: 1\nModus aendern? (j / n): ", "j\n")) << console.tail();
  ASSERT_TRUE(console.answer("\nNeuer Modus: ", "2\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("\nKolmsetMode: 0\nKolmgetMode: 2\n"));
  EXPECT_EQ(commands(sim, 3), (Strings{"27", "26 02 71 75 69 72 61 6E", "27"}));

  sim.clear_commands();
  console.send("f");
  ASSERT_TRUE(console.answer("Freq aendern? (j / n): ", "n\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with(""));
  console.send("m");
  ASSERT_TRUE(console.answer("Modus aendern? (j / n): ", "x\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with(""));
  EXPECT_EQ(commands(sim, 2), (Strings{"16", "27"}));
}

TEST_F(Parameters, ParameterSetsAreLoadedAndSaved) {
  console.send("l");
  ASSERT_TRUE(console.answer("lSatz-No (1..3): \n", "2\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("KolmgetAll: 0\n"));
  console.send("s");
  ASSERT_TRUE(console.answer("sSatz-No (1..3): \n", "3\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("KolmsaveAll: 0\n"));
  console.send("s");
  ASSERT_TRUE(console.answer("sSatz-No (1..3): \n", "4\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("KolmsaveAll: -1\n"));
  EXPECT_EQ(commands(sim, 2), (Strings{"0A 02", "09 03"}));
}

TEST_F(Parameters, TransmissionModeIsChangedOnlyOnJ) {
  console.send("t");
  ASSERT_TRUE(console.answer("tKolmgetTXmode: 2 Aendern?: ", "j\n")) << console.tail();
  ASSERT_TRUE(console.answer("\nWert: ", "0x03\n")) << console.tail();
  // The result ends no line: the pause text follows on it.
  ASSERT_NO_FATAL_FAILURE(ends_with("KolmsetTXmode: 0"));
  console.send("t");
  ASSERT_TRUE(console.answer("tKolmgetTXmode: 3 Aendern?: ", "n\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with(""));
  EXPECT_EQ(commands(sim, 3), (Strings{"29", "28 03", "29"}));
}

TEST_F(Parameters, ThresholdsAreWrittenAsUpperAndLowerLevelWithoutReadBack) {
  console.send("w");
  ASSERT_TRUE(console.answer("wSchwellwertnummer (1..8): \n", "2\n")) << console.tail();
  ASSERT_TRUE(console.answer("KolmreadThreshold: 0Erg On: 0 Erg.Off: 0\nAendern? (j / n): ", "j\n")) << console.tail();
  ASSERT_TRUE(console.answer("\nOberer Wert: ", "0.5\n")) << console.tail();
  ASSERT_TRUE(console.answer("\nUnterer Wert: ", "0.25\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("KolmwriteThreshold: 0"));
  // Threshold 2 is registers 3 (on) and 4 (off).
  EXPECT_EQ(commands(sim, 4), (Strings{"21 03", "21 04", "20 03 BC F4", "20 04 9E 7A"}));

  sim.clear_commands();
  console.send("w");
  ASSERT_TRUE(console.answer("wSchwellwertnummer (1..8): \n", "2\n")) << console.tail();
  // The levels as the amplifier keeps them, in 16-bit steps.
  ASSERT_TRUE(console.answer("KolmreadThreshold: 0Erg On: 0.500014 Erg.Off: 0.250007\nAendern? (j / n): ", "n\n"))
      << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with(""));
  EXPECT_EQ(commands(sim, 2), (Strings{"21 03", "21 04"}));
}

TEST_F(Parameters, ValueQueryAsksForOneValue) {
  console.send("v");
  ASSERT_NO_FATAL_FAILURE(ends_with("vKolmgetValue: 0\n"));
  EXPECT_EQ(commands(sim, 1), Strings{"3B"});
}

}  // namespace
}  // namespace console_testing
