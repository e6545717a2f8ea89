// Fuzz target for the answer side of every query export. The library is activated once, on a serial port
// of this file's own that answers each query command it is written with bytes from the input. An input is
// a run of calls: four bytes choose the export, the firmware version the library believes in and two
// arguments; the bytes after them shape the call's answers (noise or a measured-value frame before each,
// its content, a frame a byte or two long or short, noise after it), and the next call follows.
//
// Whatever the bytes, a query returns -1 with an error code recorded, or a value in its range; it writes
// its out-parameters only when it succeeds, and then only within the size the interface promises.
//
// Noise never holds 0xA5 or ';', and what follows a frame's ';' always covers the awaited length: a
// measured-value frame begun by stray bytes would swallow the next answer, and an answer the decoder still
// waits for costs the six-second answer time-out.
#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "exact_input.h"
#include "pekolm.h"
#include "platform/serial_port.h"
#include "port_table.h"
#include "protocol/conversions.h"
#include "protocol/error_codes.h"
#include "protocol/frame_decoder.h"
#include "protocol/wire.h"

namespace {

using namespace pekolm;

constexpr int port = 1;

// The input, read from front to back by the calls and by the amplifier's answers; zeros once it has run
// out, so that every query is answered in full.
class Script {
 public:
  void reset(const std::uint8_t* bytes, std::size_t size) {
    bytes_ = bytes;
    size_ = size;
    position_ = 0;
  }
  std::size_t remaining() const { return size_ - position_; }
  std::uint8_t next() { return position_ < size_ ? bytes_[position_++] : 0; }
  // A byte that is neither a measured-value frame's nor an answer's start.
  std::uint8_t noise() {
    const std::uint8_t b = next();
    return b == value_frame_start || b == answer_frame_start ? b ^ 0x80 : b;
  }

 private:
  const std::uint8_t* bytes_ = nullptr;
  std::size_t size_ = 0;
  std::size_t position_ = 0;
};
// Used on the calling thread only: the library writes a query's command on the thread that asked.
Script script;

// The length of the answer a written command waits for; 0 for a send-only command.
std::size_t answer_length(const std::uint8_t* command, std::size_t size) {
  constexpr wire::Query queries[] = {
      wire::read_offset,  wire::read_rate,        wire::read_serial_number, wire::read_threshold,  wire::get_mode,
      wire::get_tx_mode,  wire::firmware_version, wire::get_scale,          wire::get_serial_baud, wire::get_gains,
      wire::get_unit,     wire::get_io_type,      wire::get_io_state,       wire::get_norm,        wire::get_unit_text,
      wire::get_can_baud, wire::get_can_id,
  };
  for (const wire::Query& q : queries) {
    if (q.command != command[0]) continue;
    const bool wide_scale = q.command == wire::get_scale.command && size >= 3 && command[2] == 5;
    return q.answer_length + (wide_scale ? 1 : 0);
  }
  return 0;
}

// Appends the bytes that answer a query: a shape byte from the script, then what it asks for.
void answer(std::size_t length, std::deque<std::uint8_t>& line) {
  const std::uint8_t shape = script.next();
  const int before = shape & 3;
  if (before == 1) {
    for (int n = 1 + script.next() % 4; n > 0; --n) line.push_back(script.noise());
  } else if (before >= 2) {
    // A measured-value frame, well terminated or ending in whatever the input says.
    line.push_back(value_frame_start);
    for (int i = 0; i < 8; ++i) line.push_back(script.next());
    line.push_back(before == 2 ? '\r' : script.next());
    line.push_back(before == 2 ? '\n' : script.next());
  }
  // Mostly the right length. A long frame's surplus is noise to the decoder; a short one is completed by
  // the noise after it.
  constexpr int deltas[8] = {0, 0, 0, 0, 1, 2, -1, -2};
  const int delta = deltas[shape >> 2 & 7];
  line.push_back(answer_frame_start);
  for (std::size_t i = 1; i < length - std::max(0, -delta); ++i) line.push_back(script.next());
  for (int n = std::abs(delta) + (shape >> 5 & 3); n > 0; --n) line.push_back(script.noise());
}

// The amplifier's side of the line. Never destroyed: the port closed at exit still uses it.
struct Line {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::uint8_t> incoming;
  bool interrupted = false;
};
Line& line() {
  static Line* the_line = new Line;
  return *the_line;
}

class ScriptedPort final : public platform::SerialPort {
 public:
  platform::IoResult read(std::uint8_t* destination, std::size_t max) override {
    std::lock_guard lock(line().mutex);
    std::size_t n = 0;
    for (; n < max && !line().incoming.empty(); ++n) {
      destination[n] = line().incoming.front();
      line().incoming.pop_front();
    }
    if (line().incoming.empty()) line().changed.notify_all();
    return {n, 0};
  }
  platform::IoResult write(const std::uint8_t* source, std::size_t count) override {
    {
      std::lock_guard lock(line().mutex);
      if (const std::size_t length = answer_length(source, count); length != 0) {
        answer(length, line().incoming);
      }
    }
    line().changed.notify_all();
    return {count, 0};
  }
  platform::IoResult receive(std::uint8_t* destination, std::size_t max) override {
    {
      std::unique_lock lock(line().mutex);
      line().changed.wait(lock, [] { return line().interrupted || !line().incoming.empty(); });
      if (std::exchange(line().interrupted, false)) return {0, 0, false, true};
    }
    return read(destination, max);
  }
  void wait_for_interrupt() override {
    std::unique_lock lock(line().mutex);
    line().changed.wait(lock, [] { return line().interrupted; });
    line().interrupted = false;
  }
  void interrupt_wait() override {
    {
      std::lock_guard lock(line().mutex);
      line().interrupted = true;
    }
    line().changed.notify_all();
  }
  int purge_input() override {
    std::lock_guard lock(line().mutex);
    line().incoming.clear();
    return 0;
  }
  int purge_all() override { return purge_input(); }
  bool read_cts(bool& cts_on) override {
    cts_on = true;
    return true;
  }
};

// Waits until the receive thread has taken every byte, so that what a call's answers leave behind is
// decoded before the next call and not during it.
void settle() {
  std::unique_lock lock(line().mutex);
  line().changed.wait(lock, [] { return line().incoming.empty(); });
}

// An out-parameter of exactly the size the interface promises, filled with a marker that tells whether it
// was written.
class OutText {
 public:
  explicit OutText(std::size_t size) : bytes_(new char[size]), size_(size) { std::memset(get(), marker, size); }
  char* get() { return bytes_.get(); }
  bool untouched() const {
    return std::all_of(bytes_.get(), bytes_.get() + size_, [](char c) { return c == marker; });
  }
  bool terminated() const { return std::memchr(bytes_.get(), 0, size_) != nullptr; }

