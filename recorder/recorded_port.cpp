#include "recorded_port.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "error_text.h"
#include "pekolm.h"
#include "port_devices.h"

namespace kolmrec {
namespace {

constexpr double buffered_seconds = 10;
constexpr int continuous_transmission = 0x02;  // bit of the transmission mode
constexpr std::uint32_t lock_failed = 0x300000F0;
constexpr std::size_t scratch_sets = 1024;  // sets of four values taken per KolmreadMultiple

std::uint32_t last_error(int port) { return static_cast<std::uint32_t>(KolmgetLastError(port)); }

}  // namespace

RecordedPort::RecordedPort(PortRequest request, bool normalised, bool host_time)
    : request_(std::move(request)),
      normalised_(normalised),
      host_time_(host_time),
      buffer_size_(buffer_size_for(request_.baud)),
      label_(port_label(request_)) {
  description_.port = request_.port;
  description_.baud = request_.baud;
  description_.device = request_.device;
}

RecordedPort::~RecordedPort() { close(); }

int RecordedPort::buffer_size_for(int baud) {
  // An 11-byte frame takes 110 bit times; the line carries 95% of that at the most.
  const double line_rate = std::floor(baud / 110.0) * 0.95;
  return std::max(4096, static_cast<int>(std::ceil(line_rate * buffered_seconds)));
}

std::string RecordedPort::failure(const std::string& what) const {
  return label_ + ": " + what + ": " + error_text(last_error(request_.port));
}

bool RecordedPort::open() {
  const int port = request_.port;
  error_.clear();
  hint_.clear();
  if (KolmactExt(port, request_.baud, buffer_size_) != 0) {
    const std::uint32_t code = last_error(port);
    error_ = port_and_device(request_) + ": cannot open: " + error_text(code);
    // Someone who typed a number may have meant another device than the one it led to.
    if (request_.path.empty() && port_device_missing_or_silent(static_cast<int>(code)) != 0) {
      char line[port_device_size];
      hint_ = port_numbers_line(port, line, sizeof line);
    }
    return false;
  }
  open_ = true;
  // A transmission-mode or firmware query without an answer leaves its code behind a successful activation.
  if (const std::uint32_t pending = last_error(port); pending != 0) {
    warnings_.push_back(label_ + ": while opening: " + error_text(pending));
  }

  description_.rate_hz = KolmreadFreq(port);
  if (description_.rate_hz <= 0) {
    error_ = failure("cannot read the data rate");
    close();
    return false;
  }
  char serial[16] = {};
  if (KolmreadSerialNo(port, serial) == 0) {
    description_.serial_number = utf8_from_cp1252(serial);
  } else {
    warnings_.push_back(failure("no serial number"));
  }
  if (const int firmware = KolmfirmwareVersion(port); firmware >= 0) {
    description_.firmware_version = std::to_string(firmware);
  } else {
    warnings_.push_back(failure("no firmware version"));
  }
  for (int channel = 1; channel <= 4; ++channel) {
    // -1.0 is also a norm the amplifier may hold: only an error code tells a failure.
    const double norm = KolmDispGetNorm(port, channel);
    const std::uint32_t code = norm == -1.0 ? last_error(port) : 0;
    if (code != 0) {
      warnings_.push_back(label_ + ": no display norm of channel " + std::to_string(channel) +
                          ", taking 1: " + error_text(code));
    } else {
      description_.norms[channel - 1] = norm;
    }
    if (const int unit_code = KolmgetUnit(port, channel); unit_code >= 0)
      description_.unit_codes[channel - 1] = unit_code;
    char unit[8] = {};
    if (KolmgetUnitText(port, channel, unit) == 0) {
      description_.units[channel - 1] = utf8_from_cp1252(unit);
    } else {
      warnings_.push_back(failure("no unit of channel " + std::to_string(channel)));
    }
  }
  if (!normalised_) factors_ = description_.norms;
  return true;
}

void RecordedPort::start() {
  const int port = request_.port;
  const int tx_mode = KolmgetTXmode(port);
  if (tx_mode < 0) {
    // Not knowing whether it transmits, start it anyway, but leave it running at the end.
    warnings_.push_back(failure("cannot read the transmission mode"));
    if (KolmstartTX(port) != 0) warnings_.push_back(failure("cannot start the transmission"));
  } else if ((tx_mode & continuous_transmission) == 0) {
    if (KolmstartTX(port) == 0) {
      started_transmission_ = true;
    } else {
      warnings_.push_back(failure("cannot start the transmission"));
    }
  }
  if (KolmclearDLLbuffer(port) != 0) warnings_.push_back(failure("cannot empty the value buffers"));
  clock_ = SampleClock(description_.rate_hz);
  values_.resize(4 * scratch_sets);
}

void RecordedPort::take(SampleSink& sink, std::uint64_t limit, double host_seconds) {
  if (!open_ || ended_ || clock_.next_index() >= limit) return;
  const int port = request_.port;
  // Full now means the oldest values may already have been overwritten: the clock tells how many, and the
  // rows say where, since the values alone would run on as if nothing had happened.
  const int waiting = Kolmreceived(port, 5);
  const bool full = waiting >= buffer_size_;
  const std::uint64_t lost = clock_.read_at(host_seconds, static_cast<std::uint64_t>(std::max(waiting, 0)), full);
  if (full) {
    ++buffer_found_full_;
    estimated_lost_ += lost;
    sink.loss(port, clock_.next_index(), lost);
  }
  const auto host_column = host_time_ ? std::optional<double>(host_seconds) : std::nullopt;
  // In blocks: a read every 20 ms finds a few dozen sets, and a stretch behind is taken in several.
  while (clock_.next_index() < limit) {
    const auto wanted = static_cast<int>(std::min<std::uint64_t>(scratch_sets, limit - clock_.next_index()));
    int count = 0;
    const int result = KolmreadMultiple(port, 0, values_.data(), 4 * wanted, &count);
    if (result == -1) {
      const std::uint32_t code = last_error(port);
      if (code == lock_failed) {  // *count was not written; the values wait for the next round
        warnings_.push_back(label_ + ": " + error_text(code));
        return;
      }
      if (is_damaged_frame(code)) {
        ++damaged_frames_;
      } else if (code != 0) {
        warnings_.push_back(label_ + ": " + error_text(code) + "; its recording ends");
        ended_ = true;
      }
    }
    const auto taken = static_cast<std::size_t>(std::max(count, 0) / 4);
    if (taken != 0) sink.samples({description_, clock_.next_index(), values_.data(), taken, factors_, host_column});
    clock_.taken(taken);
    samples_ += taken;
    if (ended_ || taken < static_cast<std::size_t>(wanted)) return;
  }
}

void RecordedPort::close() {
  if (!open_) return;
  open_ = false;
  // The query after the stop returns once the amplifier has answered, so the stop has left the line
  // before the port closes (a pty drops what it has not yet handed over).
  if (started_transmission_ && (KolmstopTX(request_.port) != 0 || KolmgetTXmode(request_.port) < 0)) {
    warnings_.push_back(failure("cannot stop the transmission it started"));
  }
  Kolmrelease(request_.port);
}

std::vector<std::string> RecordedPort::take_warnings() { return std::exchange(warnings_, {}); }

}  // namespace kolmrec
