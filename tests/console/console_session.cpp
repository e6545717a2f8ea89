// The pseudo-terminal session with kolmconsole; see console_session.h.
#include "console_session.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "simulated_amplifier.h"

extern char** environ;

namespace console_testing {

namespace {

std::string make_work_dir() {
  char pattern[] = "/tmp/kolmconsole-test.XXXXXX";
  const char* made = ::mkdtemp(pattern);
  return made != nullptr ? made : "";
}

// The environment for the child, built before fork: between fork and exec only async-signal-safe calls.
std::vector<std::string> child_environment(const std::string& port_dir) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "PEKOLM_PORT_DIR=", 16) != 0) entries.emplace_back(*entry);
  }
  entries.push_back("PEKOLM_PORT_DIR=" + port_dir);
  return entries;
}

}  // namespace

ConsoleSession::ConsoleSession(const std::string& port_dir, const std::vector<std::string>& program)
    : work_dir_(make_work_dir()) {
  const std::vector<std::string> environment = child_environment(port_dir);
  std::vector<char*> envp;
  for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  const std::vector<std::string> command = program.empty() ? std::vector<std::string>{KOLMCONSOLE_PATH} : program;
  std::vector<char*> argv;
  argv.reserve(command.size() + 1);
  for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  struct winsize size {};
  size.ws_row = 50;
  size.ws_col = 200;

  pid_ = ::forkpty(&master_, nullptr, nullptr, &size);
  if (pid_ == 0) {
    if (::chdir(work_dir_.c_str()) != 0) ::_exit(126);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  if (pid_ < 0) {
    ADD_FAILURE() << "forkpty failed: " << std::strerror(errno);
    return;
  }
  reader_ = std::thread([this] { read_output(); });
}

ConsoleSession::~ConsoleSession() {
  // In the sanitizer build a report lands in the console's output: a fault of the console in any test.
  for (const char* report : {"AddressSanitizer", "LeakSanitizer", "runtime error:"}) {
    if (output().find(report) != std::string::npos) ADD_FAILURE() << "sanitizer report" << tail(4000);
  }
  if (pid_ > 0 && !ending_) {
    ::kill(pid_, SIGKILL);
    wait_exit(5s);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  if (reader_.joinable()) reader_.join();
  if (master_ >= 0) ::close(master_);
  std::error_code ignored;
  if (!work_dir_.empty()) std::filesystem::remove_all(work_dir_, ignored);
}

void ConsoleSession::read_output() {
  char chunk[4096];
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
    }
    struct pollfd input {
      master_, POLLIN, 0
    };
    if (::poll(&input, 1, 50) <= 0) continue;
    const ssize_t got = ::read(master_, chunk, sizeof chunk);
    if (got <= 0) {
      // EIO once the console has closed its side; keep polling lightly until told to stop.
      ::usleep(20000);
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (ssize_t i = 0; i < got; ++i) {
      if (chunk[i] != '\r') output_ += chunk[i];
    }
    arrivals_.emplace_back(output_.size(), Clock::now());
    arrived_.notify_all();
  }
}

bool ConsoleSession::expect(const std::string& text, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  std::size_t found = std::string::npos;
  const bool came = arrived_.wait_for(lock, timeout, [&] {
    found = output_.find(text, cursor_);
    return found != std::string::npos;
  });
  if (!came) return false;
  cursor_ = found + text.size();
  for (const auto& [end, when] : arrivals_) {
    if (end >= cursor_) {
      matched_at_ = when;
      break;
    }
  }
  return true;
}

void ConsoleSession::send(const std::string& keys) {
  std::size_t written = 0;
  while (written < keys.size()) {
    const ssize_t n = ::write(master_, keys.data() + written, keys.size() - written);
    if (n <= 0) {
      ADD_FAILURE() << "typing into the console failed: " << std::strerror(errno);
      return;
    }
    written += static_cast<std::size_t>(n);
  }
}

bool ConsoleSession::answer(const std::string& prompt, const std::string& typed) {
  if (!expect(prompt)) return false;
  send(typed);
  return true;
}

void ConsoleSession::hang_up() {
  // The reader stops first, so that it never polls a descriptor number that is closed or reused.
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  if (reader_.joinable()) reader_.join();
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

std::string ConsoleSession::output() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return output_;
}

std::string ConsoleSession::unmatched() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return output_.substr(cursor_);
}

std::string ConsoleSession::tail(std::size_t length) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::size_t start = output_.size() > length ? output_.size() - length : 0;
  return "\n--- console output (last " + std::to_string(length) + " bytes) ---\n" + output_.substr(start) +
         "\n--- matched up to offset " + std::to_string(cursor_) + " of " + std::to_string(output_.size()) + " ---";
}

std::optional<Ending> ConsoleSession::wait_exit(std::chrono::milliseconds timeout) {
  if (ending_) return ending_;
  const Clock::time_point deadline = Clock::now() + timeout;
  do {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      ending_ = WIFEXITED(status) ? Ending{true, WEXITSTATUS(status)} : Ending{false, WTERMSIG(status)};
      return ending_;
    }
    ::usleep(10000);
  } while (Clock::now() < deadline);
  return std::nullopt;
}

unsigned ConsoleSession::local_modes() const {
  // The master and the slave of a pty share one set of settings.
  struct termios modes {};
  ::tcgetattr(master_, &modes);
  return modes.c_lflag;
}

kolmsim::Simulator& link(kolmsim::Simulator& sim, int port) {
  sim.link_port(testing_support::port_dir(), port);
  return sim;
}

void start_up(ConsoleSession& console, kolmsim::Simulator& sim, int port) {
  ASSERT_TRUE(console.expect("ComNr. eingeben: \n")) << console.tail();
  console.send(std::to_string(port) + "\n");
  ASSERT_TRUE(console.expect("Baudrate eingeben: \n")) << console.tail();
  console.send("115200\n");
  ASSERT_TRUE(console.expect("FW-Version: ")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(finish_with_pause(console));
  ASSERT_TRUE(testing_support::eventually([&] {
    const std::vector<kolmsim::CommandRecord> records = sim.commands();
    return !records.empty() && records.back().bytes == testing_support::bytes({0x24});
  })) << "the console did not start the transmission";
  sim.clear_commands();
}

void finish_with_pause(ConsoleSession& console) {
  ASSERT_TRUE(console.expect(" Beliebige Taste...\n\n")) << console.tail();
  console.send(" ");
}

std::vector<std::string> commands(const kolmsim::Simulator& sim, std::size_t count) {
  sim.wait_for_commands(count, 3s);
  std::vector<std::string> text;
  for (const kolmsim::CommandRecord& record : sim.commands()) text.push_back(testing_support::hex(record.bytes));
  return text;
}

void set_norm(kolmsim::Simulator& sim, int channel, float norm) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(norm);
  sim.update_state([&](kolmsim::AmplifierState& state) {
    for (int i = 0; i < 4; ++i) state.norms[channel - 1][i] = static_cast<std::uint8_t>(bits >> (24 - 8 * i));
  });
}

std::string read_file(const std::string& path) {
  std::ifstream file(path);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

}  // namespace console_testing
