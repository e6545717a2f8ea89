// Parsing of the kolmscan command line.
#include "options.h"

#include <charconv>
#include <system_error>

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
  "set, else of /dev/pekolm. Beside each is its port number for the library, or\n" \
  "'-' for none: port n is $PEKOLM_PORT_DIR/com<n> when PEKOLM_PORT_DIR is set,\n" \
  "else the link /dev/pekolm/com<n> where it exists, else /dev/ttyS<n-1>.\n"
#endif

namespace kolmscan {

std::string usage() {
  return "Usage: kolmscan [--probe] [--json] [--device PATH]...\n"
         "       kolmscan --udev [--first N] [--device PATH]...\n"
         "\n" LISTING
         "\n"
         "Options:\n"
         "  --probe    ask every port whether an amplifier answers, at 115200, 230400,\n"
         "             57600, 38400, 19200 and 9600 baud in turn; the ports side by\n"
         "             side, a silent one takes about 40 s; a port that another\n"
         "             program has open is reported busy and left alone\n"
         "  --udev     probe, then write udev rules that link each amplifier on a USB\n"
         "             adapter as /dev/pekolm/com<n>, keyed on the adapter's serial\n"
         "             number (or its USB socket), for a user in the dialout group\n"
         "  --first N  the port number of the first amplifier in the rules (default 1)\n"
         "  --device PATH\n"
         "             only this device (repeat for more), listed or not\n"
         "  --json     write a JSON array of one object per port instead of the table\n"
         "  --help     show this text and exit\n"
         "  --version  show the version and exit\n"
         "\n"
         "Exit status: 0 listed, or with --probe at least one amplifier found; 1 --probe\n"
         "found none; 2 bad command line, or the output could not be written.\n"
         "\n"
         "See kolmscan(1).\n";
}

ParseResult parse_arguments(const std::vector<std::string>& args) {
  Options o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--probe") {
      o.probe = true;
    } else if (arg == "--udev") {
      o.udev = true;
      o.probe = true;
    } else if (arg == "--first") {
      int n = 0;
      const std::string text = i + 1 < args.size() ? args[++i] : "";
      const char* end = text.data() + text.size();
      if (auto [stop, error] = std::from_chars(text.data(), end, n);
          error != std::errc() || stop != end || n < 1 || n > 255) {
        return {std::nullopt, "bad port number '" + text + "' for '--first' (1..255)"};
      }
      o.first = n;
    } else if (arg == "--device") {
      if (i + 1 >= args.size() || args[i + 1].empty()) return {std::nullopt, "option '--device' needs a path"};
      o.devices.push_back(args[++i]);
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
  if (o.udev && o.json) return {std::nullopt, "'--udev' and '--json' exclude each other"};
  return {o, {}};
}

}  // namespace kolmscan
