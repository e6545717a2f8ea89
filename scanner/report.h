// The list as people read it (an aligned table) and as programs read it (JSON).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "port_list.h"

namespace kolmscan {

struct ProbeResult {
  enum class Outcome { amplifier, silent, busy, failed, skipped };
  Outcome outcome = Outcome::skipped;
  std::string serial_number;  // of the amplifier
  int firmware = -1;          // -1: the query failed
  int mode = -1;
  double rate_hz = -1;
  int tx_mode = -1;
  int baud = 0;
  int error = 0;           // failed: the code KolmgetLastError returned
  std::string error_text;  // failed: its words; skipped: why
};

struct Row {
  PortInfo port;
  std::optional<ProbeResult> probe;  // set when probed (or skipped) with --probe
  std::string identity;              // device_identity(port) once probed: rows of one device share it
};

// One line per port under a heading, columns aligned; "-" where nothing is known.
std::string table(const std::vector<Row>& rows);
// A JSON array of one object per port, with the table's fields; null where nothing is known.
std::string json(const std::vector<Row>& rows);
// What a probe found, in the table's words.
std::string describe(const ProbeResult& probe);
// text as a JSON string, quotes included.
std::string json_string(const std::string& text);
// udev rules that link each amplifier found on a USB adapter as /dev/pekolm/com<n>, n counting up from
// `first`, keyed on the adapter's serial number or, for one without, on its USB path; a normal user in the
// dialout group may open the link. Amplifiers elsewhere get a comment instead. `listing` is every port of
// the system, so that adapters that share a serial number or a USB interface are told apart also when
// only some of them are in `rows`.
std::string udev_rules(const std::vector<Row>& rows, const std::vector<PortInfo>& listing, int first);

}  // namespace kolmscan
