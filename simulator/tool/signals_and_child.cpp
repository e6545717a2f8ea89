// Signal handling and the child command of the kolmsim tool.
#include "signals_and_child.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace kolmsim::tool {
namespace {

sigset_t tool_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGCHLD);
  return set;
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

int wait_for_stop_signal() {
  const sigset_t set = tool_signals();
  for (;;) {
    const int sig = sigwaitinfo(&set, nullptr);
    if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP) return 0;
  }
}

int run_command(const std::vector<std::string>& command) {
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

  const sigset_t set = tool_signals();
  // A short time-out as well as SIGCHLD: a child status is never missed, whatever became of the signal.
  const timespec tick{0, 100'000'000};
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) return exit_status(status);
    if (done < 0 && errno != EINTR) return 1;
    const int sig = sigtimedwait(&set, nullptr, &tick);
    if (sig == SIGTERM || sig == SIGHUP) kill(child, sig);
    // SIGINT: the terminal delivered it to the command as well; the simulator keeps serving.
  }
}

}  // namespace kolmsim::tool
