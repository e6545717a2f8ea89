// What kolmrec tells on standard error while it records and when it ends; never part of the data.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace kolmrec {

struct Tally {
  double elapsed_seconds = 0;
  std::optional<double> total_seconds;  // none: until Ctrl-C
  std::uint64_t samples = 0;            // of all ports
  int ports = 0;
  std::uint64_t possible_losses = 0;
  // Samples per second and port so far.
  double rate() const;
};

// "  12.3 s / 60.0 s   24567 samples   1989.0 Hz per port   possible losses: 0"
std::string progress_line(const Tally& tally);
// "kolmrec: 125 samples from 1 port in 5.0 s (25.0 Hz per port) into run.csv, no possible losses"
std::string summary_line(const Tally& tally, const std::string& destination);

}  // namespace kolmrec
