// Parsing of the kolmrec command line.
#include "options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

#include "port_devices.h"

// Where a port number leads and which devices have one differ between the systems.
#ifdef _WIN32
#define PORT_NAMES "Port n is \\\\.\\COM<n>. A device is a COM port: COM5 or \\\\.\\COM5 is port 5.\n"
#define DEVICE_EXAMPLE "COM5"
#else
#define PORT_NAMES                                                                           \
  "Port n is $PEKOLM_PORT_DIR/com<n> when PEKOLM_PORT_DIR is set, else /dev/pekolm/com<n>\n" \
  "where that link exists, else /dev/ttyS<n-1>. A device given by its path gets the\n"       \
  "highest free number: it is linked as com<n> in a folder of kolmrec's own (under\n"        \
  "$TMPDIR, else /tmp; removed once the ports are open), PEKOLM_PORT_DIR pointing\n"         \
  "there, and the numbers given are linked there to the devices they lead to.\n"
#define DEVICE_EXAMPLE "/dev/ttyUSB0"
#endif

namespace kolmrec {
namespace {

constexpr int bauds[] = {9600, 19200, 38400, 57600, 115200, 230400};

// The whole text and nothing else: strtoll and strtod would pass leading white space, a sign and, for
// strtod, hexadecimal and "inf". from_chars takes neither white space nor '+'; '-' is refused here.
std::optional<long long> whole_number(const std::string& text, long long low, long long high) {
  long long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || text[0] == '-' || error != std::errc() || stop != end || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

std::optional<double> positive_number(const std::string& text) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::general);
  if (text.empty() || text[0] == '-' || error != std::errc() || stop != end || !std::isfinite(value) || value <= 0) {
    return std::nullopt;
  }
  return value;
}

std::string* mqtt_text(MqttOptions& mqtt, const std::string& name) {
  if (name == "--mqtt") return &mqtt.url;
  if (name == "--mqtt-user") return &mqtt.user;
  if (name == "--mqtt-password-file") return &mqtt.password_file;
  if (name == "--mqtt-ca") return &mqtt.ca_file;
  if (name == "--mqtt-cert") return &mqtt.cert_file;
  if (name == "--mqtt-key") return &mqtt.key_file;
  if (name == "--mqtt-node") return &mqtt.node;
  return nullptr;
}

double* mqtt_number(MqttOptions& mqtt, const std::string& name) {
  if (name == "--mqtt-block") return &mqtt.block_seconds;
  if (name == "--mqtt-queue") return &mqtt.queue_seconds;
  if (name == "--mqtt-wait") return &mqtt.wait_seconds;
  return nullptr;
}

}  // namespace

