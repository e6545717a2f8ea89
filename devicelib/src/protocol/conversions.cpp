// Conversions between interface values and the amplifier's codes: see conversions.h.
#include "protocol/conversions.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace pekolm {

namespace {

// Two units in the last place below 0.625 (bit pattern 0x3FE3FFFFFFFFFFFE): a rate computed as 0.625
// that came out a little low still selects 0.625 Hz.
constexpr double lowest_rate = 0.6249999999999998;
constexpr double highest_rate = 250;

constexpr double largest_float = std::numeric_limits<float>::max();
constexpr double smallest_norm = 1.1920928955078125e-07;  // 2^-23

// The whole number nearest to x, a half going away from zero: x +/- 0.5 cut towards zero, in double
// precision as written (so a value just below a half may round up where the addition rounds).
double nearest_away(double x) { return std::trunc(x < 0 ? x - 0.5 : x + 0.5); }

}  // namespace

// Whole frames per second the line carries (11 bytes of 10 bits each, so baud / 110, rounded down), with a
// margin of 5 %.
double rate_limit(int baud) { return static_cast<double>(baud / 110) * 0.95; }  // NOLINT(bugprone-integer-division)

std::optional<std::uint8_t> rate_code_for(double rate, int baud) {
  if (!(rate >= lowest_rate && rate <= highest_rate)) return std::nullopt;  // NaN fails here too
  const double limit = rate_limit(baud);
  if (rate > limit) return std::nullopt;
  std::size_t i = 0;
  while (rate_table[i] < rate) ++i;  // ends at 250 Hz at the latest
  if (rate_table[i] > limit) --i;    // a rate >= 0.625 under the limit keeps i >= 13
  return static_cast<std::uint8_t>(first_rate_code + i);
}

std::optional<double> rate_of_code(std::uint8_t code) {
  if (code < first_rate_code || code >= first_rate_code + rate_table.size()) return std::nullopt;
  return rate_table[code - first_rate_code];
}

std::optional<std::uint16_t> threshold_raw(double level) {
  const double counts = nearest_away(level / level_per_count);
  // Compared as a double first: converting an out-of-range double to an integer is undefined.
  if (!(counts >= 1 - 32768.0 && counts <= 65535 - 32768.0)) return std::nullopt;
  return static_cast<std::uint16_t>(static_cast<int>(counts) + 32768);
}

double threshold_level(std::uint16_t raw) { return (static_cast<int>(raw) - 32768) * level_per_count; }

std::uint8_t io_type_to_device(int type) {
  if (type >= 16) return static_cast<std::uint8_t>(type - 1);
  if (type >= 8) return static_cast<std::uint8_t>(type + 9);
  if (type >= 3) return static_cast<std::uint8_t>(type + 7);
  return static_cast<std::uint8_t>(type);
}

std::optional<int> io_type_from_device(std::uint8_t code) {
  const int d = static_cast<std::int8_t>(code);  // NOLINT(bugprone-signed-char-misuse): the device sends it signed
  if (d > 24) return std::nullopt;
  if (d >= 17) return d - 9;
  if (d >= 15) return d + 1;
  if (d >= 10) return d - 7;
  return d;
}

std::optional<int> unit_index_of(const char* text) {
  if (text[0] == '\0') return blank_unit;
  for (int i = 0; i < unit_count; ++i) {
    if (std::strcmp(text, unit_table[i]) == 0) return i;
  }
  return std::nullopt;
}

bool norm_acceptable(double norm) {
  if (std::isnan(norm)) return false;
  if (norm > largest_float || norm < -largest_float) return false;
  return norm > smallest_norm || norm < -smallest_norm;
}

std::uint32_t norm_bits(double norm) { return std::bit_cast<std::uint32_t>(static_cast<float>(norm)); }

double norm_from_bits(std::uint32_t bits) { return std::bit_cast<float>(bits); }

}  // namespace pekolm
