// Probes side by side, each in a forked process of its own: there each activation's error code is its own.
// The parent never calls the library, so that it forks without threads.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "probe.h"

namespace kolmscan {
namespace {

// Enough to probe a whole rig in one round of rates, few enough for any process limit.
constexpr std::size_t most_at_once = 64;

volatile sig_atomic_t stop_signal = 0;
extern "C" void note_signal(int signal) { stop_signal = signal; }
constexpr int stopping_signals[] = {SIGINT, SIGTERM, SIGHUP};

// The fields of a result, '\0' after each: the strings come from the amplifier and the library as C strings.
std::string encode(const ProbeResult& r) {
  char rate[64];
  std::snprintf(rate, sizeof rate, "%a", r.rate_hz);  // exact
  std::string text;
  for (const std::string& field : {std::to_string(static_cast<int>(r.outcome)), std::to_string(r.baud),
                                   std::to_string(r.firmware), std::to_string(r.mode), std::to_string(r.tx_mode),
                                   std::to_string(r.error), std::string(rate), r.serial_number, r.error_text}) {
    text += field;
    text += '\0';
  }
  return text;
}

ProbeResult broken(const std::string& why) {
  ProbeResult result;
  result.outcome = ProbeResult::Outcome::failed;
  result.error_text = why;
  return result;
}

ProbeResult decode(const std::string& text) {
  std::vector<std::string> fields;
  for (std::size_t start = 0, end; (end = text.find('\0', start)) != std::string::npos; start = end + 1) {
    fields.push_back(text.substr(start, end - start));
  }
  if (fields.size() != 9) return broken("the probe gave no whole answer");
  const auto number = [&](std::size_t i) { return std::atoi(fields[i].c_str()); };
  ProbeResult r;
  r.outcome = static_cast<ProbeResult::Outcome>(number(0));
  r.baud = number(1);
  r.firmware = number(2);
  r.mode = number(3);
  r.tx_mode = number(4);
  r.error = number(5);
  r.rate_hz = std::strtod(fields[6].c_str(), nullptr);
  r.serial_number = fields[7];
  r.error_text = fields[8];
  return r;
}

[[noreturn]] void probe_in_child(int number, int out) {
  for (const int signal : stopping_signals) ::signal(signal, SIG_DFL);
  const std::string text = encode(probe_port(number));
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(out, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ::_exit(1);
    done += static_cast<std::size_t>(n);
  }
  ::_exit(0);
}

struct Child {
  std::size_t index;  // of the result
  pid_t pid;
  int from;  // the read end of its pipe
  std::string text;
};

ProbeResult ended(const Child& child) {
  int status = 0;
  while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) return broken("the probe was ended by signal " + std::to_string(WTERMSIG(status)));
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return broken("the probe failed");
  return decode(child.text);
}

}  // namespace

int interrupting_signal() { return stop_signal; }

std::vector<ProbeResult> probe_ports(const std::vector<int>& numbers) {
  std::vector<ProbeResult> results(numbers.size());
  struct sigaction action {};
  action.sa_handler = note_signal;  // without SA_RESTART: poll() returns at once
  sigemptyset(&action.sa_mask);
  struct sigaction before[std::size(stopping_signals)];
  for (std::size_t i = 0; i < std::size(stopping_signals); ++i) sigaction(stopping_signals[i], &action, &before[i]);

  std::vector<Child> running;
  std::size_t next = 0;
  while (stop_signal == 0 && (next < numbers.size() || !running.empty())) {
    while (next < numbers.size() && running.size() < most_at_once) {
      int pipe_ends[2];
      if (::pipe2(pipe_ends, O_CLOEXEC) != 0) break;  // try again once a probe has ended
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::close(pipe_ends[0]);
        probe_in_child(numbers[next], pipe_ends[1]);
      }
      ::close(pipe_ends[1]);
      if (pid < 0) {
        ::close(pipe_ends[0]);
        break;
      }
      running.push_back({next++, pid, pipe_ends[0], {}});
    }
    if (running.empty()) {  // neither a pipe nor a process to be had
      for (; next < numbers.size(); ++next) results[next] = broken("no process for the probe");
      break;
    }
    std::vector<pollfd> waiting;
    waiting.reserve(running.size());
    for (const Child& child : running) waiting.push_back({child.from, POLLIN, 0});
    if (::poll(waiting.data(), waiting.size(), -1) < 0) continue;  // EINTR: a signal, or a child ended
    for (std::size_t i = waiting.size(); i-- > 0;) {
      if (waiting[i].revents == 0) continue;
      Child& child = running[i];
      char buffer[512];
      const ssize_t n = ::read(child.from, buffer, sizeof buffer);
      if (n > 0) {
        child.text.append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      ::close(child.from);
      results[child.index] = ended(child);
      running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  // Stopped by a signal: the children release their ports as they end.
  for (const Child& child : running) {
    ::kill(child.pid, SIGTERM);
    ::close(child.from);
    ended(child);
  }
  for (std::size_t i = 0; i < std::size(stopping_signals); ++i) sigaction(stopping_signals[i], &before[i], nullptr);
  return results;
}

}  // namespace kolmscan