std::string usage() {
  return "Usage: kolmrec --port N|--device PATH [--baud B] [--port N|--device PATH\n"
         "               [--baud B]]... [OPTIONS]\n"
         "\n"
         "Records the measured values of one or more amplifiers into CSV: a header of\n"
         "comment lines (start time, library version, and per port the device, baud\n"
         "rate, serial number, firmware version, data rate, display norms and units),\n"
         "then the row port,index,time_s,ch1,ch2,ch3,ch4 and one row per sample. time_s\n"
         "is the sample index divided by the port's data rate; after a value buffer was\n"
         "found full, the index moves on by the samples the host's clock says were lost.\n"
         "Every block of rows is written whole as it comes, so an interrupted recording\n"
         "leaves a valid file.\n"
         "\n"
         "Options:\n"
         "  --port N          port number 1..255 to record (repeat for more ports); a\n"
         "                    device path there is taken as --device\n"
         "  --device PATH     the device to record, by its path (" DEVICE_EXAMPLE
         ");\n"
         "                    repeat and mix with --port for more ports\n"
         "  --baud B          baud rate of the port or device before it: 9600, 19200,\n"
         "                    38400, 57600, 115200 (default) or 230400\n"
         "  --seconds S       record S seconds of samples per port (S x data rate)\n"
         "  --samples N       record N samples per port\n"
         "                    (neither: record until Ctrl-C)\n"
         "  --normalised      write normalised values (about -1.05..1.05 of full scale)\n"
         "                    instead of display values (normalised x display norm)\n"
         "  --host-time       add the column host_s: when kolmrec took the row's block, in\n"
         "                    seconds since the start on the host's monotonic clock\n"
         "  -o, --output FILE write to FILE (default: standard output, but none with\n"
         "                    --mqtt)\n"
         "  --quiet           no progress and no summary on standard error\n"
         "\n"
         "Publishing to an MQTT broker (QoS 1; topics PREFIX/status, PREFIX/com<n>/info,\n"
         "PREFIX/com<n>/values; see kolmrec(1)):\n"
         "  --mqtt URL        mqtt://[USER@]HOST[:PORT]/PREFIX, or mqtts://... for TLS\n"
         "                    (default ports 1883 and 8883)\n"
         "  --mqtt-user NAME  the user name, instead of the URL's\n"
         "  --mqtt-password-file FILE\n"
         "                    the password: the file's first line (else the URL's, else\n"
         "                    $PEKOLM_MQTT_PASSWORD)\n"
         "  --mqtt-ca FILE    the CA certificates the broker's is checked against\n"
         "                    (mqtts://; default: the system's)\n"
         "  --mqtt-cert FILE, --mqtt-key FILE\n"
         "                    a client certificate and its key (mqtts://)\n"
         "  --mqtt-node NAME  the node's name in the info (default: the host name)\n"
         "  --mqtt-block S    seconds of samples per message (default 0.1)\n"
         "  --mqtt-queue S    seconds of each port's values kept while the broker cannot\n"
         "                    be reached (default 60); beyond, the oldest are dropped\n"
         "  --mqtt-wait S     how long the broker may be unreachable at the start\n"
         "                    (default 30)\n"
         "  --help            show this text and exit\n"
         "  --version         show the version and exit\n"
         "\n" PORT_NAMES
         "\n"
         "Progress goes to standard error when it is a terminal; a summary line at the\n"
         "end. Ctrl-C ends the recording early; a second Ctrl-C ends the program at once.\n"
         "\n"
         "Exit status: 0 recorded; 1 a port would not open or stopped working, or the\n"
         "file could not be created or written, or the broker could not be used (a bad\n"
         "URL, an unknown host, a refused login, a failed TLS check); 2 bad command\n"
         "line; 3 recorded, but values may have been lost (a value buffer was found\n"
         "full, a frame was damaged, blocks were dropped from the MQTT queue) or fewer\n"
         "samples arrived than asked for.\n"
         "\n"
         "See kolmrec(1).\n";
}

std::string port_label(const PortRequest& request) {
  const std::string number = "port " + std::to_string(request.port);
  return request.path.empty() ? number : number + " (" + request.device + ")";
}

std::string port_and_device(const PortRequest& request) {
  return "port " + std::to_string(request.port) + " (" + request.device + ")";
}

