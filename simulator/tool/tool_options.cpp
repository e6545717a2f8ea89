// Parsing of the kolmsim command line.
#include "tool_options.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <system_error>

namespace kolmsim::tool {
namespace {

// Whole-string number in decimal, or hexadecimal with 0x, within [low, high]. No white space and no '+'
// around it, and a leading 0 is a decimal digit: strtol would take " 3" and read "010" as octal 8.
std::optional<long> number(const std::string& text, long low, long high) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* begin = text.data() + (hex ? 2 : 0);
  const char* end = text.data() + text.size();
  long value = 0;
  const auto [stop, error] = std::from_chars(begin, end, value, hex ? 16 : 10);
  if (begin == end || (hex && *begin == '-') || error != std::errc() || stop != end || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

// Whole-string decimal fraction within [low, high], as strictly as number().
std::optional<double> real(const std::string& text, double low, double high) {
  const char* end = text.data() + text.size();
  double value = 0;
  const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::general);
  if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value) || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

// "CH:VALUE[:VALUE...]", CH 1..4 or "all": the channels it names (0-based) and the values.
struct PerChannel {
  std::vector<int> channels;
  std::vector<std::string> values;
};

std::optional<PerChannel> per_channel(const std::string& text, std::size_t value_count) {
  std::vector<std::string> parts = split(text, ':');
  if (parts.size() != value_count + 1) return std::nullopt;
  PerChannel result;
  if (parts[0] == "all") {
    result.channels = {0, 1, 2, 3};
  } else if (const auto channel = number(parts[0], 1, 4)) {
    result.channels = {static_cast<int>(*channel) - 1};
  } else {
    return std::nullopt;
  }
  result.values.assign(parts.begin() + 1, parts.end());
  return result;
}

// A per-channel option with one whole number of counts in [low, high], stored by `store`.
template <typename Store>
bool counts_option(const std::string& text, long low, long high, Store store) {
  const auto arg = per_channel(text, 1);
  const auto counts = arg ? number(arg->values[0], low, high) : std::nullopt;
  if (!counts) return false;
  for (const int ch : arg->channels) store(ch, static_cast<int>(*counts));
  return true;
}

bool sine_option(ToolOptions& o, const std::string& text) {
  const auto arg = per_channel(text, 2);
  if (!arg) return false;
  const auto amplitude = number(arg->values[0], 0, 32768);
  const auto hz = real(arg->values[1], 0, 5000);  // beyond what the fastest data rate can show
  if (!amplitude || !hz) return false;
  for (const int ch : arg->channels) {
    o.signals[ch].amplitude = static_cast<int>(*amplitude);
    o.signals[ch].frequency = *hz;
  }
  return true;
}

bool load_at_option(ToolOptions& o, const std::string& text) {
  o.load_at.clear();  // a later --load-at replaces the schedule rather than merging into it
  double previous = -1;
  for (const std::string& part : split(text, ',')) {
    const auto seconds = real(part, 0, 1e6);
    if (!seconds || *seconds <= previous) return false;
    previous = *seconds;
    o.load_at.push_back(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*seconds)));
  }
  return true;
}

// The options that shape the channels' signals: name, the form of the value (for the error), parser.
struct SignalOption {
  const char* name;
  const char* form;
  bool (*parse)(ToolOptions&, const std::string&);
};

const SignalOption kSignalOptions[] = {
    {"--offset", "CH:COUNTS, CH 1..4 or all, COUNTS -32768..32767",
     [](ToolOptions& o, const std::string& t) {
       return counts_option(t, -32768, 32767, [&](int ch, int v) { o.signals[ch].offset = v; });
     }},
    {"--sine", "CH:AMPLITUDE:HZ, CH 1..4 or all, AMPLITUDE 0..32768, HZ 0..5000", sine_option},
    {"--noise", "CH:COUNTS, CH 1..4 or all, COUNTS 0..32768",
     [](ToolOptions& o, const std::string& t) {
       return counts_option(t, 0, 32768, [&](int ch, int v) { o.signals[ch].noise = v; });
     }},
    {"--load", "CH:COUNTS, CH 1..4 or all, COUNTS -65535..65535",
     [](ToolOptions& o, const std::string& t) {
       return counts_option(t, -65535, 65535, [&](int ch, int v) { o.loads[ch] = v; });
     }},
    {"--load-at", "SECONDS[,SECONDS...], increasing, each 0..1000000", load_at_option},
};

const SignalOption* signal_option(const std::string& name) {
  for (const SignalOption& option : kSignalOptions) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

}  // namespace

