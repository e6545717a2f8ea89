// The display loop and key dispatch.
#include "display_loop.h"

#include <cstdio>

#include "commands.h"
#include "dialog.h"
#include "pekolm.h"
#include "recording.h"

namespace kolmconsole {

namespace {

// A receive error (a broken frame, the device gone) stops the display until the user has seen it; the
// values of the failing read are dropped.
void report_receive_error(Console& console) {
  tone(300, 1000);
  std::printf("Error! GetlastError: %i\nBeliebige Taste...", KolmgetLastError(console.port));
  console.terminal.read_key(false);
  std::fflush(stdout);
  console.terminal.discard_pending_input();
}

}  // namespace

void run_display_loop(Console& console) {
  do {
    pause_ms(1);
    const int result = KolmreadMultiple(console.port, 0, console.block, Console::block_values, &console.block_count);
    if (result == 1) {
      show_block(console, console.block, console.block_count);
    } else if (result == -1) {
      report_receive_error(console);
    }
    if (console.terminal.key_pending()) {
      console.last_key = console.terminal.read_key(true);
      if (console.last_key == -1) break;  // the terminal went away instead of giving the key
      if (Command command = command_for_key(console.last_key)) command(console);
      any_key_pause(console);
    }
    // A script that ends without q, or a terminal that hangs up, ends the console as q would, rather than
    // leave it running for ever on a port nobody can use.
    if (console.terminal.input_exhausted()) break;
  } while (console.last_key != 'q');
}

}  // namespace kolmconsole