ParseResult parse_arguments(const std::vector<std::string>& args) {
  Options o;
  auto fail = [](std::string message) { return ParseResult{std::nullopt, std::move(message)}; };
  bool baud_given_for_last = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inline_value;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      inline_value = name.substr(eq + 1);
      name.resize(eq);
    }
    auto value = [&]() -> std::optional<std::string> {
      if (inline_value) return inline_value;
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };
    const bool takes_value = name == "--port" || name == "--device" || name == "--baud" || name == "--seconds" ||
                             name == "--samples" || name == "-o" || name == "--output" ||
                             mqtt_text(o.mqtt, name) != nullptr || mqtt_number(o.mqtt, name) != nullptr;
    if (!takes_value) {
      if (inline_value) return fail("option '" + name + "' takes no value");
      if (name == "--help" || name == "-h") {
        o.help = true;
      } else if (name == "--version") {
        o.version = true;
      } else if (name == "--quiet") {
        o.quiet = true;
      } else if (name == "--normalised" || name == "--normalized") {
        o.normalised = true;
      } else if (name == "--host-time") {
        o.host_time = true;
      } else if (name.rfind('-', 0) == 0 && name != "-") {
        return fail("unknown option '" + name + "'");
      } else {
        return fail("unexpected argument '" + name + "'");
      }
      continue;
    }
    const auto text = value();
    if (!text) return fail("option '" + name + "' needs a value");
    if (name == "--device" || (name == "--port" && names_a_device(text->c_str()) != 0)) {
      // Whether it is a device, and whether it is one given already, only the file system tells.
      if (text->empty()) return fail("option '--device' needs a device path");
      o.ports.push_back({.path = *text});
      baud_given_for_last = false;
    } else if (name == "--port") {
      const auto port = whole_number(*text, 1, 255);
      if (!port) return fail("bad port '" + *text + "' (1..255, or a device such as " DEVICE_EXAMPLE ")");
      if (std::any_of(o.ports.begin(), o.ports.end(),
                      [&](const PortRequest& p) { return p.path.empty() && p.port == *port; })) {
        return fail("port " + *text + " given twice");
      }
      o.ports.push_back({static_cast<int>(*port)});
      baud_given_for_last = false;
    } else if (name == "--baud") {
      const auto baud = whole_number(*text, 1, 10'000'000);
      if (!baud || std::find(std::begin(bauds), std::end(bauds), *baud) == std::end(bauds)) {
        return fail("bad baud rate '" + *text + "' (9600, 19200, 38400, 57600, 115200 or 230400)");
      }
      if (o.ports.empty()) return fail("'--baud' must follow the '--port' or '--device' it is for");
      if (baud_given_for_last) {
        const PortRequest& last = o.ports.back();
        return fail("two baud rates for " + (last.path.empty() ? "port " + std::to_string(last.port) : last.path));
      }
      o.ports.back().baud = static_cast<int>(*baud);
      baud_given_for_last = true;
    } else if (name == "--seconds") {
      o.seconds = positive_number(*text);
      // Beyond thirty years the deadline would leave the clock's range.
      if (!o.seconds || *o.seconds > 1e9) return fail("bad number of seconds '" + *text + "'");
    } else if (name == "--samples") {
      const auto n = whole_number(*text, 1, 1'000'000'000'000LL);
      if (!n) return fail("bad number of samples '" + *text + "'");
      o.samples = static_cast<std::uint64_t>(*n);
    } else if (std::string* field = mqtt_text(o.mqtt, name)) {
      if (text->empty()) return fail("option '" + name + "' needs a value");
      *field = *text;
    } else if (double* number = mqtt_number(o.mqtt, name)) {
      const auto seconds = positive_number(*text);
      if (!seconds || *seconds > 1e6) return fail("bad number of seconds '" + *text + "' for " + name);
      *number = *seconds;
    } else {
      if (text->empty()) return fail("option '" + name + "' needs a file name");
      o.output = *text;
      o.output_given = true;
    }
  }
  if (o.help || o.version) return ParseResult{o, {}};
  if (o.ports.empty()) return fail("no port given (--port N or --device PATH)");
  if (o.seconds && o.samples) return fail("'--seconds' and '--samples' exclude each other");
  if (o.mqtt.url.empty()) {
    const MqttOptions unset;
    for (const char* option :
         {"--mqtt-user", "--mqtt-password-file", "--mqtt-ca", "--mqtt-cert", "--mqtt-key", "--mqtt-node"}) {
      if (!(*mqtt_text(o.mqtt, option)).empty()) return fail(std::string("'") + option + "' needs '--mqtt URL'");
    }
    if (o.mqtt.block_seconds != unset.block_seconds || o.mqtt.queue_seconds != unset.queue_seconds ||
        o.mqtt.wait_seconds != unset.wait_seconds) {
      return fail("the '--mqtt-...' options need '--mqtt URL'");
    }
  }
  if (o.mqtt.cert_file.empty() != o.mqtt.key_file.empty()) {
    return fail("'--mqtt-cert' and '--mqtt-key' go together");
  }
  return ParseResult{o, {}};
}

}  // namespace kolmrec
