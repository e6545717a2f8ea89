#include "progress.h"

#include <cstdio>

namespace kolmrec {

double Tally::rate() const {
  return elapsed_seconds > 0 && ports > 0 ? static_cast<double>(samples) / ports / elapsed_seconds : 0;
}

std::string progress_line(const Tally& tally) {
  char total[32] = "";
  if (tally.total_seconds) std::snprintf(total, sizeof total, " / %.1f s", *tally.total_seconds);
  char text[160];
  std::snprintf(text, sizeof text, "%7.1f s%s   %llu samples   %.1f Hz per port   possible losses: %llu",
                tally.elapsed_seconds, total, static_cast<unsigned long long>(tally.samples), tally.rate(),
                static_cast<unsigned long long>(tally.possible_losses));
  return text;
}

std::string summary_line(const Tally& tally, const std::string& destination) {
  char text[256];
  char losses[64] = "no possible losses";
  if (tally.possible_losses != 0) {
    std::snprintf(losses, sizeof losses, "POSSIBLE LOSSES: %llu",
                  static_cast<unsigned long long>(tally.possible_losses));
  }
  std::snprintf(text, sizeof text, "kolmrec: %llu samples from %d port%s in %.1f s (%.1f Hz per port) into %s, %s",
                static_cast<unsigned long long>(tally.samples), tally.ports, tally.ports == 1 ? "" : "s",
                tally.elapsed_seconds, tally.rate(), destination.c_str(), losses);
  return text;
}

}  // namespace kolmrec
