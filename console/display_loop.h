// The display loop: prints the samples as they arrive and runs the command of each key pressed.
#pragma once

#include "console.h"

namespace kolmconsole {

// Runs until a pass in which q was pressed has finished, or no key can come any more (the input ended or
// the terminal hung up).
void run_display_loop(Console& console);

}  // namespace kolmconsole
