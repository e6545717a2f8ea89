// Formatting of the list: a table padded to its widest cells, and JSON written by hand.
#include "report.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace kolmscan {
namespace {

std::string or_dash(const std::string& text) { return text.empty() ? "-" : text; }

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : " ") + name;
  return or_dash(text);
}

std::string rate_text(double hz) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", hz);
  return text;
}

const char* outcome_name(ProbeResult::Outcome outcome) {
  switch (outcome) {
    case ProbeResult::Outcome::amplifier:
      return "amplifier";
    case ProbeResult::Outcome::silent:
      return "silent";
    case ProbeResult::Outcome::busy:
      return "busy";
    case ProbeResult::Outcome::failed:
      return "error";
    case ProbeResult::Outcome::skipped:
      break;
  }
  return "skipped";
}

// What a udev rule can match as it stands: a quote would end the value, and * ? [ would make it a pattern.
bool udev_safe(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           std::string_view("-_.:+ ").find(c) != std::string_view::npos;
  });
}

// The length of the well-formed UTF-8 sequence at text[i], or 0 where there is none.
std::size_t utf8_length(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  const std::size_t length = lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
  if (length == 0 || i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  // Neither an overlong form, a surrogate nor beyond U+10FFFF.
  const unsigned char second = byte(i + 1);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
      (lead == 0xF4 && second > 0x8F)) {
    return 0;
  }
  return length;
}

std::string number_or_null(long long value, bool known) { return known ? std::to_string(value) : "null"; }
std::string string_or_null(const std::string& text) { return text.empty() ? "null" : json_string(text); }

std::string string_array(const std::vector<std::string>& names) {
  std::string text = "[";
  for (std::size_t i = 0; i < names.size(); ++i) text += (i == 0 ? "" : ", ") + json_string(names[i]);
  return text + "]";
}

}  // namespace

std::string describe(const ProbeResult& probe) {
  switch (probe.outcome) {
    case ProbeResult::Outcome::amplifier: {
      std::string text = "amplifier " + or_dash(probe.serial_number) + ", firmware " +
                         (probe.firmware < 0 ? "?" : std::to_string(probe.firmware)) + ", mode " +
                         (probe.mode < 0 ? "?" : std::to_string(probe.mode)) + ", " +
                         (probe.rate_hz < 0 ? "?" : rate_text(probe.rate_hz)) + " Hz, " + std::to_string(probe.baud) +
                         " baud";
      if (probe.tx_mode >= 0) {
        char tx[16];
        std::snprintf(tx, sizeof tx, ", tx 0x%02X", static_cast<unsigned>(probe.tx_mode));
        text += tx;
      }
      return text;
    }
    case ProbeResult::Outcome::silent:
      return "silent at every baud rate";
    case ProbeResult::Outcome::busy:
      return "busy: another program has it open";
    case ProbeResult::Outcome::failed:
      return "error: " + probe.error_text;
    case ProbeResult::Outcome::skipped:
      break;
  }
  return "not probed: " + probe.error_text;
}

std::string table(const std::vector<Row>& rows) {
  const bool probed = std::any_of(rows.begin(), rows.end(), [](const Row& row) { return row.probe.has_value(); });
  std::vector<std::vector<std::string>> cells;
  cells.push_back(
      {"PORT", "DEVICE", "DRIVER", "VID:PID", "USB", "MANUFACTURER", "PRODUCT", "SERIAL", "BY-ID", "BY-PATH"});
  if (probed) cells.front().emplace_back("PROBE");
  for (const Row& row : rows) {
    const PortInfo& p = row.port;
    cells.push_back({p.number == 0 ? "-" : std::to_string(p.number),
                     p.target.empty() ? p.device : p.device + " -> " + p.target, or_dash(p.driver), or_dash(p.vid_pid),
                     or_dash(p.usb_path), or_dash(p.manufacturer), or_dash(p.product), or_dash(p.serial),
                     joined(p.by_id), joined(p.by_path)});
    if (probed) cells.back().push_back(row.probe ? describe(*row.probe) : "-");
  }
  std::vector<std::size_t> widths(cells.front().size(), 0);
  for (const auto& line : cells) {
    for (std::size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], line[i].size());
  }
  std::string text;
  for (const auto& line : cells) {
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
      out += line[i];
      if (i + 1 < line.size()) out += std::string(widths[i] - line[i].size() + 2, ' ');
    }
    text += out + "\n";
  }
  return text;
}

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else if (byte < 0x80) {
      out += c;
    } else if (const std::size_t length = utf8_length(text, i); length > 0) {
      out.append(text, i, length);
      i += length - 1;
    } else {
      out += "\\ufffd";  // an adapter's strings are bytes; JSON must be UTF-8
    }
  }
  return out + "\"";
}

