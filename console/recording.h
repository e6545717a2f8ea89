// Showing the samples of the display loop, and the noise recording that tracks them.
#pragma once

#include "console.h"

namespace kolmconsole {

// Prints each whole sample of a block in display units and, while a recording runs, tracks it; a timed
// recording ends with the first block taken at or after its end time, all of whose samples count.
void show_block(Console& console, const double* values, int count);

// Ends a running recording without writing anything (stopped by the user, or the program ends).
void abandon_recording(Console& console);

}  // namespace kolmconsole
