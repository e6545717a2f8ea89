// Command line of kolmscan.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kolmscan {

struct Options {
  bool probe = false;                // ask every numbered port whether an amplifier answers
  bool json = false;                 // a JSON array instead of the table
  bool udev = false;                 // udev rules for the amplifiers found (probes)
  int first = 1;                     // the port number of the first amplifier in the udev rules
  std::vector<std::string> devices;  // --device: only these, in this order; none: every port
  bool help = false;
  bool version = false;
};

struct ParseResult {
  std::optional<Options> options;  // set on success
  std::string error;               // set on failure, one line without "kolmscan: "
};

ParseResult parse_arguments(const std::vector<std::string>& args);  // without the program name
std::string usage();

inline constexpr int exit_ok = 0;
inline constexpr int exit_none_found = 1;  // --probe found no amplifier
inline constexpr int exit_usage = 2;       // also: the output could not be written

}  // namespace kolmscan
