// Command line of the kolmsim tool.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "kolmsim/simulator.h"

namespace kolmsim::tool {

struct ToolOptions {
  std::vector<int> coms{1};  // port numbers N of DIR/com<N>, one amplifier each, all different
  std::string port_dir;      // empty: a fresh temporary directory
  // The first amplifier's serial number, 8 digits; the next ones count on from it, so that each port's
  // amplifier can be told apart.
  std::string serial = "00012345";
  Options simulator;
  std::array<ChannelSignal, 4> signals{};  // what channels 1..4 play
  std::array<int, 4> loads{};              // load step per channel, counts
  std::vector<Clock::duration> load_at;    // after the start: the load goes on at the 1st, off at the 2nd, ...
  bool quiet = false;
  bool help = false;
  bool version = false;
  std::vector<std::string> command;  // after "--"; empty: serve until a signal
};

struct ParseResult {
  std::optional<ToolOptions> options;  // set on success
  std::string error;                   // set on failure, one line without "kolmsim: "
};

ParseResult parse_arguments(const std::vector<std::string>& args);  // args without the program name
// The serial number of the amplifier on the `index`th port (0-based): the first one's, counted on.
std::string serial_number(const ToolOptions& options, std::size_t index);
std::string usage();

}  // namespace kolmsim::tool
