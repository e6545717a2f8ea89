// The console program's state for one run, shared by start-up, the display loop and the commands.
#pragma once

#include <cstdio>
#include <ctime>

#include "norm_math.h"
#include "terminal.h"

namespace kolmconsole {

// A noise recording into "Daten.txt".
struct Recording {
  bool running = false;
  std::FILE* file = nullptr;
  // Calendar second at which a timed recording ends; 0 for a recording without limit.
  std::time_t end_time = 0;
};

struct Console {
  explicit Console(Terminal& terminal_in) : terminal(terminal_in) {}

  Terminal& terminal;  // every key and typed answer comes through here
  int port = 0;        // passed to the library unchecked; it accepts 1..255
  int baud = 0;
  int last_key = 0;
  double norms[4] = {};  // display norm of channels 1..4 as last read from the amplifier
  Extremes extremes;
  Recording recording;
  // Up to 100 samples of four channels per read keeps the display loop's passes short.
  static constexpr int block_values = 400;
  double block[block_values] = {};
  int block_count = 0;
  // Serial number (8 + 1), unit texts (5 + 1) and a typed unit text share these 12 bytes; they always hold
  // a terminated text.
  char text[12] = {};
};

// The norm table entry of a channel, or null for a channel the table does not have.
inline double* norm_entry(Console& console, int channel) {
  return channel >= 1 && channel <= 4 ? &console.norms[channel - 1] : nullptr;
}

}  // namespace kolmconsole
