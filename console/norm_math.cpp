// Norm arithmetic; see norm_math.h.
#include "norm_math.h"

#include <climits>
#include <cmath>

namespace kolmconsole {

void Extremes::reset(const double norms[4]) {
  for (int i = 0; i < 4; ++i) {
    max[i] = -norms[i];
    min[i] = norms[i];
  }
}

void Extremes::track(const double display[4]) {
  for (int i = 0; i < 4; ++i) {
    if (display[i] > max[i]) max[i] = display[i];
    if (display[i] < min[i]) min[i] = display[i];
  }
}

double noise_figure(double norm, double max, double min) { return 2.0 * norm / (max - min); }

std::optional<double> calibration_norm(double zero_mean, double load_mean) {
  const double difference = load_mean - zero_mean;
  if (difference == 0.0) return std::nullopt;
  return calibration_load / difference;
}

double offset_in_display_units(int raw_offset, double norm) {
  return (raw_offset - offset_zero) * normalised_per_offset_count * norm;
}

int offset_from_display_units(double display_value, double norm) {
  const double counts = display_value / norm * offset_counts_per_normalised;
  if (std::isnan(counts)) return offset_zero;
  // Clamp before converting: a double outside the int range has no defined conversion.
  const double wide = std::trunc(counts) + offset_zero;
  if (wide >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (wide <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(wide);
}

}  // namespace kolmconsole
