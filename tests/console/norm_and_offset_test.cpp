// Display norm and offset in display units: the norm table follows every set, and a channel outside 1..4
// is passed to the library but never touches the table.
#include <gtest/gtest.h>

#include "console_session.h"

namespace console_testing {
namespace {

constexpr int port = 13;
using Strings = std::vector<std::string>;

class NormAndOffset : public ConsoleTest {
 protected:
  NormAndOffset() : ConsoleTest(port, {.rate_code = 0xA4}) {}
  void SetUp() override {
    // Distinct fixed levels, so that a norm landing on the wrong channel shows.
    const std::uint16_t raw[4] = {40960, 49152, 57344, 65535};
    for (int channel = 1; channel <= 4; ++channel) sim.set_channel_raw(channel, raw[channel - 1]);
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_TRUE(console.expect("W1: 0.26250 W2: 0.52501 W3: 0.78751 W4: 1.04998\n")) << console.tail();
  }
  // The next display line to arrive after the dialog.
  void shows(const std::string& line) {
    ASSERT_TRUE(console.expect("\nW1: ")) << console.tail();
    ASSERT_TRUE(console.expect(line.substr(4))) << console.tail();
  }
};

TEST_F(NormAndOffset, ANewNormScalesItsChannelFromTheNextSampleOn) {
  console.send("n");
  ASSERT_TRUE(console.answer("n Kanal (1..4): \n", "2\n")) << console.tail();
  ASSERT_TRUE(console.answer("KolmDispGetNorm: 1\nNorm aendern? (j / n): ", "j\n")) << console.tail();
  ASSERT_TRUE(console.answer("\nNeue Norm: ", "4\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("\nKolmDispSetNorm: 0\n KolmDispGetNorm: 4\n"));
  EXPECT_EQ(commands(sim, 3), (Strings{"BB 02", "BA 02 40 80 00 00", "BB 02"}));
  ASSERT_NO_FATAL_FAILURE(shows("W1: 0.26250 W2: 2.10003 W3: 0.78751 W4: 1.04998\n"));

  // A refused norm: the table takes what the amplifier still holds.
  console.send("n");
  ASSERT_TRUE(console.answer("n Kanal (1..4): \n", "2\n")) << console.tail();
  ASSERT_TRUE(console.answer("KolmDispGetNorm: 4\nNorm aendern? (j / n): ", "j\n")) << console.tail();
  ASSERT_TRUE(console.answer("\nNeue Norm: ", "0\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("\nKolmDispSetNorm: -1\n KolmDispGetNorm: 4\n"));
  console.send("n");
  ASSERT_TRUE(console.answer("n Kanal (1..4): \n", "2\n")) << console.tail();
  ASSERT_TRUE(console.answer("Norm aendern? (j / n): ", "J\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with(""));
  ASSERT_NO_FATAL_FAILURE(shows("W1: 0.26250 W2: 2.10003 W3: 0.78751 W4: 1.04998\n"));
}

TEST_F(NormAndOffset, ANormForAChannelOutsideTheTableIsPassedOnButNotStored) {
  for (const char* channel : {"0\n", "5\n", "-1\n"}) {
    console.send("n");
    ASSERT_TRUE(console.answer("n Kanal (1..4): \n", channel)) << console.tail();
    ASSERT_TRUE(console.answer("KolmDispGetNorm: -1\nNorm aendern? (j / n): ", "j\n")) << console.tail();
    ASSERT_TRUE(console.answer("\nNeue Norm: ", "3\n")) << console.tail();
    ASSERT_NO_FATAL_FAILURE(ends_with("\nKolmDispSetNorm: -1\n KolmDispGetNorm: -1\n"));
  }
  EXPECT_EQ(commands(sim, 0), Strings{});
  ASSERT_NO_FATAL_FAILURE(shows("W1: 0.26250 W2: 0.52501 W3: 0.78751 W4: 1.04998\n"));
}

TEST_F(NormAndOffset, OffsetsAreShownAndTypedInDisplayUnits) {
  console.send("o");
  ASSERT_TRUE(console.answer("o Kanal (1..4): \n", "1\n")) << console.tail();
  ASSERT_TRUE(
      console.answer("KolmgetGain: 1\nKolmreadOffset: 8388608\nOffset normiert: 0\nOffset aendern? (j / n): ", "j\n"))
      << console.tail();
  ASSERT_TRUE(console.answer("\nNeuer Offset (normiert): ", "0.5\n")) << console.tail();
  // 0.5 normalised is 3994575.2 counts above the centre, truncated.
  ASSERT_NO_FATAL_FAILURE(ends_with("\nKolmwriteOffset(12383183): 0\nKolmreadOffset: 12383183\n"));
  EXPECT_EQ(commands(sim, 4), (Strings{"B3", "0D 01 01", "0B 01 01 BC F3 CF", "0D 01 01"}));

  // Through the channel's norm, both ways; typing 0 writes the centre.
  set_norm(sim, 3, 4.0f);
  sim.update_state([](kolmsim::AmplifierState& state) {
    state.gains[2] = 2;
    state.offsets[2][2] = 8388608 + 7989150;
  });
  console.send("n");
  ASSERT_TRUE(console.answer("n Kanal (1..4): \n", "3\n")) << console.tail();
  ASSERT_TRUE(console.answer("KolmDispGetNorm: 4\nNorm aendern? (j / n): ", "j\n")) << console.tail();
  ASSERT_TRUE(console.answer("\nNeue Norm: ", "4\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with(" KolmDispGetNorm: 4\n"));
  sim.clear_commands();
  console.send("o");
  ASSERT_TRUE(console.answer("o Kanal (1..4): \n", "3\n")) << console.tail();
  ASSERT_TRUE(
      console.answer("KolmgetGain: 2\nKolmreadOffset: 16377758\nOffset normiert: 4\nOffset aendern? (j / n): ", "j\n"))
      << console.tail();
  ASSERT_TRUE(console.answer("\nNeuer Offset (normiert): ", "0\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("\nKolmwriteOffset(8388608): 0\nKolmreadOffset: 8388608\n"));
  EXPECT_EQ(commands(sim, 4), (Strings{"B3", "0D 03 02", "0B 03 02 80 00 00", "0D 03 02"}));

  sim.clear_commands();
  console.send("o");
  ASSERT_TRUE(console.answer("o Kanal (1..4): \n", "1\n")) << console.tail();
  ASSERT_TRUE(console.answer("Offset aendern? (j / n): ", "n\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with(""));
  EXPECT_EQ(commands(sim, 2), (Strings{"B3", "0D 01 01"}));
}

TEST_F(NormAndOffset, AnOffsetForAChannelOutsideTheTableHasNoDisplayValue) {
  console.send("o");
  ASSERT_TRUE(console.answer("o Kanal (1..4): \n", "6\n")) << console.tail();
  ASSERT_TRUE(
      console.answer("KolmgetGain: -1\nKolmreadOffset: -1\nOffset normiert: nan\nOffset aendern? (j / n): ", "j\n"))
      << console.tail();
  ASSERT_TRUE(console.answer("\nNeuer Offset (normiert): ", "1.5\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with("\nKolmwriteOffset(8388608): -1\nKolmreadOffset: -1\n"));
  EXPECT_EQ(commands(sim, 0), Strings{});
}

}  // namespace
}  // namespace console_testing
