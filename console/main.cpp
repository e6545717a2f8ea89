// kolmconsole: an interactive console that drives one amplifier through the pekolm library.
#include <cstdio>
#include <cstring>

#include "console.h"
#include "display_loop.h"
#include "pekolm.h"
#include "recording.h"
#include "standard_streams.h"
#include "startup.h"
#include "terminal.h"

// Where a port number leads differs between the systems.
#ifdef _WIN32
#define PORT_NAMES "Port n is \\\\.\\COM<n>.\n"
#else
#define PORT_NAMES                                                                           \
  "Port n is $PEKOLM_PORT_DIR/com<n> when PEKOLM_PORT_DIR is set, else /dev/pekolm/com<n>\n" \
  "where that link exists, else /dev/ttyS<n-1>.\n"
#endif

namespace {

constexpr const char* usage_text =
    "Usage: kolmconsole [--help | --version]\n"
    "\n"
    "Drives one four-channel measuring amplifier through the pekolm library. Asks for\n"
    "the port number (ComNr.) and the baud rate, shows what it learns about the\n"
    "amplifier, then scrolls the measured values of the four channels (W1..W4) while\n"
    "single keys run commands: a recording, c scale, d digital I/O, f data rate,\n"
    "g input type, k calibration, l load set, m mode, n norm, o offset, r read,\n"
    "s save set, t transmission mode, u unit, v value, w thresholds, x/y stop/start,\n"
    "z zero; q ends it. Without a terminal on standard input it reads the keys and\n"
    "answers from it, so that it can be scripted.\n"
    "\n" PORT_NAMES
    "Which ports have an amplifier, and at which baud rate: kolmscan --probe.\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "See kolmconsole(1).\n";

}  // namespace

int main(int argc, char** argv) {
  const int closed = reopen_closed_standard_streams();
  // Answered before the terminal is touched, so that they work from any shell or pipe.
  if (argc > 1) {
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
      std::fputs(usage_text, stdout);
      return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
      std::printf("kolmconsole %s\n", PEKOLM_RELEASE);
      return 0;
    }
    std::fprintf(stderr, "kolmconsole: unknown argument '%s'\nTry 'kolmconsole --help'.\n", argv[1]);
    return 2;
  }
  // Every prompt and value would go nowhere while the keys still drove the amplifier.
  if ((closed & standard_output_closed) != 0) {
    std::fputs("kolmconsole: standard output is closed; nothing could be shown\n", stderr);
    return 1;
  }
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
