// Command handling of the simulated amplifier.
#include "amplifier.h"

#include <algorithm>
#include <cstring>

#include "rate_table.h"
#include "wire.h"

namespace kolmsim {
namespace {

constexpr std::uint8_t kTransmitBit = 0x02;  // bit 1 of the transmission mode: streaming on
constexpr std::uint8_t kHighestDeviceIoCode = 24;
constexpr std::uint8_t kUnitCount = 30;
constexpr int kStateLines = 8;  // the state byte has one bit per line
constexpr int kTypeLines = 12;

bool channel_ok(std::uint8_t ch) { return ch >= 1 && ch <= 4; }
bool type_ok(std::uint8_t type) { return type >= 1 && type <= 7; }
bool baud_code_ok(std::uint8_t code, int table_size) {
  return code % 0x10 == 0 && code >= 0x10 && code <= 0x10 * table_size;
}
std::size_t scale_bytes(std::uint8_t type) { return type == wire::kWideScaleType ? 4 : 3; }
std::uint32_t low24(std::uint32_t v) { return v & 0xFFFFFF; }

void load_settings(const AmplifierState& from, AmplifierState& to) {
  to.rate_code = from.rate_code;
  std::memcpy(to.gains, from.gains, sizeof to.gains);
  std::memcpy(to.scales, from.scales, sizeof to.scales);
  std::memcpy(to.norms, from.norms, sizeof to.norms);
  std::memcpy(to.offsets, from.offsets, sizeof to.offsets);
  std::memcpy(to.thresholds, from.thresholds, sizeof to.thresholds);
  std::memcpy(to.units, from.units, sizeof to.units);
  std::memcpy(to.unit_text, from.unit_text, sizeof to.unit_text);
  std::memcpy(to.io_types, from.io_types, sizeof to.io_types);
}

}  // namespace

AmplifierState::AmplifierState() {
  for (auto& norm : norms) {
    norm[0] = 0x3F;  // 1.0f, big-endian
    norm[1] = 0x80;
    norm[2] = 0x00;
    norm[3] = 0x00;
  }
  for (auto& row : offsets) std::fill(std::begin(row), std::end(row), 0x800000u);
  std::fill(std::begin(thresholds), std::end(thresholds), std::uint16_t{0x8000});
}

Amplifier::Amplifier(const AmplifierState& initial) : state_(initial) { saved_.fill(initial); }

Reaction Amplifier::handle(std::span<const std::uint8_t> command) {
  Reaction reaction;
  if (command.empty() || command.size() != wire::request_length(command)) return reaction;
  if (wire::is_query(command[0])) {
    reaction.answer_payload = answer(command);
  } else {
    apply(command, reaction);
  }
  return reaction;
}

std::optional<Bytes> Amplifier::answer(std::span<const std::uint8_t> c) const {
  const AmplifierState& s = state_;
  Bytes p;
  switch (c[0]) {
    case 0x27:
      p = {s.mode};
      break;
    case 0x2B:
      p = {s.firmware_version};
      break;
    case 0x16:
      p = {s.rate_code};
      break;
    case 0x29:
      p = {s.tx_mode};
      break;
    case 0xB1:
      p = {s.serial_baud_code};
      break;
    case 0xC1:
      p = {s.can_baud_code};
      break;
    case 0xB9:
      p = {s.io_state};
      break;
    case 0xB3:
      p.assign(std::begin(s.gains), std::end(s.gains));
      break;
    case 0xBD:
      p.assign(std::begin(s.unit_text), std::end(s.unit_text));
      break;
    case 0x1F: {
      // Always eight characters, whatever a test put into the state.
      std::string serial = s.serial_number;
      serial.resize(8, ' ');
      p.assign(serial.begin(), serial.end());
      break;
    }
    case 0x21: {
      const std::uint8_t reg = c[1];
      if (reg < 1 || reg > 16) return std::nullopt;
      p = {reg};
      wire::put_be(p, s.thresholds[reg - 1], 2);
      break;
    }
    case 0x89:
    case 0x0D: {
      const std::uint8_t ch = c[1], type = c[2];
      if (!channel_ok(ch) || !type_ok(type)) return std::nullopt;
      p = {ch, type};
      if (c[0] == 0x89) {
        wire::put_be(p, s.scales[ch - 1][type], static_cast<int>(scale_bytes(type)));
      } else {
        wire::put_be(p, low24(s.offsets[ch - 1][type]), 3);
      }
      break;
    }
    case 0xBB: {
      const std::uint8_t ch = c[1];
      if (!channel_ok(ch)) return std::nullopt;
      const std::uint8_t* norm = s.norms[ch - 1];
      p = {ch, norm[0], norm[1], norm[2], norm[3]};
      break;
    }
    case 0xB5: {
      const std::uint8_t ch = c[1];
      if (!channel_ok(ch)) return std::nullopt;
      p = {ch, s.units[ch - 1]};
      break;
    }
    case 0xB7: {
      const std::uint8_t line = c[1];
      if (line < 1 || line > kTypeLines) return std::nullopt;
      p = {line, s.io_types[line - 1]};
      break;
    }
    case 0xC6: {
      const std::uint8_t slot = c[1];
      if (slot < 1 || slot > 8) return std::nullopt;
      p = {slot};
      wire::put_be(p, s.can_ids[slot - 1], 4);
      break;
    }
    default:
      return std::nullopt;
  }
  return p;
}

void Amplifier::set_transmitting(bool on) {
  state_.transmitting = on;
  state_.tx_mode = static_cast<std::uint8_t>(on ? (state_.tx_mode | kTransmitBit) : (state_.tx_mode & ~kTransmitBit));
}

void Amplifier::apply(std::span<const std::uint8_t> c, Reaction& reaction) {
  AmplifierState& s = state_;
  switch (c[0]) {
    case 0x09:
    case 0x0A: {
      const std::uint8_t set = c[1];
      if (set < 1 || set > 3) return;
      if (c[0] == 0x09) {
        saved_[set - 1] = s;
      } else {
        load_settings(saved_[set - 1], s);
      }
      return;
    }
    case 0x0B:
      if (channel_ok(c[1]) && type_ok(c[2])) s.offsets[c[1] - 1][c[2]] = wire::read_be(c.subspan(3, 3));
      return;
    case 0x0C:
      if (channel_ok(c[1])) reaction.zero_channel = c[1];
      return;
    case 0x12:
      if (is_rate_code(c[1])) s.rate_code = c[1];
      return;
    case 0x1E:
      s.serial_number.assign(c.begin() + 1, c.end());
      return;
    case 0x20:
      if (c[1] >= 1 && c[1] <= 16) s.thresholds[c[1] - 1] = static_cast<std::uint16_t>(wire::read_be(c.subspan(2, 2)));
      return;
    case 0x23:
      set_transmitting(false);
      return;
    case 0x24:
      set_transmitting(true);
      return;
    case 0x26: {
      const std::string code(c.begin() + 2, c.end());
      if (c[1] <= 2 && code == s.access_code) s.mode = c[1];
      return;
    }
    case 0x28:
      s.tx_mode = c[1];
      s.transmitting = (c[1] & kTransmitBit) != 0;
      return;
    case 0x3B:
      reaction.send_value = true;
      return;
    case wire::kSetScale: {
      const std::uint8_t ch = c[1], type = c[2];
      if (channel_ok(ch) && type_ok(type)) s.scales[ch - 1][type] = wire::read_be(c.subspan(3));
      return;
    }
    case 0xB0:
      if (baud_code_ok(c[1], 6)) s.serial_baud_code = c[1];
      return;
    case 0xC0:
      if (baud_code_ok(c[1], 8)) s.can_baud_code = c[1];
      return;
    case 0xB2:
      if (channel_ok(c[1]) && type_ok(c[2])) s.gains[c[1] - 1] = c[2];
      return;
    case 0xB4:
      if (channel_ok(c[1]) && c[2] < kUnitCount) s.units[c[1] - 1] = c[2];
      return;
    case 0xB6:
      if (c[1] >= 1 && c[1] <= kTypeLines && c[2] <= kHighestDeviceIoCode) s.io_types[c[1] - 1] = c[2];
      return;
    case 0xB8: {
      const std::uint8_t line = c[1];
      if (line < 1 || line > kStateLines) return;
      const std::uint8_t bit = static_cast<std::uint8_t>(1u << (line - 1));
      s.io_state = static_cast<std::uint8_t>((c[2] & 1) ? (s.io_state | bit) : (s.io_state & ~bit));
      return;
    }
    case 0xBA:
      if (channel_ok(c[1])) std::copy(c.begin() + 2, c.end(), s.norms[c[1] - 1]);
      return;
    case 0xBC:
      std::copy(c.begin() + 1, c.end(), s.unit_text);
      return;
    case 0xC5:
      if (c[1] >= 1 && c[1] <= 8) s.can_ids[c[1] - 1] = wire::read_be(c.subspan(2, 4));
      return;
    default:
      return;
  }
}

}  // namespace kolmsim
