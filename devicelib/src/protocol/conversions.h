// Pure conversions between what callers pass and what the amplifier keeps: data-rate codes, threshold
// register values, digital I/O type codes, unit indices and display norms. No I/O, no device record.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace pekolm {

// ---- data rate ----

// Rate code of the first entry; entry i has the code first_rate_code + i.
inline constexpr std::uint8_t first_rate_code = 0x93;

// The amplifier's data rates in hertz, ascending.
inline constexpr std::array<double, 29> rate_table = {
    1.0 / 86400, 1.0 / 43200, 1.0 / 21600, 1.0 / 3600, 1.0 / 1800, 1.0 / 900, 1.0 / 600, 1.0 / 300, 0.02, 0.03,
    0.1,         0.2,         0.5,         0.625,      1.25,       2.5,       3.75,      6.25,      7.5,  12.5,
    15,          25,          125,         250,        500,        937.5,     1875,      3750,      7500,
};

// Highest data rate a serial line of this baud rate carries: about 110 bits per measured-value frame, with
// 5 % to spare.
double rate_limit(int baud);

// The code to send for a requested rate on a port opened at `baud`: the next table rate up, or the one
// below it where that would exceed the line's limit. Empty when the request is refused (outside
// 0.625..250 Hz, not a number, or above the limit).
std::optional<std::uint8_t> rate_code_for(double rate, int baud);

// The rate of a code the amplifier reports; empty for a code outside the table.
std::optional<double> rate_of_code(std::uint8_t code);

// ---- thresholds ----

// One count of a raw value in normalised units, the same factor the measured values use.
inline constexpr double level_per_count = 1.05 / 32767.5;

// The register value of a level; empty for a level that is not a number or whose register value would
// fall outside 1..65535.
std::optional<std::uint16_t> threshold_raw(double level);

// The level of a register value.
double threshold_level(std::uint16_t raw);

// ---- digital I/O types ----

// The amplifier numbers the I/O types differently from the library's interface.
std::uint8_t io_type_to_device(int type);
// The library's type of a device code (taken as signed); empty for a code above the highest known.
std::optional<int> io_type_from_device(std::uint8_t code);

// ---- units ----

inline constexpr int unit_count = 30;
inline constexpr int blank_unit = 7;  // " ", what an empty unit text selects

// Texts are single bytes of the Windows-1252 code page: 0xB5 is the micro sign, 0xB0 the degree sign.
// (The string literals are split where a hex escape would otherwise swallow the next letter.)
inline constexpr std::array<const char*, unit_count> unit_table = {
    "mV/V",
    "kg",
    "g",
    "N",
    "cN",
    "V",
    "\xB5m/m",
    " ",
    "t",
    "kN",
    "lb",
    "oz",
    "kp",
    "lbf",
    "pdl",
    "mm",
    "m",
    "cNm",
    "Nm",
    "\xB0"
    "C",
    "\xB0"
    "F",
    "K",
    "oztr",
    "dwt",
    "kNm",
    "%",
    "0/00",
    "W",
    "kW",
    "rpm",
};

// The table index of a unit text (case-sensitive, whole text; empty selects the blank unit); empty when
// no entry matches.
std::optional<int> unit_index_of(const char* text);

// ---- display normalisation ----

// Whether a norm can be sent: finite in single precision and clear of zero by more than 2^-23.
bool norm_acceptable(double norm);
// The single-precision bits of a norm, sign and exponent in the top byte.
std::uint32_t norm_bits(double norm);
double norm_from_bits(std::uint32_t bits);

}  // namespace pekolm