std::string json(const std::vector<Row>& rows) {
  std::string text = "[";
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const PortInfo& p = rows[r].port;
    text += r == 0 ? "\n" : ",\n";
    text += "  {\"port\": " + number_or_null(p.number, p.number != 0) + ", \"device\": " + json_string(p.device) +
            ", \"target\": " + string_or_null(p.target) + ", \"driver\": " + string_or_null(p.driver) +
            ", \"vid_pid\": " + string_or_null(p.vid_pid) + ", \"usb_path\": " + string_or_null(p.usb_path) +
            ", \"usb_interface\": " + string_or_null(p.usb_interface) +
            ", \"manufacturer\": " + string_or_null(p.manufacturer) + ", \"product\": " + string_or_null(p.product) +
            ", \"serial\": " + string_or_null(p.serial) + ", \"by_id\": " + string_array(p.by_id) +
            ", \"by_path\": " + string_array(p.by_path);
    if (const auto& probe = rows[r].probe) {
      const bool found = probe->outcome == ProbeResult::Outcome::amplifier;
      text += ", \"probe\": " + json_string(outcome_name(probe->outcome)) +
              ", \"serial_number\": " + string_or_null(found ? probe->serial_number : "") +
              ", \"firmware\": " + number_or_null(probe->firmware, found && probe->firmware >= 0) +
              ", \"mode\": " + number_or_null(probe->mode, found && probe->mode >= 0) +
              ", \"rate_hz\": " + (found && probe->rate_hz >= 0 ? rate_text(probe->rate_hz) : "null") +
              ", \"tx_mode\": " + number_or_null(probe->tx_mode, found && probe->tx_mode >= 0) +
              ", \"baud\": " + number_or_null(probe->baud, found) +
              ", \"error\": " + number_or_null(probe->error, probe->outcome == ProbeResult::Outcome::failed) +
              ", \"note\": " + string_or_null(found ? "" : describe(*probe));
    }
    text += "}";
  }
  return text + (rows.empty() ? "]\n" : "\n]\n");
}

std::string udev_rules(const std::vector<Row>& rows, const std::vector<PortInfo>& listing, int first) {
  std::string text =
      "# Stable port numbers for the amplifiers kolmscan found: each USB adapter's tty is linked as\n"
      "# /dev/pekolm/com<n>, where the library opens port n. Install, then unplug and plug in again:\n"
      "#   sudo cp THIS_FILE /etc/udev/rules.d/70-pekolm.rules && sudo udevadm control --reload\n";
  int number = first;
  for (const Row& row : rows) {
    if (!row.probe || row.probe->outcome != ProbeResult::Outcome::amplifier) continue;
    const PortInfo& port = row.port;
    // A com<n> link to a tty that has a row of its own: the rule belongs to the tty.
    if (port.vid_pid.empty() && !row.identity.empty() && std::any_of(rows.begin(), rows.end(), [&](const Row& other) {
          return other.identity == row.identity && !other.port.vid_pid.empty();
        })) {
      continue;
    }
    text += "# amplifier " + row.probe->serial_number + " on " + port.device;
    if (port.vid_pid.empty() || number > 255) {
      text += number > 255 ? ": no port number left\n" : ": not on a USB adapter, left as it is\n";
      continue;
    }
    // Two adapters that report one serial number (clones do) are told apart by their USB sockets.
    const bool shared_serial = std::any_of(listing.begin(), listing.end(), [&](const PortInfo& other) {
      return other.vid_pid == port.vid_pid && other.serial == port.serial && other.usb_path != port.usb_path;
    });
    const bool by_serial = !port.serial.empty() && !shared_serial && udev_safe(port.serial);
    if (!by_serial && (port.usb_path.empty() || !udev_safe(port.usb_path))) {
      text += ": its adapter cannot be told from others, left as it is\n";
      continue;
    }
    // An adapter with several ports: one rule for each of its interfaces. Ports that share an interface
    // too cannot be told apart by a rule.
    const auto on_adapter = [&](bool same_interface) {
      return std::count_if(listing.begin(), listing.end(), [&](const PortInfo& other) {
        return other.usb_path == port.usb_path && other.vid_pid == port.vid_pid &&
               (!same_interface || other.usb_interface == port.usb_interface);
      });
    };
    const bool several_ports = on_adapter(false) > 1;
    if (several_ports && (on_adapter(true) > 1 || !udev_safe(port.usb_interface))) {
      text += ": its adapter has more ports than a rule can tell apart, left as it is\n";
      continue;
    }
    if (!by_serial) {
      text += port.serial.empty()      ? " (adapter without a serial number"
              : udev_safe(port.serial) ? " (adapter whose serial number another adapter shares"
                                       : " (adapter whose serial number a rule cannot hold";
      text += ": keep it in USB " + port.usb_path + ")";
    }
    const std::size_t colon = port.vid_pid.find(':');
    text += "\nSUBSYSTEM==\"tty\", SUBSYSTEMS==\"usb\", ATTRS{idVendor}==\"" + port.vid_pid.substr(0, colon) +
            "\", ATTRS{idProduct}==\"" + port.vid_pid.substr(colon + 1) + "\", ";
    text += by_serial ? "ATTRS{serial}==\"" + port.serial : "KERNELS==\"" + port.usb_path;
    text += "\", ";
    if (several_ports) text += "ENV{ID_USB_INTERFACE_NUM}==\"" + port.usb_interface + "\", ";
    text += "SYMLINK+=\"pekolm/com" + std::to_string(number) + "\", MODE=\"0660\", GROUP=\"dialout\"\n";
    ++number;
  }
  return text;
}

}  // namespace kolmscan
