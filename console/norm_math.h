// The arithmetic of the display norm: noise figure, calibration and offsets in display units. No I/O.
#pragma once

#include <optional>

namespace kolmconsole {

// The span of display values seen during a recording, per channel 1..4 (index 0..3).
struct Extremes {
  double max[4] = {};
  double min[4] = {};

  // Starts from the nominal span inverted (max at -norm, min at +norm), so that the first sample within
  // the span moves both ends.
  void reset(const double norms[4]);
  // Widens the span by one sample's display values (strictly greater or less only).
  void track(const double display[4]);
};

// Nominal display span over the spread seen: 2 * norm / (max - min). A spread of 0 gives the IEEE result
// (infinity for a constant signal) rather than a guess.
double noise_figure(double norm, double max, double min);

// The test load used by the calibration, in display units (grams by the prompt).
constexpr double calibration_load = 50.0;

// The norm that makes the loaded mean read calibration_load above the unloaded one; none when the two
// means are equal, since no norm can make them differ.
std::optional<double> calibration_norm(double zero_mean, double load_mean);

// Raw 24-bit offsets are centred on 0x800000; 0x800000 counts stand for a normalised 1.05.
constexpr int offset_zero = 8388608;
constexpr double normalised_per_offset_count = 1.2516975402832032e-07;  // 1.05 / 8388608
constexpr double offset_counts_per_normalised = 7989150.476190476;      // 8388608 / 1.05

// A raw offset in the display units of a channel with this norm.
double offset_in_display_units(int raw_offset, double norm);
// The raw offset for a value in display units: truncated toward zero, then centred. Values that no int can
// hold are clamped to the int range, and a result that is not a number (a norm of 0 or NaN) is taken as
// zero offset.
int offset_from_display_units(double display_value, double norm);

}  // namespace kolmconsole
