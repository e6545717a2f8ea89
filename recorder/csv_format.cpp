// Formatting of kolmrec's CSV. Numbers go through std::to_chars: it is locale-independent (a decimal
// point whatever LC_NUMERIC says) and fast enough for sixteen ports at the line's full rate.
#include "csv_format.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace kolmrec {
namespace {

void append_number(std::string& out, double value, std::chars_format format, int precision) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value, format, precision);
  out.append(text, result.ptr);
}

std::string row_of(const std::array<std::string, 4>& fields) {
  std::string row;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i != 0) row += ',';
    row += csv_field(fields[i]);
  }
  return row;
}

}  // namespace

std::string norm_text(double norm) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, static_cast<float>(norm));
  return {text, result.ptr};
}

std::string library_version_text(int version) {
  return std::to_string(version >> 16) + "." + std::to_string(version & 0xFFFF);
}

std::string header_text(const RecordingDescription& recording) {
  std::string out = "# kolmrec " PEKOLM_RELEASE "\n";
  out += "# start: " + recording.start + "\n";
  out += "# library: " + library_version_text(recording.library_version) + "\n";
  out += std::string("# values: ") + (recording.normalised ? "normalised" : "display") + "\n";
  for (const PortDescription& port : recording.ports) {
    const std::string key = "# port " + std::to_string(port.port) + " ";
    if (!port.device.empty()) out += key + "device: " + port.device + "\n";
    out += key + "baud: " + std::to_string(port.baud) + "\n";
    out += key + "serial number: " + port.serial_number + "\n";
    out += key + "firmware version: " + port.firmware_version + "\n";
    out += key + "data rate: ";
    append_number(out, port.rate_hz, std::chars_format::general, 10);
    out += " Hz\n";
    out += key + "display norms: " +
           row_of({norm_text(port.norms[0]), norm_text(port.norms[1]), norm_text(port.norms[2]),
                   norm_text(port.norms[3])}) +
           "\n";
    out += key + "units: " + row_of(port.units) + "\n";
  }
  out += recording.host_time ? "port,index,time_s,ch1,ch2,ch3,ch4,host_s\n" : "port,index,time_s,ch1,ch2,ch3,ch4\n";
  return out;
}

void append_rows(std::string& out, int port, std::uint64_t first_index, double rate_hz, const double* values,
                 std::size_t samples, const std::array<double, 4>& factors, std::optional<double> host_seconds) {
  const std::string port_text = std::to_string(port) + ",";
  std::string host_text;
  if (host_seconds) {
    host_text = ",";
    append_number(host_text, *host_seconds, std::chars_format::fixed, 6);
  }
  for (std::size_t k = 0; k < samples; ++k) {
    const std::uint64_t index = first_index + k;
    out += port_text;
    out += std::to_string(index);
    out += ',';
    append_number(out, static_cast<double>(index) / rate_hz, std::chars_format::fixed, 6);
    for (std::size_t c = 0; c < 4; ++c) {
      out += ',';
      append_number(out, values[4 * k + c] * factors[c], std::chars_format::general, 8);
    }
    out += host_text;
    out += '\n';
  }
}

// The text before the parenthesis is what readers of older files look for.
std::string loss_note(int port, std::uint64_t index, std::uint64_t lost) {
  return "# port " + std::to_string(port) + ": values may be missing before index " + std::to_string(index) +
         " (estimated " + std::to_string(lost) + " lost)\n";
}

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string utf8_from_cp1252(const std::string& text) {
  // 0x80..0x9F are the code page's own; the rest of the upper half is Latin-1. Unassigned bytes become U+FFFD.
  static constexpr char16_t high_controls[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                                 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {  // a line end would break the header line
      out += '?';
      continue;
    }
    if (byte < 0x80) {
      out += c;
      continue;
    }
    const unsigned code = byte < 0xA0 ? high_controls[byte - 0x80] : byte;
    if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
  return out;
}

std::string iso8601_now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  char date[32] = "";
  // std::gmtime's static result is safe here: only the recording thread asks for the time.
  const std::tm* utc = std::gmtime(&seconds);  // NOLINT(concurrency-mt-unsafe)
  if (utc != nullptr) std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", utc);
  char text[48];
  std::snprintf(text, sizeof text, "%s.%03dZ", date, static_cast<int>(millis));
  return text;
}

}  // namespace kolmrec
