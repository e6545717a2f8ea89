// Parsing of the kolmsim command line.
#include "tool_options.h"

#include <cerrno>
#include <cstdlib>

namespace kolmsim::tool {
namespace {

// Whole-string number in decimal, or hexadecimal with 0x, within [low, high].
std::optional<long> number(const std::string& text, long low, long high) {
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || value < low || value > high) return std::nullopt;
  return value;
}

}  // namespace

std::string usage() {
  return "Usage: kolmsim [OPTIONS] [-- COMMAND [ARGS...]]\n"
         "\n"
         "Simulates a four-channel measuring amplifier on a pseudo-terminal and links it as\n"
         "DIR/com<N>, where the library finds it when PEKOLM_PORT_DIR=DIR.\n"
         "Without COMMAND it serves until SIGINT or SIGTERM. With COMMAND it runs it with\n"
         "PEKOLM_PORT_DIR set, serves while it runs and exits with its status (128+signal\n"
         "if it was killed); Ctrl-C then goes to COMMAND only.\n"
         "\n"
         "Options:\n"
         "  --com N             port number to link as (1..255, default 1)\n"
         "  --port-dir DIR      directory for the link (created if missing; default: a new\n"
         "                      directory /tmp/kolmsim.XXXXXX, removed at the end)\n"
         "  --firmware V        firmware version the amplifier reports (0..255, default 12)\n"
         "  --rate-code 0xNN    initial data rate code (0x93..0xAF, default 0xA8 = 25 Hz)\n"
         "  --not-transmitting  start with the measured-value stream off\n"
         "  --mode M            initial operating mode (0..255, default 1)\n"
         "  --quiet             do not print where the amplifier is\n"
         "  --help              show this text and exit\n"
         "  --version           show the version and exit\n"
         "\n"
         "See kolmsim(1).\n";
}

ParseResult parse_arguments(const std::vector<std::string>& args) {
  ToolOptions o;
  auto fail = [](std::string message) { return ParseResult{std::nullopt, std::move(message)}; };

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    if (name == "--") {
      o.command.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      if (o.command.empty()) return fail("'--' must be followed by a command");
      break;
    }
    std::optional<std::string> inline_value;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      inline_value = name.substr(eq + 1);
      name.resize(eq);
    }
    auto flag = [&]() -> bool {
      return !inline_value;  // a flag takes no value
    };
    auto value = [&]() -> std::optional<std::string> {
      if (inline_value) return inline_value;
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };

    if (name == "--help" || name == "-h") {
      if (!flag()) return fail("option '" + name + "' takes no value");
      o.help = true;
    } else if (name == "--version") {
      if (!flag()) return fail("option '" + name + "' takes no value");
      o.version = true;
    } else if (name == "--quiet") {
      if (!flag()) return fail("option '" + name + "' takes no value");
      o.quiet = true;
    } else if (name == "--not-transmitting") {
      if (!flag()) return fail("option '" + name + "' takes no value");
      o.simulator.transmitting = false;
      o.simulator.tx_mode &= static_cast<std::uint8_t>(~0x02);
    } else if (name == "--com" || name == "--firmware" || name == "--rate-code" || name == "--mode" ||
               name == "--port-dir") {
      const auto text = value();
      if (!text) return fail("option '" + name + "' needs a value");
      if (name == "--port-dir") {
        if (text->empty()) return fail("option '--port-dir' needs a directory");
        o.port_dir = *text;
        continue;
      }
      const long low = name == "--com" ? 1 : name == "--rate-code" ? 0x93 : 0;
      const long high = name == "--com" ? 255 : name == "--rate-code" ? 0xAF : 255;
      const auto n = number(*text, low, high);
      if (!n) return fail("bad value '" + *text + "' for option '" + name + "'");
      if (name == "--com") o.com = static_cast<int>(*n);
      if (name == "--firmware") o.simulator.firmware_version = static_cast<std::uint8_t>(*n);
      if (name == "--rate-code") o.simulator.rate_code = static_cast<std::uint8_t>(*n);
      if (name == "--mode") o.simulator.mode = static_cast<std::uint8_t>(*n);
    } else if (args[i].rfind('-', 0) != 0) {
      return fail("unexpected argument '" + args[i] + "' (a command goes after '--')");
    } else {
      return fail("unknown option '" + args[i] + "'");
    }
  }
  return ParseResult{o, {}};
}

}  // namespace kolmsim::tool
