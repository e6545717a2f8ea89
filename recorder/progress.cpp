#include "progress.h"

#include <algorithm>
#include <cstdio>

namespace kolmrec {
namespace {

double rate(std::uint64_t samples, double seconds) { return seconds > 0 ? static_cast<double>(samples) / seconds : 0; }

std::string hz(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f Hz", value);
  return text;
}

std::string port_rates(const Tally& tally) {
  constexpr std::size_t listed = 8;
  std::string text;
  if (tally.ports.size() <= listed) {
    for (const PortTally& port : tally.ports) {
      if (!text.empty()) text += ", ";
      text += "port " + std::to_string(port.port);
      if (!port.device.empty()) text += " (" + port.device + ")";
      text += ": " + hz(rate(port.samples, tally.elapsed_seconds));
    }
    return text;
  }
  auto [low, high] = std::minmax_element(tally.ports.begin(), tally.ports.end(),
                                         [](const PortTally& a, const PortTally& b) { return a.samples < b.samples; });
  return hz(rate(low->samples, tally.elapsed_seconds)) + " to " + hz(rate(high->samples, tally.elapsed_seconds)) +
         " a port";
}

}  // namespace

std::uint64_t Tally::samples() const {
  std::uint64_t sum = 0;
  for (const PortTally& port : ports) sum += port.samples;
  return sum;
}

std::string progress_line(const Tally& tally) {
  char total[32] = "";
  if (tally.total_seconds) std::snprintf(total, sizeof total, " / %.1f s", *tally.total_seconds);
  char text[160];
  std::snprintf(text, sizeof text, "%7.1f s%s   %llu samples   %s%s   possible losses: %llu", tally.elapsed_seconds,
                total, static_cast<unsigned long long>(tally.samples()),
                hz(rate(tally.samples(), tally.elapsed_seconds)).c_str(), tally.ports.size() > 1 ? " in all" : "",
                static_cast<unsigned long long>(tally.possible_losses));
  return text;
}

std::string summary_line(const Tally& tally, const std::string& destination) {
  std::string losses = "no possible losses";
  if (tally.possible_losses != 0) losses = "POSSIBLE LOSSES: " + std::to_string(tally.possible_losses);
  char head[128];
  std::snprintf(head, sizeof head, "kolmrec: %llu samples from %zu port%s in %.1f s (",
                static_cast<unsigned long long>(tally.samples()), tally.ports.size(),
                tally.ports.size() == 1 ? "" : "s", tally.elapsed_seconds);
  return head + port_rates(tally) + ") into " + destination + ", " + losses;
}

std::string times(std::uint64_t count) { return count == 1 ? "once" : std::to_string(count) + " times"; }

}  // namespace kolmrec
