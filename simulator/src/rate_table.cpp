// Data-rate table of the amplifier.
#include "rate_table.h"

#include <array>

namespace kolmsim {
namespace {

constexpr std::array<double, kLastRateCode - kFirstRateCode + 1> kRates = {
    1.0 / 86400, 1.0 / 43200, 1.0 / 21600, 1.0 / 3600, 1.0 / 1800, 1.0 / 900, 1.0 / 600, 1.0 / 300, 0.02, 0.03,
    0.1,         0.2,         0.5,         0.625,      1.25,       2.5,       3.75,      6.25,      7.5,  12.5,
    15,          25,          125,         250,        500,        937.5,     1875,      3750,      7500,
};

}  // namespace

bool is_rate_code(std::uint8_t code) { return code >= kFirstRateCode && code <= kLastRateCode; }

double rate_hz(std::uint8_t code) { return is_rate_code(code) ? kRates[code - kFirstRateCode] : 0.0; }

}  // namespace kolmsim
