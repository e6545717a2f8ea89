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
void report_receive_error(Console& console, int code) {
  tone(300, 1000);
  std::printf("Error! GetlastError: %i\nBeliebige Taste...", code);
  console.terminal.read_key(false);
  std::fflush(stdout);
  console.terminal.discard_pending_input();
}

}  // namespace

void run_display_loop(Console& console) {
  // A device that has gone fails every read with the same code until release. Told once, it leaves the
  // keys to the loop again, q among them; a damaged frame between good reads is told each time.
  bool failing = false;  // the last read failed, with this code
  int failing_code = 0;
  do {
    pause_ms(1);
    const int result = KolmreadMultiple(console.port, 0, console.block, Console::block_values, &console.block_count);
    if (result == -1) {
      const int code = KolmgetLastError(console.port);
      if (!failing || code != failing_code) report_receive_error(console, code);
      failing = true;
      failing_code = code;
    } else {
      failing = false;
      if (result == 1) show_block(console, console.block, console.block_count);
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
