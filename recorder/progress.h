// What kolmrec tells on standard error while it records and when it ends; never part of the data.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kolmrec {

struct PortTally {
  int port = 0;
  std::uint64_t samples = 0;
  std::string device{};  // named beside the number where set
};

struct Tally {
  double elapsed_seconds = 0;
  std::optional<double> total_seconds;  // none: until Ctrl-C
  std::vector<PortTally> ports;         // in the order of the command line
  std::uint64_t possible_losses = 0;
  std::uint64_t samples() const;  // of all ports
};

// "  12.3 s / 60.0 s   24567 samples   1989.0 Hz   possible losses: 0" (with several ports, the samples of
// all in all ports' time: "... 3978.0 Hz in all ...")
std::string progress_line(const Tally& tally);
// "kolmrec: 125 samples from 1 port in 5.0 s (port 1 (/dev/ttyS0): 25.0 Hz) into run.csv, no possible losses": each
// port's own rate, since ports may run at different rates; beyond eight ports, the lowest and the highest.
std::string summary_line(const Tally& tally, const std::string& destination);
// "once", "3 times".
std::string times(std::uint64_t count);

}  // namespace kolmrec
