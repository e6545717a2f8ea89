// Command line of the kolmsim tool.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kolmsim/simulator.h"

namespace kolmsim::tool {

struct ToolOptions {
  int com = 1;           // port number N of DIR/com<N>
  std::string port_dir;  // empty: a fresh temporary directory
  Options simulator;
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
