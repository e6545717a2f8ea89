// Values payloads: see mqtt_payload.h.
#include "mqtt_payload.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace kolmrec {

void append_json_number(std::string& json, double value) {
  char text[32];
  const auto [end, status] = std::to_chars(text, text + sizeof text, value);
  if (!std::isfinite(value) || status != std::errc{}) {
    json += "null";
  } else {
    json.append(text, end);
  }
}

std::string json_number(double value) {
  std::string json;
  append_json_number(json, value);
  return json;
}

std::string iso8601_utc(std::int64_t microseconds_since_1970) {
  // Floor division, so that times before 1970 land on the right day and second.
  constexpr std::int64_t per_day = 86'400'000'000;
  std::int64_t days = microseconds_since_1970 / per_day;
  std::int64_t in_day = microseconds_since_1970 % per_day;
  if (in_day < 0) {
    in_day += per_day;
    --days;
  }
  // Days since 1970 to a civil date in the proleptic Gregorian calendar (eras of 400 years).
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t day_of_era = z - era * 146097;
  const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t month_from_march = (5 * day_of_year + 2) / 153;
  const std::int64_t day = day_of_year - (153 * month_from_march + 2) / 5 + 1;
  const std::int64_t month = month_from_march < 10 ? month_from_march + 3 : month_from_march - 9;
  const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  const std::int64_t seconds = in_day / 1'000'000;
  char text[48];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%06lldZ", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60),
                static_cast<long long>(in_day % 1'000'000));
  return text;
}

std::string json_string(const std::string& text) {
  std::string json = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      json += escape;
    } else {
      json += c;
    }
  }
  return json + '"';
}

std::string values_json(const ValuesBlock& block) {
  std::string json = "{\"seq\":" + std::to_string(block.sequence) +
                     ",\"first_index\":" + std::to_string(block.first_index) +
                     ",\"rate_hz\":" + json_number(block.rate_hz) + ",\"time\":\"" + iso8601_utc(block.first_time_us) +
                     "\",\"normalised\":" + (block.normalised ? "true" : "false");
  // At the line's full rate on many ports this is the publisher's main work: numbers go straight in.
  json.reserve(json.size() + 64 + 4 * block.channels[0].size() * 24);
  for (std::size_t channel = 0; channel < block.channels.size(); ++channel) {
    json += ",\"ch";
    json += static_cast<char>('1' + channel);
    json += "\":[";
    const std::vector<double>& values = block.channels[channel];
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i != 0) json += ',';
      append_json_number(json, values[i]);
    }
    json += ']';
  }
  json += '}';
  return json;
}

std::string info_json(const PortDescription& port, const RecordingFacts& facts) {
  auto array = [](const auto& items, auto&& item) {
    std::string text = "[";
    for (std::size_t i = 0; i < items.size(); ++i) text += (i == 0 ? "" : ",") + item(items[i]);
    return text + "]";
  };
  const std::string norms =
      array(port.norms, [](double norm) { return std::isfinite(norm) ? norm_text(norm) : std::string("null"); });
  const std::string units =
      array(port.unit_codes, [](int code) { return code < 0 ? std::string("null") : std::to_string(code); });
  const std::string unit_texts = array(port.units, json_string);
  return "{\"node\":" + json_string(facts.node) + ",\"port\":" + std::to_string(port.port) +
         ",\"device\":" + json_string(port.device) + ",\"serial_number\":" + json_string(port.serial_number) +
         ",\"firmware_version\":" + json_string(port.firmware_version) + ",\"baud\":" + std::to_string(port.baud) +
         ",\"rate_hz\":" + json_number(port.rate_hz) + ",\"norms\":" + norms + ",\"units\":" + units +
         ",\"unit_texts\":" + unit_texts + ",\"values\":" + (facts.normalised ? "\"normalised\"" : "\"display\"") +
         ",\"block_samples\":" + std::to_string(facts.block_samples) + ",\"library\":" + json_string(facts.library) +
         ",\"kolmrec\":\"" PEKOLM_RELEASE "\",\"start\":" + json_string(facts.start) + "}";
}

}  // namespace kolmrec
