// Command line of the kolmsim tool.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "kolmsim/simulator.h"

namespace kolmsim::tool {

struct ToolOptions {
  int com = 1;           // port number N of DIR/com<N>
  std::string port_dir;  // empty: a fresh temporary directory
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
std::string usage();

}  // namespace kolmsim::tool
