// The display line and the input type texts, character for character.
#include "display_text.h"

#include <gtest/gtest.h>

#include <limits>

namespace kolmconsole {
namespace {

TEST(SampleLine, ShowsEachChannelInDisplayUnitsWithFiveDecimals) {
  const double normalised[4] = {0.525008011, 0.0, 1.0499839780, -1.0500160219};
  const double norms[4] = {2.5, 100.0, 1.0, -1.0};
  double display[4];
  to_display_units(normalised, norms, display);
  EXPECT_EQ(sample_line(display), "W1: 1.31252 W2: 0.00000 W3: 1.04998 W4: 1.05002\n");
}

TEST(SampleLine, HugeAndUndefinedValuesStayOnOneLine) {
  const double display[4] = {3.4e38, -std::numeric_limits<double>::max(), std::numeric_limits<double>::infinity(),
                             -1e-9};
  const std::string line = sample_line(display);
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  EXPECT_NE(line.find(" W3: inf W4: -0.00000\n"), std::string::npos) << line;
  EXPECT_EQ(line.rfind("W1: 339999999999999996123846586046231871488.00000 W2: -1797693", 0), 0u) << line;
}

// Types 2, 5, 6 and 7 and the failed read are checked on the running console.
TEST(InputTypeText, NamesTheRemainingTypesAndNumbersTheUnknown) {
  EXPECT_EQ(input_type_text(1, 1), "\nChannel 1 has Bridge-input of 2mV/V.");
  EXPECT_EQ(input_type_text(3, 3), "\nChannel 3 has Voltage-input. Range: 0..5V.");
  EXPECT_EQ(input_type_text(4, 4), "\nChannel 4 has Temperature-input for PT1000.");
  EXPECT_EQ(input_type_text(3, 8), "\nChannel 3 unspecified. Enum: 8");
  EXPECT_EQ(input_type_text(4, -1), "\nChannel 4 unspecified. Enum: -1");
}

}  // namespace
}  // namespace kolmconsole
