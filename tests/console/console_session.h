// Drives kolmconsole as a person would: on a pseudo-terminal, waiting for each prompt before typing the
// answer, with the simulated amplifier in the test process.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kolmsim/simulator.h"
#include "simulated_amplifier.h"  // port_dir(), bytes(), hex(), eventually()

namespace console_testing {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How the child ended: its exit status, or the signal that ended it.
struct Ending {
  bool exited = false;
  int status = -1;  // exit status when exited, else the signal number
};

class ConsoleSession {
 public:
  // Starts kolmconsole in a fresh working directory; it finds its amplifier in port_dir. A `program` (path
  // first, then its arguments) runs instead, for one that starts the console itself, such as kolmsim.
  explicit ConsoleSession(const std::string& port_dir, const std::vector<std::string>& program = {});
  ~ConsoleSession();  // kills a console that is still running
  ConsoleSession(const ConsoleSession&) = delete;
  ConsoleSession& operator=(const ConsoleSession&) = delete;

  // Waits until text appears after the previous match and moves past it; false on time-out.
  bool expect(const std::string& text, std::chrono::milliseconds timeout = 10s);
  // When the output that completed the last match arrived.
  Clock::time_point matched_at() const { return matched_at_; }
  // Types the bytes.
  void send(const std::string& keys);
  // Waits for the prompt, then types the answer.
  bool answer(const std::string& prompt, const std::string& typed);
  // Closes the master side, as a closed terminal window or SSH session does: the console's terminal hangs
  // up. Nothing the console prints afterwards is collected.
  void hang_up();

  // Everything printed so far (CR LF as LF), and the part after the last match.
  std::string output() const;
  std::string unmatched() const;
  // The last part of the output, for failure messages.
  std::string tail(std::size_t length = 600) const;

  // Waits for the console to end.
  std::optional<Ending> wait_exit(std::chrono::milliseconds timeout = 10s);
  pid_t pid() const { return pid_; }
  // Local modes of the terminal the console runs on (ICANON, ECHO, ...).
  unsigned local_modes() const;
  const std::string& work_dir() const { return work_dir_; }

 private:
  void read_output();

  std::string work_dir_;
  pid_t pid_ = -1;
  int master_ = -1;
  std::optional<Ending> ending_;

  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::string output_;
  std::vector<std::pair<std::size_t, Clock::time_point>> arrivals_;  // end offset of each chunk, when
  std::size_t cursor_ = 0;
  Clock::time_point matched_at_{};
  bool stop_ = false;
  std::thread reader_;
};

// The simulator linked as com<port> in the test process's port folder.
kolmsim::Simulator& link(kolmsim::Simulator& sim, int port);

// Answers the start-up dialog (port, 115200 baud) and the pause after the identification, and waits for
// the console to start the transmission; the console is then in its display loop and the simulator's
// record of commands is empty.
void start_up(ConsoleSession& console, kolmsim::Simulator& sim, int port);

// Runs a key's dialog to its end: waits for the any-key pause and presses a key.
void finish_with_pause(ConsoleSession& console);

// The simulator's commands since its last clear_commands(), in hex ("0C 01"), once `count` have come.
std::vector<std::string> commands(const kolmsim::Simulator& sim, std::size_t count);

// A console on a simulated amplifier of its own, linked as com<port>. start() takes it into its display
// loop; a test then runs dialogs and ends each with ends_with().
class ConsoleTest : public ::testing::Test {
 protected:
  explicit ConsoleTest(int port, const kolmsim::Options& options = {}) : port_(port), sim(options) { link(sim, port); }

  void start() { ASSERT_NO_FATAL_FAILURE(start_up(console, sim, port_)); }
  // The dialog has ended: the pause text follows the given last output, and a key goes on.
  void ends_with(const std::string& last_output) {
    ASSERT_TRUE(console.expect(last_output + " Beliebige Taste...\n\n")) << console.tail();
    console.send(" ");
  }

  const int port_;
  kolmsim::Simulator sim;
  ConsoleSession console{testing_support::port_dir()};
};

// A display norm as the amplifier keeps it: IEEE single, most significant byte first.
void set_norm(kolmsim::Simulator& sim, int channel, float norm);

// Reads a file of the console's working directory; empty when it does not exist.
std::string read_file(const std::string& path);

}  // namespace console_testing
