// The amplifier's data rates: code 0x93 + i selects entry i, from one frame a day up to 7500 Hz.
#pragma once

#include <cstdint>

namespace kolmsim {

inline constexpr std::uint8_t kFirstRateCode = 0x93;
inline constexpr std::uint8_t kLastRateCode = 0xAF;

bool is_rate_code(std::uint8_t code);
// Frames per second for a rate code; 0 for a code outside the table.
double rate_hz(std::uint8_t code);

}  // namespace kolmsim
