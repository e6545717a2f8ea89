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
  std::snprintf(line, sizeof line, "W1: %.5lf W2: %.5lf W3: %.5lf W4: %.5lf\n", display[0], display[1], display[2],
                display[3]);
  return line;
}

namespace {

// What each input type code stands for; 5 has no name of its own, and 7 reads as 3.
const char* input_type_label(int type) {
  switch (type) {
    case 1:
      return "Bridge-input of 2mV/V";
    case 2:
      return "Bridge-input of 10mV/V";
    case 3:
    case 7:
      return "Voltage-input. Range: 0..5V";
    case 4:
      return "Temperature-input for PT1000";
    case 6:
      return "AinType_K";
    default:
      return nullptr;
  }
}

}  // namespace

std::string input_type_text(int channel, int type) {
  char text[96];
  if (const char* label = input_type_label(type)) {
    std::snprintf(text, sizeof text, "\nChannel %i has %s.", channel, label);
  } else {
    std::snprintf(text, sizeof text, "\nChannel %i unspecified. Enum: %i", channel, type);
  }
  return text;
}

}  // namespace kolmconsole
