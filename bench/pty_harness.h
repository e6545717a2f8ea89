// What the benchmarks share: ptys that play the amplifier's end of the line, the answers activation
// waits for, measured-value frames that carry a counter, and the per-thread accounting of /proc.
#pragma once

#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "frames.h"

namespace bench {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using testing_support::answer_frame;

// Many ports need several descriptors each (master, slave, reader, the library's tty and eventfd).
void raise_descriptor_limit();

// A temporary folder set as PEKOLM_PORT_DIR, so that the library finds port n at <folder>/com<n>.
class PortDir {
 public:
  PortDir();
  ~PortDir();
  PortDir(const PortDir&) = delete;
  PortDir& operator=(const PortDir&) = delete;
  const std::string& path() const { return path_; }
  void link(int port, const std::string& target) const;

 private:
  std::string path_;
};

// A pty whose master the harness writes. The harness holds a slave descriptor of its own for the life of
// the pty: without it the master would report a hang-up whenever no reader had the slave open, as between
// two phases.
class Pty {
 public:
  Pty();  // throws std::system_error
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  int master() const { return master_; }
  const std::string& slave_path() const { return slave_path_; }
  // Drops what the slave holds unread.
  void flush() const;

 private:
  int master_ = -1;
  int held_slave_ = -1;
  std::string slave_path_;
};

// Opens a tty raw with VMIN 1 and VTIME 0, as a plain program would; -1 on failure.
int open_raw(const std::string& path, bool nonblocking);

// The answer to a query that activation or a recorder asks (operating mode 1, transmitting, firmware 12,
// serial number, data rate, display norms, units), empty for any other command byte. `channel` is the byte
// after the command, for the queries that take one (takes_channel).
Bytes query_answer(std::uint8_t command, std::uint8_t channel);
bool takes_channel(std::uint8_t command);

inline constexpr std::size_t frame_length = 11;
inline constexpr double frame_rate = 1989.0;  // the most that 230400 baud carries

// The four raw values of frame `counter` of `port`: the counter's high and low half, then two checks of
// them that include the port, so that a corrupted frame or one of another port shows.
std::array<std::uint16_t, 4> counter_values(std::uint32_t counter, int port);
void encode_frame(const std::array<std::uint16_t, 4>& raw, std::uint8_t out[frame_length]);
// The raw value that the library normalised into `value`.
std::uint16_t raw_of(double value);

// Follows the counters of one port's frames.
struct CounterCheck {
  std::uint64_t received = 0, lost = 0, duplicated = 0, corrupted = 0;
  std::uint32_t expected = 0;  // the counter the next frame should carry
  void frame(const std::array<std::uint16_t, 4>& raw, int port);
  void add(const CounterCheck& other);
};

// Threads of this process by kernel id.
pid_t this_tid();
std::vector<pid_t> task_ids();

struct TaskUsage {
  double cpu_seconds = 0;     // user and system time (schedstat, else stat)
  long long read_calls = -1;  // syscr of /proc/.../io; -1 when unreadable
  TaskUsage& operator+=(const TaskUsage& other);
  TaskUsage operator-(const TaskUsage& earlier) const;
};
TaskUsage usage_of(const std::vector<pid_t>& tids);

// The p-th percentile (0..100) of the samples, nearest rank.
double percentile(std::vector<double> samples, double p);
double microseconds(Clock::duration d);

}  // namespace bench