 private:
  static constexpr char marker = 0x7F;
  std::unique_ptr<char[]> bytes_;
  std::size_t size_;
};

// -2..13: every selector's range, and a little beyond it on both sides.
int argument(std::uint8_t byte) { return byte % 16 - 2; }

bool in(int value, int low, int high) { return value >= low && value <= high; }

template <std::size_t N>
bool one_of(int value, const std::array<int, N>& values) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

constexpr int export_count = 18;

// What a call produced, for the checks that hold for every export.
struct Outcome {
  double result;
  bool minus_one_is_a_value;  // the export can report -1 as a value, so -1 does not mean failure
};

// Runs one export; checks what only this export promises. `violation` names a broken promise, or stays
// null.
Outcome run_export(int index, int a, int b, const char*& violation) {
  auto require = [&](bool holds, const char* what) {
    if (!holds && violation == nullptr) violation = what;
  };
  auto byte_or_failure = [&](int r) {
    require(in(r, -1, 255), "not a byte");
    return Outcome{double(r), false};
  };
  switch (index) {
    case 0:
      return byte_or_failure(KolmgetMode(port));
    case 1:
      return byte_or_failure(KolmfirmwareVersion(port));
    case 2:
      return byte_or_failure(KolmgetTXmode(port));
    case 3: {
      const double r = KolmreadFreq(port);
      require(r == -1.0 || std::find(rate_table.begin(), rate_table.end(), r) != rate_table.end(), "not a rate");
      return {r, false};
    }
    case 4: {
      OutText serial(9);
      const int r = KolmreadSerialNo(port, serial.get());
      require(r == 0 || r == -1, "neither 0 nor -1");
      require(r == 0 ? serial.terminated() : serial.untouched(), "serial number buffer");
      return {double(r), false};
    }
    case 5: {
      auto on = std::make_unique<double>(99.0), off = std::make_unique<double>(99.0);
      const int r = KolmreadThreshold(port, a, on.get(), off.get());
      require(r == 0 || r == -1, "neither 0 nor -1");
      if (r == 0) {
        require(std::fabs(*on) <= 1.0500160219729915 && std::fabs(*off) <= 1.0500160219729915, "level");
      } else {
        require(*on == 99.0 && *off == 99.0, "levels written on failure");
      }
      return {double(r), false};
    }
    case 6:
      return {double(PeKolmgetScale(port, a, b)), true};  // 32 bits of a wide value: any int
    case 7: {
      const int r = KolmgetGain(port, a);
      if (a == 0) return {double(r), true};  // four codes packed
      return byte_or_failure(r);
    }
    case 8: {
      std::unique_ptr<int> types[4];
      for (auto& type : types) type = std::make_unique<int>(1000);
      const int r = KolmgetAnalogueType(port, types[0].get(), types[1].get(), types[2].get(), types[3].get());
      require(r == 0 || r == -1, "neither 0 nor -1");
      for (const auto& type : types) require(r == 0 ? in(*type, -128, 127) : *type == 1000, "input type");
      return {double(r), false};
    }
    case 9: {
      const double r = KolmDispGetNorm(port, a);
      require(std::isnan(r) || double(float(r)) == r, "not a single-precision value");
      return {r, true};
    }
    case 10: {
      const int r = KolmreadOffset(port, a, b);
      require(in(r, -1, 0xFFFFFF), "not 24 bits");
      return {double(r), false};
    }
    case 11: {
      const int r = KolmgetDigitalIOtype(port, a);
      require(in(r, -128, 17), "not an I/O type");  // device codes below 10 pass through, signed
      return {double(r), true};
    }
    case 12: {
      const int r = KolmgetDigitalIOvalue(port, a);
      if (a == 0) {
        require(in(r, -128, 127), "not a signed state byte");
        return {double(r), true};
      }
      require(r >= -1, "negative line state");
      return {double(r), false};
    }
    case 13: {
      const int r = KolmgetBaudSerial(port);
      require(r == -1 || one_of(r, std::array{9600, 19200, 38400, 57600, 115200, 230400}), "not a baud rate");
      return {double(r), false};
    }
    case 14: {
      const int r = KolmgetBaudCAN(port);
      require(r == -1 || one_of(r, std::array{20000, 50000, 80000, 100000, 125000, 250000, 500000, 1000000}),
              "not a CAN bit rate");
      return {double(r), false};
    }
    case 15:
      return {double(KolmgetCanID(port, a)), true};  // 32 bits passed through
    case 16:
      return byte_or_failure(KolmgetUnit(port, a));
    default: {
      OutText text(6);
      const int r = KolmgetUnitText(port, a, text.get());
      require(r == 0 || r == -1, "neither 0 nor -1");
      require(r == 0 ? text.terminated() : text.untouched(), "unit text buffer");
      if (r == 0 && a != 0) {
        require(std::any_of(unit_table.begin(), unit_table.end(),
                            [&](const char* unit) { return std::strcmp(unit, text.get()) == 0; }),
                "not a unit of the table");
      }
      return {double(r), false};
    }
  }
}

// The codes a query can leave on this port: it always answers, in full, and takes every write.
bool expected_code(std::uint32_t code) {
  return code == error::answer_content || code == error::bad_argument || code == error::firmware_too_old ||
         code == error::frame_terminator;  // a measured-value frame of the input without CR LF
}

// One call, its selectors from the script; aborts when a promise is broken.
void check_call(int call) {
  const int index = script.next() % export_count;
  constexpr std::uint32_t firmware_versions[8] = {0, 7, 8, 9, 10, 11, 12, 255};
  ports::find_open(port)->firmware_version = firmware_versions[script.next() & 7];
  const int a = argument(script.next());
  const int b = argument(script.next());

  const char* violation = nullptr;
  const Outcome outcome = run_export(index, a, b, violation);
  settle();

  // The receive thread's code of a bad measured-value frame comes first, then the call's own.
  bool call_recorded = false;
  for (int code; (code = KolmgetLastError(port)) != 0;) {
    const auto c = static_cast<std::uint32_t>(code);
    if (!expected_code(c) && violation == nullptr) violation = "unexpected error code";
    if (c != error::frame_terminator) call_recorded = true;
  }
  const bool failed = outcome.result == -1.0 && !outcome.minus_one_is_a_value;
  if (failed && !call_recorded && violation == nullptr) violation = "failed without an error code";
  if (outcome.result != -1.0 && call_recorded && violation == nullptr) violation = "succeeded with an error code";
  if (violation != nullptr) {
    std::fprintf(stderr, "answer_fuzz: call %d, export %d (%d, %d) returned %.17g: %s\n", call, index, a, b,
                 outcome.result, violation);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  platform::set_port_opener([](int, const platform::LineSettings&, int&) -> std::unique_ptr<platform::SerialPort> {
    return std::make_unique<ScriptedPort>();
  });
  // Activation asks for the mode, the transmission mode and the firmware version: an amplifier in mode 1
  // that transmits, firmware 12. Each answer: a plain shape byte, then the frame after its ';'.
  std::vector<std::uint8_t> startup;
  for (std::uint8_t payload : {1, 0x02, 12}) {
    startup.push_back(0);
    startup.insert(startup.end(), wire::payload - 1, 0);
    startup.push_back(payload);
    startup.insert(startup.end(), 2, 0);
  }
  script.reset(startup.data(), startup.size());
  if (KolmactivateExtended(port, 115200, 4, 0) != 0) {
    std::fprintf(stderr, "answer_fuzz: activation failed with 0x%X\n", static_cast<unsigned>(KolmgetLastError(port)));
    std::abort();
  }
  script.reset(nullptr, 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ExactInput input(data, size);
  script.reset(input.data(), input.size());
  for (int call = 1; script.remaining() >= 4; ++call) check_call(call);
  script.reset(nullptr, 0);
  return 0;
}
