// Probes side by side, each in a forked process of its own: there each activation's error code is its own.
// The parent never calls the library, so that it forks without threads.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "probe.h"

namespace kolmscan {
namespace {

// Enough to probe a whole rig in one round of rates, few enough for any process limit.
constexpr std::size_t most_at_once = 64;
// Six rates of the 6 s answer time-out and five queries of an amplifier that answers slowly take about 70 s;
// a probe still running long after that is stuck in the system (a device pulled mid-close).
constexpr auto probe_deadline = std::chrono::seconds(150);
// What a probe asked to stop may still need: the activation it is in, and a release.
constexpr auto stop_allowance = std::chrono::seconds(10);

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

extern "C" void stop_probe(int) { probe_stop = 1; }

// In a process group of its own, so that a Ctrl-C reaches the parent only; the parent's SIGTERM lets it end
// the activation it is in and release the port, rather than die holding the port exclusive.
[[noreturn]] void probe_in_child(int number, int out, const sigset_t& unblocked) {
  ::setpgid(0, 0);
  struct sigaction stop {};
  stop.sa_handler = stop_probe;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGTERM, &stop, nullptr);
  ::signal(SIGINT, SIG_IGN);
  ::signal(SIGHUP, SIG_IGN);
  pthread_sigmask(SIG_SETMASK, &unblocked, nullptr);
  const std::string text = encode(probe_port(number));
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(out, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ::_exit(1);
    done += static_cast<std::size_t>(n);
  }
  ::_exit(0);
}

using Clock = std::chrono::steady_clock;

struct Child {
  std::size_t index;  // of the result
  pid_t pid;
  int from;  // the read end of its pipe
  std::string text;
  Clock::time_point started;
};

ProbeResult ended(const Child& child) {
  int status = 0;
  while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
    return broken("the probe did not end within " + std::to_string(probe_deadline.count()) + " s");
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
  action.sa_handler = note_signal;
  sigemptyset(&action.sa_mask);
  struct sigaction before[std::size(stopping_signals)];
  // Blocked but while ppoll() waits, so that a signal between the look at stop_signal and the wait still
  // ends the wait.
  sigset_t stopping;
  sigset_t unblocked;
  sigemptyset(&stopping);
  for (const int signal : stopping_signals) sigaddset(&stopping, signal);
  pthread_sigmask(SIG_BLOCK, &stopping, &unblocked);
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
        probe_in_child(numbers[next], pipe_ends[1], unblocked);
      }
      ::close(pipe_ends[1]);
      if (pid < 0) {
        ::close(pipe_ends[0]);
        break;
      }
      running.push_back({next++, pid, pipe_ends[0], {}, Clock::now()});
    }
    if (running.empty()) {  // neither a pipe nor a process to be had
      for (; next < numbers.size(); ++next) results[next] = broken("no process for the probe");
      break;
    }
    std::vector<pollfd> waiting;
    waiting.reserve(running.size());
    for (const Child& child : running) waiting.push_back({child.from, POLLIN, 0});
    Clock::time_point first_due = Clock::time_point::max();
    for (const Child& child : running) {
      const Clock::time_point due = child.started + probe_deadline;
      if (due <= Clock::now()) ::kill(child.pid, SIGKILL);  // its pipe closes, and it is collected below
      first_due = std::min(first_due, due);
    }
    const auto wait = std::max(std::chrono::duration_cast<std::chrono::milliseconds>(first_due - Clock::now()),
                               std::chrono::milliseconds(10));
    const timespec timeout{static_cast<time_t>(wait.count() / 1000), static_cast<long>(wait.count() % 1000) * 1000000};
    if (::ppoll(waiting.data(), waiting.size(), &timeout, &unblocked) <= 0) continue;  // a signal, or a deadline
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
  // Stopped by a signal: each child ends the activation it is in and releases its port, or is killed.
  for (const Child& child : running) ::kill(child.pid, SIGTERM);
  const Clock::time_point give_up = Clock::now() + stop_allowance;
  for (const Child& child : running) {
    int status = 0;
    pid_t collected = 0;
    while ((collected = ::waitpid(child.pid, &status, WNOHANG)) == 0 && Clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (collected == 0) {
      ::kill(child.pid, SIGKILL);
      ::waitpid(child.pid, &status, 0);
    }
    ::close(child.from);
  }
  for (std::size_t i = 0; i < std::size(stopping_signals); ++i) sigaction(stopping_signals[i], &before[i], nullptr);
  pthread_sigmask(SIG_SETMASK, &unblocked, nullptr);
  return results;
}

}  // namespace kolmscan
