// A simulated four-channel measuring amplifier on a pseudo-terminal.
//
// Written from the amplifier's side of the wire: it reads command bytes from the pty master, keeps the
// amplifier's settings, answers queries with answer frames and streams measured-value frames while
// transmitting. It shares no code with the device library on purpose, so that a misreading of the wire
// protocol cannot hide in both.
//
// Tests use it in-process; the `kolmsim` tool wraps it for people. All members are thread-safe.
//
// How the amplifier behaves where the wire leaves it open:
// - A command with an out-of-range parameter (channel 0 or 5, register 17, an unknown rate or baud
//   code, mode above 2, a wrong access code, ...) is ignored whole: nothing changes and a query gets
//   no answer, so the host times out.
// - 0x24 / 0x23 set / clear bit 1 of the transmission mode along with `transmitting`; 0x28 sets the
//   mode byte and starts or stops transmission by its bit 1. update_state() may set the two apart.
// - Parameter sets (0x09 / 0x0A) hold the measuring settings: rate, gains, scales, norms, offsets,
//   thresholds, units, unit text and I/O line types. A set never saved holds the starting settings.
// - Each channel plays a signal of its own (ChannelSignal: offset, sine, noise) plus a load step, summed in
//   raw counts and clamped to 0..65535. The default is a slow sine with a little noise. The tool sets them
//   from --offset, --sine, --noise and --load, and puts the load on and off by SIGUSR1 and SIGUSR2.
// - Zeroing (0x0C) makes the channel's present level, load included, read 32768 from then on.
// - Bytes that start no command are skipped; a started command waits for its bytes however long.
// - Output that the host does not read is kept up to 1 MiB; beyond that the oldest whole frames go.
//
// Errors: the constructor throws std::system_error when no pty can be had; link_port throws
// std::system_error; a channel outside 1..4 throws std::out_of_range; a bad ChannelSignal throws
// std::invalid_argument.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kolmsim {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// Everything the amplifier keeps. Channels and lines are 1-based on the wire; arrays here are 0-based.
struct AmplifierState {
  std::uint8_t mode = 1;                   // operating mode (0x26 sets, 0x27 reads)
  std::uint8_t tx_mode = 0x02;             // transmission mode flags; bit 1 = continuous transmission
  bool transmitting = true;                // sending measured-value frames now (0x24 / 0x23)
  std::uint8_t rate_code = 0xA8;           // data rate code 0x93..0xAF (25 Hz by default)
  std::string serial_number = "00012345";  // exactly 8 characters
  std::uint8_t firmware_version = 12;
  std::uint8_t gains[4] = {1, 1, 1, 1};  // input type code per channel
  std::uint32_t scales[4][8] = {};       // [channel][input type 0..7]; 24 bits except type 5
  std::uint8_t norms[4][4] = {};         // display norm per channel: IEEE single, big-endian bytes
  std::uint32_t offsets[4][8] = {};      // [channel][input type], 24 bits
  std::uint16_t thresholds[16] = {};     // registers 1..16 at index 0..15
  std::uint8_t units[4] = {1, 1, 1, 1};  // unit index per channel
  std::uint8_t unit_text[5] = {' ', ' ', ' ', ' ', ' '};
  std::uint8_t io_types[12] = {};        // device codes per line
  std::uint8_t io_state = 0;             // one bit per line
  std::uint8_t serial_baud_code = 0x50;  // 115200
  std::uint8_t can_baud_code = 0x50;     // 125000
  std::uint32_t can_ids[8] = {};
  std::string access_code = "quiran";  // a mode command with another code is ignored
  AmplifierState();                    // fills norms with 1.0f, offsets with 0x800000, thresholds with 0x8000
};

struct Options {
  std::uint8_t firmware_version = 12;
  bool transmitting = true;       // initial transmission state
  std::uint8_t tx_mode = 0x02;    // initial transmission mode byte
  std::uint8_t mode = 1;          // initial operating mode
  std::uint8_t rate_code = 0xA8;  // initial data rate code
  // The baud rate the amplifier's line runs at, as a host sets it on the pty (9600 .. 230400). A host at
  // another rate is not understood, and what the amplifier sends reaches it as zero bytes, as a real line
  // at a wrong rate gives noise. 0: every rate is right.
  int line_baud = 0;
};

