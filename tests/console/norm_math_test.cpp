// Noise figure, calibration norm and offsets in display units, including the cases without a result.
#include "norm_math.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace kolmconsole {
namespace {

TEST(Extremes, StartInvertedSoThatTheFirstSampleSetsBothEnds) {
  const double norms[4] = {1.0, 2.0, 50.0, 1.0};
  Extremes extremes;
  extremes.reset(norms);
  const double first[4] = {0.25, -1.5, 0.0, 0.5};
  extremes.track(first);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(extremes.max[i], first[i]) << i;
    EXPECT_EQ(extremes.min[i], first[i]) << i;
  }
  const double second[4] = {0.75, -1.75, 0.0, 0.5};
  extremes.track(second);
  EXPECT_EQ(extremes.max[0], 0.75);
  EXPECT_EQ(extremes.min[0], 0.25);
  EXPECT_EQ(extremes.max[1], -1.5);
  EXPECT_EQ(extremes.min[1], -1.75);
}

TEST(Extremes, ResetForgetsAnEarlierRecording) {
  const double norms[4] = {1.0, 1.0, 1.0, 1.0};
  Extremes extremes;
  extremes.reset(norms);
  const double wide[4] = {0.9, 0.9, 0.9, 0.9};
  const double narrow[4] = {0.1, 0.1, 0.1, 0.1};
  extremes.track(wide);
  extremes.reset(norms);
  extremes.track(narrow);
  EXPECT_EQ(extremes.max[0], 0.1);
  EXPECT_EQ(extremes.min[0], 0.1);
}

TEST(NoiseFigure, AConstantSignalGivesInfinity) {
  EXPECT_EQ(noise_figure(1.0, 0.5, 0.5), std::numeric_limits<double>::infinity());
  EXPECT_EQ(noise_figure(-1.0, 0.5, 0.5), -std::numeric_limits<double>::infinity());
}

TEST(CalibrationNorm, MakesTheTestLoadReadFiftyAboveTheUnloadedValue) {
  const std::optional<double> norm = calibration_norm(0.001, 0.101);
  ASSERT_TRUE(norm);
  EXPECT_NEAR(*norm, 500.0, 1e-9);
  EXPECT_NEAR(*calibration_norm(0.2, 0.1), -500.0, 1e-9) << "a load that lowers the reading";
}

TEST(CalibrationNorm, EqualMeansGiveNoNorm) {
  EXPECT_FALSE(calibration_norm(0.0, 0.0));
  EXPECT_FALSE(calibration_norm(0.25, 0.25));
}

TEST(Offset, ConvertsBothWaysThroughTheNorm) {
  // 7989150.476... counts stand for a normalised 1.0.
  EXPECT_EQ(offset_from_display_units(1.0, 1.0), 8388608 + 7989150);
  EXPECT_EQ(offset_from_display_units(50.0, 100.0), 8388608 + 3994575);
  EXPECT_EQ(offset_from_display_units(-1.0, 1.0), 8388608 - 7989150) << "truncated toward zero";
  EXPECT_NEAR(offset_in_display_units(8388608 + 7989150, 2.0), 2.0, 1e-6);
  EXPECT_NEAR(offset_in_display_units(0, 1.0), -1.05, 1e-12);
}

TEST(Offset, ValuesNoIntCanHoldAreClampedAndNaNIsZeroOffset) {
  EXPECT_EQ(offset_from_display_units(1e300, 1.0), INT_MAX);
  EXPECT_EQ(offset_from_display_units(-1e300, 1.0), INT_MIN);
  EXPECT_EQ(offset_from_display_units(1.0, 0.0), INT_MAX) << "a norm of 0 makes the offset infinite";
  EXPECT_EQ(offset_from_display_units(0.0, 0.0), 8388608);
  EXPECT_EQ(offset_from_display_units(std::nan(""), 1.0), 8388608);
}

}  // namespace
}  // namespace kolmconsole
