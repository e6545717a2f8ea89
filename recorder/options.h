// Command line of kolmrec.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kolmrec {

struct PortRequest {
  int port = 0;
  int baud = 115200;
};

struct Options {
  std::vector<PortRequest> ports;        // in the order given; each port once
  std::optional<double> seconds;         // of samples per port, by the port's data rate
  std::optional<std::uint64_t> samples;  // per port; neither: until Ctrl-C
  bool normalised = false;               // normalised values instead of display values
  bool host_time = false;                // a column of each block's time on the host's monotonic clock
  std::string output = "-";              // "-": standard output
  bool quiet = false;                    // no progress and no summary
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