// What a channel plays unless a fixed raw value is set, in raw counts: 32768 is zero and 31207 counts
// are 1.0 normalised, since normalised = (raw - 32768) * 1.05 / 32767.5. The defaults are the signal
// every channel starts with; the sine's phase is a quarter turn apart from one channel to the next.
struct ChannelSignal {
  int offset = 0;          // counts relative to 32768
  int amplitude = 300;     // peak of the sine, counts; 0 plays no sine
  double frequency = 0.2;  // of the sine, Hz: slow enough to follow by eye on a text display
  int noise = 6;           // uniform noise of up to this many counts either way; 0 plays none
};

// One command as the amplifier received it.
struct CommandRecord {
  Bytes bytes;           // command byte first, with its parameter bytes
  Clock::time_point at;  // when its last byte arrived
};

// Per-command fault injection (command byte -> behaviour). Cleared by clear_faults(). The payload
// length byte of a changed answer always tells the payload actually sent.
struct AnswerFault {
  bool silent = false;                 // receive the command, send no answer
  std::chrono::milliseconds delay{0};  // answer after this long
  int length_delta = 0;                // send this many payload bytes more (or fewer)
  std::optional<Bytes> payload{};      // send this payload instead of the real one
  bool once = false;                   // fault applies to the next such command only
};

class Simulator {
 public:
  explicit Simulator(const Options& options = {});
  // Stops the serving thread, closes the pty and removes the links made by link_port (those that
  // still point at this simulator's slave).
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Path of the pty slave, e.g. "/dev/pts/7".
  const std::string& slave_path() const;
  // Creates the symbolic link DIR/com<N> pointing at the slave. DIR must exist. A link already there is
  // replaced when it points at this slave or leads nowhere; anything else there (a file, a directory, a
  // link to a device) throws std::system_error with EEXIST and is left as it is.
  void link_port(const std::string& dir, int port_number) const;

  // ---- recorded commands ----
  std::vector<CommandRecord> commands() const;
  Bytes received_bytes() const;  // every byte received, concatenated, garbage included
  void clear_commands();         // forgets commands and received bytes
  // Waits until at least `count` commands have been recorded; false on time-out.
  bool wait_for_commands(std::size_t count, std::chrono::milliseconds timeout) const;

  // ---- state ----
  AmplifierState state() const;
  // `change` runs under the simulator's lock, between two commands: it must not call back into the
  // simulator. Changes to transmission or rate take effect at once.
  void update_state(const std::function<void(AmplifierState&)>& change);

  // ---- signal source ----
  // By default each channel plays the default ChannelSignal, so that a display looks alive.
  // set_channel_signal() gives a channel another one, set_channel_raw() a fixed value instead (played
  // exactly); whichever came last holds. A load, in counts, is added to whatever the channel plays
  // (clamped to 0..65535). clear_signals() returns to the default and forgets loads and zeroing.
  // A signal with negative noise or a frequency that is negative or not finite throws
  // std::invalid_argument.
  void set_channel_signal(int channel, const ChannelSignal& signal);
  void set_channel_raw(int channel, std::uint16_t raw);
  void set_channel_load(int channel, int load);
  void clear_signals();
  // Number of measured-value frames sent so far (written whole to the pty; dropped ones not counted).
  std::uint64_t frames_sent() const;

  // ---- faults ----
  // Faults shape answer frames only; a fault set for a send-only command has no effect. A query the
  // amplifier would not answer (out-of-range parameter) is answered only by a fault with a payload.
  void set_fault(std::uint8_t command, const AnswerFault& fault);
  // Forgets every fault: answer faults, broken terminators, garbage and splitting.
  void clear_faults();
  // The next n measured-value frames get a wrong terminator (bytes 9 and 10 not CR LF).
  void break_terminators(int n);
  // Split every outgoing frame (answers and values) into pieces of these sizes (repeating the last);
  // an empty list sends whole frames. A pause of `gap` lies between the pieces.
  void split_frames(std::vector<std::size_t> piece_sizes, std::chrono::milliseconds gap);
  // Put garbage bytes between measured-value frames: after every `every` frames, `garbage` is sent.
  // An `every` of 0 or less, or no garbage, turns it off.
  void garbage_between_frames(Bytes garbage, int every);
  // Sends raw bytes at once, between frames.
  void inject(const Bytes& raw);
  // True once everything queued for the host (frames, answers, injected bytes) has been written to the pty.
  bool all_sent() const;
  // Closes the master side: the library sees the device go away. Serving stops and the port links
  // are removed (the pty's number may soon belong to another simulator). Everything else keeps
  // working on the last state; there is no way back.
  void hang_up();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kolmsim
