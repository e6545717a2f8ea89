// The text of a recording: the header of comment lines and the rows of samples. Pure, so that tests
// and the benchmark check the format without a device.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kolmrec {

// What the header tells about one port. An item the amplifier did not give stays empty.
struct PortDescription {
  int port = 0;
  int baud = 0;
  std::string serial_number;
  std::string firmware_version;
  double rate_hz = 0;
  std::array<double, 4> norms{1, 1, 1, 1};
  std::array<std::string, 4> units;               // UTF-8
  std::string device{};                           // what the port number led to, or the device given by its path
  std::array<int, 4> unit_codes{-1, -1, -1, -1};  // indices of the unit table; -1 where not given
};

struct RecordingDescription {
  std::string start;  // ISO 8601
  int library_version = 0;
  bool normalised = false;
  bool host_time = false;  // the rows end in host_s
  std::vector<PortDescription> ports;
};

std::string header_text(const RecordingDescription& recording);
// A display norm is an IEEE single in the amplifier: printed as one, 0.1 reads 0.1 and not 0.100000001.
std::string norm_text(double norm);
// KolmdllVersion's 0x10009 as "1.9".
std::string library_version_text(int version);

// Appends one row per sample; `values` holds `samples` sets of four normalised values, each multiplied by
// its factor (the display norm, or 1 for normalised values). Sample k gets the index first_index + k. Given
// host_seconds, every row ends in it (the column host_s).
void append_rows(std::string& out, int port, std::uint64_t first_index, double rate_hz, const double* values,
                 std::size_t samples, const std::array<double, 4>& factors,
                 std::optional<double> host_seconds = std::nullopt);
// The comment line among the rows where a value buffer was found full: `lost` samples estimated missing
// before `index`.
std::string loss_note(int port, std::uint64_t index, std::uint64_t lost);

// A field of a CSV row, quoted when it holds a comma, a quote or a line end.
std::string csv_field(const std::string& text);
// A text of the amplifier's single-byte code page (Windows-1252) as UTF-8; control characters become '?'.
std::string utf8_from_cp1252(const std::string& text);
// Now, in UTC with milliseconds: 2026-12-08T07:15:02.123Z.
std::string iso8601_now();

}  // namespace kolmrec
