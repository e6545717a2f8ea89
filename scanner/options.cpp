// Parsing of the kolmscan command line.
#include "options.h"

// Where the system lists its ports, and where a port number leads, differ between the systems.
#ifdef _WIN32
#define LISTING                                                                        \
  "Lists the serial ports that the registry names (HARDWARE\\DEVICEMAP\\SERIALCOMM)\n" \
  "with their device objects. Beside each is its port number for the library:\n"       \
  "port n is \\\\.\\COM<n>.\n"
#else
#define LISTING                                                                    \
  "Lists the serial ports of the system with what the system knows of each: the\n" \
  "driver, for USB adapters the vendor and product ids, manufacturer, product,\n"  \
  "serial number and USB path, and the names under /dev/serial/by-id and\n"        \
  "/dev/serial/by-path; then the com<n> entries of PEKOLM_PORT_DIR when that is\n" \
  "set. Beside each is its port number for the library, or '-' for none: port n\n" \
  "is $PEKOLM_PORT_DIR/com<n> when PEKOLM_PORT_DIR is set, else /dev/ttyS<n-1>.\n"
#endif

namespace kolmscan {

std::string usage() {
  return "Usage: kolmscan [--probe] [--json]\n"
         "\n" LISTING
         "\n"
         "Options:\n"
         "  --probe    ask each numbered port, all at once, whether an amplifier answers,\n"
         "             at 115200, 230400, 57600, 38400, 19200 and 9600 baud in turn; a\n"
         "             silent port takes about 40 s\n"
         "  --json     write a JSON array of one object per port instead of the table\n"
         "  --help     show this text and exit\n"
         "  --version  show the version and exit\n"
         "\n"
         "Exit status: 0 listed, or with --probe at least one amplifier found; 1 --probe\n"
         "found none; 2 bad command line.\n"
         "\n"
         "See kolmscan(1).\n";
}

ParseResult parse_arguments(const std::vector<std::string>& args) {
  Options o;
  for (const std::string& arg : args) {
    if (arg == "--probe") {
      o.probe = true;
    } else if (arg == "--json") {
      o.json = true;
    } else if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "--version") {
      o.version = true;
    } else if (arg.rfind('-', 0) == 0 && arg != "-") {
      return {std::nullopt, "unknown option '" + arg + "'"};
    } else {
      return {std::nullopt, "unexpected argument '" + arg + "'"};
    }
  }
  return {o, {}};
}

}  // namespace kolmscan
