// An amplifier for integration tests: the in-process simulator on a pty, reachable through the library as
// a port number (PEKOLM_PORT_DIR points at a temporary folder with the com<N> link).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "frames.h"
#include "kolmsim/simulator.h"

namespace testing_support {

using Bytes = kolmsim::Bytes;
// Commands as the amplifier received them, in hex (sent_hex()).
using Strings = std::vector<std::string>;

class SimulatedAmplifier {
 public:
  explicit SimulatedAmplifier(int port, const kolmsim::Options& options = {});
  ~SimulatedAmplifier();  // releases the port if it is still open
  SimulatedAmplifier(const SimulatedAmplifier&) = delete;
  SimulatedAmplifier& operator=(const SimulatedAmplifier&) = delete;

  int port() const { return port_; }
  kolmsim::Simulator& sim() { return simulator_; }

  // KolmactivateExtended on this port.
  int activate(int baud = 115200, int buffer_size = 1024, int flags = 0);
  // Activates and asserts success, then forgets the start-up's commands.
  void activate_or_fail(int baud = 115200, int buffer_size = 1024, int flags = 0);

  // Commands received since the last forget_commands(), each as its bytes.
  std::vector<Bytes> commands() const;
  // Waits until `count` commands have arrived (send-only commands reach the simulator a little later
  // than the library returns).
  std::vector<Bytes> wait_for_commands(std::size_t count,
                                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  void forget_commands() { simulator_.clear_commands(); }
  // The commands received, in hex ("0C 01"), once `count` have arrived.
  std::vector<std::string> sent_hex(std::size_t count) const;
  // The next answer to `command` carries this payload instead of the amplifier's own.
  void answer_once(std::uint8_t command, Bytes payload);

 private:
  int port_;
  kolmsim::Simulator simulator_;
};

// The folder the test process uses as PEKOLM_PORT_DIR; made on first use, removed at exit.
const std::string& port_dir();

// Polls the condition until it holds or the time is up; its last answer.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Entries of a folder such as /proc/self/fd or /proc/self/task: descriptors or threads of this process.
int count_entries(const char* dir);

// Milliseconds since `start`.
long elapsed_ms(std::chrono::steady_clock::time_point start);

Bytes bytes(std::initializer_list<int> values);
std::string hex(const Bytes& bytes);

}  // namespace testing_support
