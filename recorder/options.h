// Command line of kolmrec.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kolmrec {

struct PortRequest {
  int port = 0;  // as given, or the number a device given by its path was linked under
  int baud = 115200;
  std::string path{};    // a device given by its path (--device, or a path for --port); empty for a number
  std::string device{};  // where the port leads, for the messages and the header; set once the numbers are chosen
};

// "port 3" for a port given by its number, "port 255 (/dev/ttyUSB0)" for one given by its path: the number
// the rows carry, and what the user typed where that was not the number.
std::string port_label(const PortRequest& request);
// "port 3 (/dev/ttyS2)": with the device it led to, where a port would not open.
std::string port_and_device(const PortRequest& request);

// Publishing to an MQTT broker (mqtt_url.h for the URL).
struct MqttOptions {
  std::string url{};            // empty: no publishing
  std::string user{};           // instead of the URL's
  std::string password_file{};  // else the URL's password, else $PEKOLM_MQTT_PASSWORD
  std::string ca_file{}, cert_file{}, key_file{};
  std::string node{};  // empty: the host name
  double block_seconds = 0.1;
  double queue_seconds = 60;  // of each port's values kept while the broker cannot be reached
  double wait_seconds = 30;   // how long a broker may be unreachable at the start
};

struct Options {
  std::vector<PortRequest> ports;        // in the order given; each number once
  std::optional<double> seconds;         // of samples per port, by the port's data rate
  std::optional<std::uint64_t> samples;  // per port; neither: until Ctrl-C
  bool normalised = false;               // normalised values instead of display values
  bool host_time = false;                // a column of each block's time on the host's monotonic clock
  std::string output = "-";              // "-": standard output
  bool output_given = false;             // with --mqtt, no CSV unless -o is given
  MqttOptions mqtt{};
  bool quiet = false;  // no progress and no summary
  bool help = false;
  bool version = false;
};

struct ParseResult {
  std::optional<Options> options;  // set on success
  std::string error;               // set on failure, one line without "kolmrec: "
};

ParseResult parse_arguments(const std::vector<std::string>& args);  // without the program name
std::string usage();

// Exit statuses, also listed by usage().
inline constexpr int exit_ok = 0;
inline constexpr int exit_failed = 1;      // a port, the file or a write failed
inline constexpr int exit_usage = 2;       // bad command line
inline constexpr int exit_incomplete = 3;  // recorded, but values may be missing

}  // namespace kolmrec
