// The JSON that kolmrec publishes: a port's info and its blocks of measured values. Numbers are written in
// their shortest form that reads back to the same double, so that a subscriber gets exactly what the
// library handed out (and the CSV's eight digits do not apply).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "csv_format.h"

namespace kolmrec {

struct ValuesBlock {
  std::uint64_t sequence = 0;     // counts the port's blocks; a gap tells a subscriber that blocks were dropped
  std::uint64_t first_index = 0;  // the sample index of the block's first sample
  double rate_hz = 0;
  std::int64_t first_time_us = 0;  // the first sample's time, microseconds since 1970 (UTC)
  bool normalised = false;         // the library's normalised values rather than display values
  std::array<std::vector<double>, 4> channels;
};

// {"seq":..,"first_index":..,"rate_hz":..,"time":"..Z","normalised":..,"ch1":[..],..,"ch4":[..]}
std::string values_json(const ValuesBlock& block);

// What the info of a port tells beside the amplifier's own facts.
struct RecordingFacts {
  std::string node;     // the publishing computer, by the name it was given or its host name
  std::string library;  // "1.2"
  std::string start;    // ISO 8601 UTC: the time of sample 0
  bool normalised = false;
  std::size_t block_samples = 0;
};

// {"node":..,"port":..,"device":..,"serial_number":..,"firmware_version":..,"baud":..,"rate_hz":..,
//  "norms":[4],"units":[4 codes or null],"unit_texts":[4],"values":"display"|"normalised",
//  "block_samples":..,"library":..,"kolmrec":..,"start":..}
std::string info_json(const PortDescription& port, const RecordingFacts& facts);

// The shortest text that reads back as `value`; null for what JSON has no number for (NaN, infinities).
void append_json_number(std::string& json, double value);
std::string json_number(double value);
// A JSON string of UTF-8 text, quotes and control characters escaped.
std::string json_string(const std::string& text);

// ISO 8601 in UTC with microseconds: 2026-12-09T14:10:00.123456Z.
std::string iso8601_utc(std::int64_t microseconds_since_1970);

}  // namespace kolmrec
