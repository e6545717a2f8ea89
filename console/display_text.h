// The texts the console prints for measured samples and input types, built without printing them.
#pragma once

#include <string>

namespace kolmconsole {

// A sample in display units: each channel's normalised value times that channel's norm.
void to_display_units(const double normalised[4], const double norms[4], double display[4]);

// The display line of one sample, five decimals per channel.
std::string sample_line(const double display[4]);

// The start-up line of one channel's input type; it begins with a line end and has none at its end.
std::string input_type_text(int channel, int type);

}  // namespace kolmconsole