std::string usage() {
  return "Usage: kolmsim [OPTIONS] [-- COMMAND [ARGS...]]\n"
         "\n"
         "Simulates a four-channel measuring amplifier on a pseudo-terminal and links it as\n"
         "DIR/com<N>, where the library finds it when PEKOLM_PORT_DIR=DIR.\n"
         "Without COMMAND it serves until SIGINT, SIGTERM or SIGHUP. With COMMAND it runs\n"
         "it with PEKOLM_PORT_DIR set, serves while it runs and exits with its status\n"
         "(128+signal if it was killed); Ctrl-C then goes to COMMAND only, SIGTERM and\n"
         "SIGHUP are passed on to it.\n"
         "\n"
         "Options:\n"
         "  --com N             port number to link as (1..255, default 1); given again,\n"
         "                      one more amplifier on one more port\n"
         "  --port-dir DIR      directory for the link (created if missing; default: a new\n"
         "                      directory /tmp/kolmsim.XXXXXX, removed at the end)\n"
         "  --serial NUMBER     the serial number of the (first) amplifier, 8 digits\n"
         "                      (default 00012345); the next ports' count on from it\n"
         "  --firmware V        firmware version the amplifier reports (0..255, default 12)\n"
         "  --rate-code 0xNN    initial data rate code (0x93..0xAF, default 0xA8 = 25 Hz)\n"
         "  --not-transmitting  start with the measured-value stream off\n"
         "  --line-baud B       the amplifier's line runs at B baud (9600 .. 230400): a\n"
         "                      host at another rate is not understood and reads noise\n"
         "                      (default: any rate is right)\n"
         "  --mode M            initial operating mode (0..255, default 1)\n"
         "  --quiet             do not print where the amplifier is, nor load changes\n"
         "  --help              show this text and exit\n"
         "  --version           show the version and exit\n"
         "\n"
         "What the channels measure, in raw counts (32768 is zero, 31207 counts are 1.0\n"
         "normalised). CH is a channel 1..4 or 'all'; a later option overrides an earlier\n"
         "one. By default each channel plays a sine of 300 counts at 0.2 Hz with noise of\n"
         "up to 6 counts.\n"
         "  --offset CH:COUNTS  constant level relative to zero (-32768..32767, default 0)\n"
         "  --sine CH:AMPLITUDE:HZ\n"
         "                      sine of that peak (0..32768; 0: none) and frequency in Hz\n"
         "                      (0..5000)\n"
         "  --noise CH:COUNTS   uniform noise of up to COUNTS either way (0..32768)\n"
         "  --load CH:COUNTS    load step (-65535..65535), added while the load is on:\n"
         "                      SIGUSR1 to the kolmsim process puts it on, SIGUSR2 takes\n"
         "                      it off (with COMMAND kolmsim stays its parent and tells\n"
         "                      its pid)\n"
         "  --load-at SECONDS[,SECONDS...]\n"
         "                      also switch the load at these increasing times after\n"
         "                      kolmsim starts (a host's first value comes some 0.5 s\n"
         "                      later, after its activation): on at the 1st, off at the\n"
         "                      2nd, on at the 3rd, ...\n"
         "\n"
         "See kolmsim(1).\n";
}

ParseResult parse_arguments(const std::vector<std::string>& args) {
  ToolOptions o;
  bool com_given = false;  // the first --com replaces the default port
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
               name == "--port-dir" || name == "--serial" || name == "--line-baud") {
      const auto text = value();
      if (!text) return fail("option '" + name + "' needs a value");
      if (name == "--port-dir") {
        if (text->empty()) return fail("option '--port-dir' needs a directory");
        o.port_dir = *text;
        continue;
      }
      if (name == "--serial") {
        if (text->size() != 8 || text->find_first_not_of("0123456789") != std::string::npos) {
          return fail("bad value '" + *text + "' for option '--serial' (8 digits)");
        }
        o.serial = *text;
        continue;
      }
      if (name == "--line-baud") {
        const auto baud = number(*text, 0, 230400);
        constexpr long rates[] = {9600, 19200, 38400, 57600, 115200, 230400};
        if (!baud || std::find(std::begin(rates), std::end(rates), *baud) == std::end(rates)) {
          return fail("bad value '" + *text + "' for option '--line-baud' (9600, 19200, 38400, 57600, 115200, 230400)");
        }
        o.simulator.line_baud = static_cast<int>(*baud);
        continue;
      }
      const long low = name == "--com" ? 1 : name == "--rate-code" ? 0x93 : 0;
      const long high = name == "--com" ? 255 : name == "--rate-code" ? 0xAF : 255;
      const auto n = number(*text, low, high);
      if (!n) return fail("bad value '" + *text + "' for option '" + name + "'");
      if (name == "--com") {
        if (!com_given) o.coms.clear();
        com_given = true;
        if (std::find(o.coms.begin(), o.coms.end(), *n) != o.coms.end()) {
          return fail("port " + *text + " is given twice");
        }
        o.coms.push_back(static_cast<int>(*n));
      }
      if (name == "--firmware") o.simulator.firmware_version = static_cast<std::uint8_t>(*n);
      if (name == "--rate-code") o.simulator.rate_code = static_cast<std::uint8_t>(*n);
      if (name == "--mode") o.simulator.mode = static_cast<std::uint8_t>(*n);
    } else if (const SignalOption* option = signal_option(name)) {
      const auto text = value();
      if (!text) return fail("option '" + name + "' needs a value");
      if (!option->parse(o, *text)) {
        return fail("bad value '" + *text + "' for option '" + name + "' (" + option->form + ")");
      }
    } else if (args[i].rfind('-', 0) != 0) {
      return fail("unexpected argument '" + args[i] + "' (a command goes after '--')");
    } else {
      return fail("unknown option '" + args[i] + "'");
    }
  }
  if (!o.load_at.empty() && o.loads == std::array<int, 4>{}) {
    return fail("option '--load-at' has no load step to switch (see '--load')");
  }
  if (std::stoull(o.serial) + o.coms.size() - 1 > 99999999) {
    return fail("serial number " + o.serial + " leaves no room to count on for " + std::to_string(o.coms.size()) +
                " ports");
  }
  return ParseResult{o, {}};
}

std::string serial_number(const ToolOptions& options, std::size_t index) {
  std::string text = std::to_string(std::stoull(options.serial) + index);
  return std::string(8 - text.size(), '0') + text;
}

}  // namespace kolmsim::tool
