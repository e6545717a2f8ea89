// kolmconsole: an interactive console that drives one amplifier through the pekolm library.
#include "console.h"
#include "display_loop.h"
#include "pekolm.h"
#include "recording.h"
#include "startup.h"
#include "terminal.h"

int main() {
  using namespace kolmconsole;
  Terminal terminal;
  Console console(terminal);
  if (start_up(console)) {
    run_display_loop(console);
    Kolmrelease(console.port);
    abandon_recording(console);
  }
  return 0;
}
