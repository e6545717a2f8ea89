// Units and unit texts, digital inputs and outputs, single values, zero, and stopping and starting the
// transmission.
#include <gtest/gtest.h>

#include <thread>

#include "console_session.h"

namespace console_testing {
namespace {

constexpr int port = 12;
using Strings = std::vector<std::string>;

class UnitsAndIo : public ConsoleTest {
 protected:
  UnitsAndIo() : ConsoleTest(port, {.rate_code = 0xA4}) {}
  void SetUp() override {
    sim.set_channel_raw(1, 49152);
    for (int channel = 2; channel <= 4; ++channel) sim.set_channel_raw(channel, 32768);
    ASSERT_NO_FATAL_FAILURE(start());
  }
};

TEST_F(UnitsAndIo, UnitByNumberAndFreeUnitTextByWord) {
  console.send("u");
  ASSERT_TRUE(console.answer("ukanal (1..4): \n", "1\n")) << console.tail();
  ASSERT_TRUE(console.answer("KolmgetUnitText: 0Unittext: kg Aendern? (j) oder Text eingeben: (e): ", "j\n"))
      << console.tail();
  ASSERT_TRUE(console.answer("\nWert (num): ", "3\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("KolmsetUnit: 0"));
  EXPECT_EQ(commands(sim, 2), (Strings{"B5 01", "B4 01 03"}));

  sim.clear_commands();
  console.send("u");
  ASSERT_TRUE(console.answer("ukanal (1..4): \n", "1\n")) << console.tail();
  ASSERT_TRUE(console.answer("KolmgetUnitText: 0Unittext: N Aendern? (j) oder Text eingeben: (e): ", "e\n"))
      << console.tail();
  ASSERT_TRUE(console.answer("Text: ", "abc\n")) << console.tail();
  // The free text, whatever channel was asked about, and read back from the amplifier.
  ASSERT_NO_FATAL_FAILURE(ends_with("KolmsetUnitText: 0\nabc"));
  EXPECT_EQ(commands(sim, 3), (Strings{"B5 01", "BC 61 62 63 00 00", "BD"}));
}

TEST_F(UnitsAndIo, AnOverlongUnitTextIsCutAndRefusedAndItsRestIsNoAnswer) {
  console.send("u");
  ASSERT_TRUE(console.answer("ukanal (1..4): \n", "2\n")) << console.tail();
  ASSERT_TRUE(console.answer("(e): ", "e\n")) << console.tail();
  ASSERT_TRUE(console.answer("Text: ", "abcdefghijklmnopqrstuvwxyz0123456789\n")) << console.tail();
  // The amplifier's free text is still the five blanks it had.
  ASSERT_NO_FATAL_FAILURE(ends_with("KolmsetUnitText: -1\n     "));
  console.send("v");
  ASSERT_NO_FATAL_FAILURE(ends_with("vKolmgetValue: 0\n"));
  EXPECT_EQ(commands(sim, 3), (Strings{"B5 02", "BD", "3B"})) << "no unit text sent";

  // A refused channel leaves the text as it was; any answer but j or e ends the command.
  sim.clear_commands();
  console.send("u");
  ASSERT_TRUE(console.answer("ukanal (1..4): \n", "7\n")) << console.tail();
  ASSERT_TRUE(console.answer("KolmgetUnitText: -1Unittext:       Aendern? (j) oder Text eingeben: (e): ", "n\n"))
      << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with(""));
  EXPECT_EQ(commands(sim, 0), Strings{});
}

TEST_F(UnitsAndIo, DigitalLinesByTypeOrByValue) {
  console.send("d");
  ASSERT_TRUE(console.answer("dKolmgetDigitalIOvalue(0): 0\nTyp aendern? (t) oder Wert aendern (w) oder n: ", "t\n"))
      << console.tail();
  ASSERT_TRUE(console.answer("\nBitNo(0..8): ", "3\n")) << console.tail();
  ASSERT_TRUE(console.answer("\nKolmgetDigitalIOtype: 0\nDezimalwert: ", "5\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("\nKolmsetDigitalIOtype: 0\n KolmgetDigitalIOtype: 5\n"));
  const Strings sent = commands(sim, 4);
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[0], "B9");
  EXPECT_EQ(sent[1], "B7 03");
  EXPECT_EQ(sent[2].substr(0, 5), "B6 03") << "the library's code for type 5 follows";
  EXPECT_EQ(sent[3], "B7 03");

  sim.clear_commands();
  console.send("d");
  ASSERT_TRUE(console.answer("Typ aendern? (t) oder Wert aendern (w) oder n: ", "w\n")) << console.tail();
  ASSERT_TRUE(console.answer("\nBitNo(0..8): ", "2\n")) << console.tail();
  ASSERT_TRUE(console.answer("\nDezimalwert: ", "1\n")) << console.tail();
  ASSERT_TRUE(console.expect("\nKolmsetDigitalIOvalue: 0\n KolmgetDigitalIOvalue(0): ")) << console.tail();
  const int state = static_cast<std::int8_t>(sim.state().io_state);
  ASSERT_NO_FATAL_FAILURE(ends_with(std::to_string(state) + "\n"));
  EXPECT_EQ(commands(sim, 3), (Strings{"B9", "B8 02 01", "B9"}));

  sim.clear_commands();
  console.send("d");
  ASSERT_TRUE(console.answer("Typ aendern? (t) oder Wert aendern (w) oder n: ", "n\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with(""));
  EXPECT_EQ(commands(sim, 1), Strings{"B9"});
}

TEST_F(UnitsAndIo, StopZeroReadAndStartAgain) {
  console.send("r");
  ASSERT_TRUE(console.expect("rkanal (1..4): \n")) << console.tail();
  // The display loop takes every value; those that arrive while the dialog waits are there to read.
  std::this_thread::sleep_for(400ms);
  console.send("1\n");
  // The value as the library delivers it, not scaled, right after the result.
  ASSERT_NO_FATAL_FAILURE(ends_with("Kolmread: 1Wert: 0.525008\n"));

  console.send("x");
  ASSERT_NO_FATAL_FAILURE(ends_with("xKolmstopTX: 0\n"));
  console.send("z");
  ASSERT_TRUE(console.answer("zkanal (0..4): \n", "0\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("KolmsetZero: 0\nKolmclearDLLbuffer: 0\n"));
  EXPECT_EQ(commands(sim, 5), (Strings{"23", "0C 01", "0C 02", "0C 03", "0C 04"}));

  console.send("r");
  ASSERT_TRUE(console.answer("rkanal (1..4): \n", "1\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("Kolmread: 0Wert: 0\n"));
  console.send("r");
  ASSERT_TRUE(console.answer("rkanal (1..4): \n", "5\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("Kolmread: -1Wert: 0\n"));
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(console.unmatched().find("W1: "), std::string::npos) << "silent while stopped";

  console.send("y");
  ASSERT_NO_FATAL_FAILURE(ends_with("yKolmstartTX: 0\n"));
  // Zeroed: channel 1's fixed level now reads 0.
  ASSERT_TRUE(console.expect("W1: 0.00000 W2: 0.00000 W3: 0.00000 W4: 0.00000\n")) << console.tail();
}

}  // namespace
}  // namespace console_testing
