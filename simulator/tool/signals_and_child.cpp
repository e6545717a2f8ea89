// Signal handling and the child command of the kolmsim tool.
#include "signals_and_child.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>

namespace kolmsim::tool {
namespace {

sigset_t tool_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGCHLD);
  sigaddset(&set, SIGUSR1);
  sigaddset(&set, SIGUSR2);
  return set;
}

timespec to_timespec(Clock::duration d) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::max(d, Clock::duration::zero()));
  return timespec{static_cast<time_t>(ns.count() / 1'000'000'000), static_cast<long>(ns.count() % 1'000'000'000)};
}

// Waits for a signal of the tool other than the two of the load, at most until `limit` (none: for ever);
// the load is switched meanwhile. Returns the signal, or 0 once the limit has passed.
int next_signal(LoadSwitch& load, std::optional<Clock::time_point> limit) {
  const sigset_t set = tool_signals();
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (limit && now >= *limit) return 0;
    std::optional<Clock::time_point> until = load.follow_schedule(now);
    if (limit && (!until || *limit < *until)) until = limit;
    int sig;
    if (until) {
      const timespec timeout = to_timespec(*until - now);
      sig = sigtimedwait(&set, nullptr, &timeout);
    } else {
      sig = sigwaitinfo(&set, nullptr);
    }
    if (sig == SIGUSR1 || sig == SIGUSR2) {
      load.set(sig == SIGUSR1);
    } else if (sig > 0) {
      return sig;
    }
    // Otherwise a time-out or an interruption: the loop looks at the clock again.
  }
}

// Only async-signal-safe calls between fork() and exec: the parent has other threads.
[[noreturn]] void exec_child(char* const argv[]) {
  sigset_t none;
  sigemptyset(&none);
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the forked child has one thread
  sigprocmask(SIG_SETMASK, &none, nullptr);  // exec keeps the mask; the command expects a clean one
  execvp(argv[0], argv);
  const int err = errno;
  const char* prefix = "kolmsim: cannot run ";
  [[maybe_unused]] ssize_t n = write(STDERR_FILENO, prefix, std::strlen(prefix));
  n = write(STDERR_FILENO, argv[0], std::strlen(argv[0]));
  n = write(STDERR_FILENO, ": ", 2);
  const char* reason = err == ENOENT ? "not found\n" : "cannot execute\n";
  n = write(STDERR_FILENO, reason, std::strlen(reason));
  _exit(127);
}

int exit_status(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return 1;
}

}  // namespace

void block_tool_signals() {
  const sigset_t set = tool_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int wait_for_stop_signal(LoadSwitch& load) {
  for (;;) {
    const int sig = next_signal(load, std::nullopt);
    if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP) return 0;
  }
}

int run_command(const std::vector<std::string>& command, LoadSwitch& load) {
  std::vector<char*> argv;
  argv.reserve(command.size() + 1);
  for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child < 0) {
    std::perror("kolmsim: fork");
    return 127;
  }
  if (child == 0) exec_child(argv.data());

  // A short time-out as well as SIGCHLD: a child status is never missed, whatever became of the signal.
  constexpr auto tick = std::chrono::milliseconds(100);
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) return exit_status(status);
    if (done < 0 && errno != EINTR) return 1;
    const int sig = next_signal(load, Clock::now() + tick);
    if (sig == SIGTERM || sig == SIGHUP) kill(child, sig);
    // SIGINT: the terminal delivered it to the command as well; the simulator keeps serving.
  }
}

}  // namespace kolmsim::tool
