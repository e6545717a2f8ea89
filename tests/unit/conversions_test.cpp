// Rate selection, threshold levels, I/O type codes, unit texts and display norms at their boundaries.
#include "protocol/conversions.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace pekolm {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

int code(double rate, int baud) {
  const std::optional<std::uint8_t> c = rate_code_for(rate, baud);
  return c ? *c : -1;
}
int raw(double level) {
  const std::optional<std::uint16_t> r = threshold_raw(level);
  return r ? *r : -1;
}

TEST(RateTable, AcceptedRange) {
  EXPECT_EQ(std::bit_cast<std::uint64_t>(0.6249999999999998), 0x3FE3FFFFFFFFFFFEull);
  EXPECT_EQ(code(0.6249999999999998, 115200), 0xA0);
  EXPECT_EQ(code(std::nextafter(0.6249999999999998, 0.0), 115200), -1);
  EXPECT_EQ(code(250, 38400), 0xAA);
  for (double refused : {0.6, 250.001, std::nextafter(250.0, 300.0), nan, inf, -inf}) {
    EXPECT_EQ(code(refused, 230400), -1) << refused;
  }
}

TEST(RateTable, NextRateUpThenBackBelowTheLineLimit) {
  EXPECT_EQ(code(1.0, 115200), 0xA1);
  EXPECT_EQ(code(1.25, 115200), 0xA1);
  EXPECT_EQ(code(std::nextafter(1.25, 2.0), 115200), 0xA2);
  EXPECT_EQ(rate_limit(9600), 82.64999999999999);
  EXPECT_EQ(rate_limit(57600), 496.84999999999997);
  EXPECT_EQ(code(80, 9600), 0xA8);  // 125 Hz is over the limit
  EXPECT_EQ(code(82.65, 9600), -1);
  EXPECT_EQ(code(150, 19200), 0xA9);  // 250 Hz is over the limit
  EXPECT_EQ(code(200, 19200), -1);
  EXPECT_EQ(code(150, 38400), 0xAA);
}

TEST(RateTable, CodesReadBack) {
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(rate_of_code(static_cast<std::uint8_t>(c)).has_value(), c >= 0x93 && c <= 0xAF) << c;
  }
  EXPECT_EQ(*rate_of_code(0x93), 1.1574074074074073e-05);
  EXPECT_EQ(*rate_of_code(0xAF), 7500.0);
  for (std::uint8_t c = 0xA0; c <= 0xAA; ++c) EXPECT_EQ(code(*rate_of_code(c), 230400), c);
}

TEST(ThresholdLevel, HalvesGoAwayFromZero) {
  EXPECT_EQ(level_per_count, 3.2043945983062484e-05);
  EXPECT_EQ(raw(level_per_count / 2), 32769);
  EXPECT_EQ(raw(-level_per_count / 2), 32767);
  EXPECT_EQ(raw(1.5 * level_per_count), 32770);
  EXPECT_EQ(raw(-0.4 * level_per_count), 32768);
  EXPECT_EQ(raw(0.5), 48372);
  EXPECT_EQ(raw(-0.5), 17164);
}

TEST(ThresholdLevel, WritableRangeAndWayBack) {
  EXPECT_EQ(raw(1.04999), 65535);
  EXPECT_EQ(raw(-1.04999), 1);
  for (double refused : {1.05, -1.05, 1e300, -1e300, nan, inf}) EXPECT_EQ(raw(refused), -1) << refused;
  EXPECT_EQ(threshold_level(0), -1.0500160219729915);
  EXPECT_EQ(threshold_level(65534), 1.0499519340810253);
  for (int r = 1; r <= 65535; ++r) ASSERT_EQ(raw(threshold_level(static_cast<std::uint16_t>(r))), r);
}

TEST(IoType, BothWays) {
  const int device[18] = {0, 1, 2, 10, 11, 12, 13, 14, 17, 18, 19, 20, 21, 22, 23, 24, 15, 16};
  for (int type = 0; type < 18; ++type) {
    EXPECT_EQ(io_type_to_device(type), device[type]) << type;
    EXPECT_EQ(io_type_from_device(io_type_to_device(type)), type);
  }
  EXPECT_EQ(io_type_from_device(9), 9);  // below 10 passes through, gaps included
  EXPECT_FALSE(io_type_from_device(25).has_value());
  EXPECT_FALSE(io_type_from_device(0x7F).has_value());
  EXPECT_EQ(io_type_from_device(0x80), -128);  // read as signed
}

TEST(UnitTable, SingleByteTextsMatchedExactly) {
  EXPECT_STREQ(unit_table[6], "\xB5m/m");
  EXPECT_STREQ(unit_table[19],
               "\xB0"
               "C");
  EXPECT_STREQ(unit_table[20],
               "\xB0"
               "F");
  for (int i = 0; i < unit_count; ++i) EXPECT_EQ(unit_index_of(unit_table[i]), i);
  EXPECT_EQ(unit_index_of(""), 7);
  for (const char* unknown : {"KG", "k", "kgs", "\xC2\xB5m/m"}) EXPECT_FALSE(unit_index_of(unknown)) << unknown;
}

TEST(DisplayNorm, RangeAndBits) {
  const double smallest = 1.1920928955078125e-07, largest = 3.4028234663852886e+38;
  for (double refused : {0.0, 1e-8, -1e-7, smallest, -smallest, std::nextafter(largest, inf),
                         std::nextafter(-largest, -inf), inf, nan}) {
    EXPECT_FALSE(norm_acceptable(refused)) << refused;
  }
  for (double accepted : {std::nextafter(smallest, 1.0), -2e-7, largest, -largest}) {
    EXPECT_TRUE(norm_acceptable(accepted)) << accepted;
  }
  EXPECT_EQ(norm_bits(0.1), 0x3DCCCCCDu);
  EXPECT_EQ(norm_bits(largest), 0x7F7FFFFFu);
  EXPECT_EQ(norm_from_bits(0xC0000000u), -2.0);
}

}  // namespace
}  // namespace pekolm
