// Texts for samples and input types; see display_text.h.
#include "display_text.h"

#include <cstdio>

namespace kolmconsole {

void to_display_units(const double normalised[4], const double norms[4], double display[4]) {
  for (int i = 0; i < 4; ++i) display[i] = normalised[i] * norms[i];
}

std::string sample_line(const double display[4]) {
  // Wide enough for the largest double in fixed notation (309 digits) four times over.
  char line[1400];
  std::snprintf(line, sizeof line, "W1: %.5lf W2: %.5lf W3: %.5lf W4: %.5lf\n", display[0], display[1],
                display[2], display[3]);
  return line;
}

std::string input_type_text(int channel, int type) {
  char text[96];
  switch (type) {
    case 1:
      std::snprintf(text, sizeof text, "\nChannel %i has Bridge-input of 2mV/V.", channel);
      break;
    case 2:
      std::snprintf(text, sizeof text, "\nChannel %i has Bridge-input of 10mV/V.", channel);
      break;
    case 3:
    case 7:
      std::snprintf(text, sizeof text, "\nChannel %i has Voltage-input. Range: 0..5V.", channel);
      break;
    case 4:
      std::snprintf(text, sizeof text, "\nChannel %i has Temperature-input for PT1000.", channel);
      break;
    case 6:
      std::snprintf(text, sizeof text, "\nChannel %i has AinType_K.", channel);
      break;
    default:  // 5 has no name of its own
      std::snprintf(text, sizeof text, "\nChannel %i unspecified. Enum: %i", channel, type);
      break;
  }
  return text;
}

}  // namespace kolmconsole
