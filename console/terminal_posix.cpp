// The terminal layer for POSIX systems: termios modes, poll() for a pending key, signal-safe restore.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>

#include "terminal.h"

namespace kolmconsole {

namespace {

// Kept outside the object because the signal handlers need them.
struct termios g_original;   // the settings found at start, restored on every way out
struct termios g_key_mode;   // one key per read, no echo; Ctrl-C still raises SIGINT
struct termios g_line_mode;  // canonical with echo, what a person expects when typing a number
// Atomics rather than volatile flags: a signal may be handled on any thread, the library's among them.
std::atomic<int> g_have_terminal{0};
std::atomic<int> g_in_key_mode{0};
std::atomic<int> g_hung_up{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handlers need lock-free flags");
// SIGHUP writes a byte here. Waits for input poll this pipe as well, so a hang-up that comes just before
// a wait still ends it. Kept for the life of the process: a late signal must never write into a closed
// (or reused) descriptor.
int g_wake_pipe[2] = {-1, -1};

constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGQUIT, SIGPIPE};

void apply(const struct termios& mode) { ::tcsetattr(STDIN_FILENO, TCSANOW, &mode); }

void restore_original() {
  if (g_have_terminal) apply(g_original);
}

void install(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(signal_number, &action, nullptr);
}

// Restores the terminal, then lets the signal do what it would have done (end the program with the
// signal's status); the re-raised signal is delivered when the handler returns.
void on_ending_signal(int signal_number) {
  restore_original();
  install(signal_number, SIG_DFL);
  ::raise(signal_number);
}

// Only marks the hang-up: the console ends as q would, which releases the port and closes a recording.
void on_hang_up(int) {
  const int saved_errno = errno;
  g_hung_up = 1;
  if (g_wake_pipe[1] >= 0) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t ignored = ::write(g_wake_pipe[1], &byte, 1);
  }
  errno = saved_errno;
}

// Should no pipe be had, SIGHUP still ends the input at the next check; only a wait already under way
// then lasts until a key comes.
void make_wake_pipe() {
  int ends[2];
  if (::pipe(ends) != 0) return;
  for (int end : ends) {
    ::fcntl(end, F_SETFD, FD_CLOEXEC);
    ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);  // the handler must never block on it
  }
  g_wake_pipe[0] = ends[0];
  g_wake_pipe[1] = ends[1];
}

// Blocks until standard input can be read (a byte, its end or an error: the read tells) or the terminal
// hung up; false on a hang-up.
bool wait_for_input() {
  struct pollfd waits[2] = {{STDIN_FILENO, POLLIN, 0}, {g_wake_pipe[0], POLLIN, 0}};
  for (;;) {
    if (g_hung_up) return false;
    if (::poll(waits, 2, -1) > 0 || errno != EINTR) return !g_hung_up;
  }
}

void on_stop(int) {
  const int saved_errno = errno;
  restore_original();
  install(SIGTSTP, SIG_DFL);
  ::raise(SIGTSTP);
  errno = saved_errno;
}

// Back from a stop: the shell may have changed the settings, so set ours again.
void on_continue(int) {
  const int saved_errno = errno;
  install(SIGTSTP, on_stop);
  if (g_have_terminal) apply(g_in_key_mode ? g_key_mode : g_line_mode);
  errno = saved_errno;
}

}  // namespace

Terminal::Terminal() : is_terminal_(::isatty(STDIN_FILENO) == 1) {
  if (is_terminal_ && ::tcgetattr(STDIN_FILENO, &g_original) == 0) {
    g_key_mode = g_original;
    g_key_mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    g_key_mode.c_cc[VMIN] = 1;
    g_key_mode.c_cc[VTIME] = 0;
    g_line_mode = g_original;
    g_line_mode.c_lflag |= ICANON | ECHO;
    g_have_terminal = 1;
  } else {
    is_terminal_ = false;
  }
  for (int signal_number : ending_signals) install(signal_number, on_ending_signal);
  if (g_wake_pipe[0] < 0) make_wake_pipe();
  // Started with SIGHUP ignored (nohup): it stays ignored, and a hung-up terminal ends the input instead.
  struct sigaction hang_up {};
  if (::sigaction(SIGHUP, nullptr, &hang_up) != 0 || hang_up.sa_handler != SIG_IGN) install(SIGHUP, on_hang_up);
  if (is_terminal_) {
    install(SIGTSTP, on_stop);
    install(SIGCONT, on_continue);
  }
}

Terminal::~Terminal() {
  std::fflush(stdout);
  restore_original();
  g_have_terminal = 0;
}

void Terminal::enter_key_mode() {
  if (is_terminal_ && !g_in_key_mode) {
    g_in_key_mode = 1;
    apply(g_key_mode);
  }
}

void Terminal::enter_line_mode() {
  if (is_terminal_ && g_in_key_mode) {
    g_in_key_mode = 0;
    apply(g_line_mode);
  }
}

bool Terminal::input_exhausted() const {
  // On a terminal, the rest of a typed line is for line reads only: no key comes from it.
  return g_hung_up || (ended_ && (is_terminal_ || next_ == pending_.size()));
}

bool Terminal::fill() {
  if (ended_) return false;
  std::fflush(stdout);
  enter_line_mode();
  char chunk[256];
  for (;;) {
    if (!wait_for_input()) break;
    const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (got > 0) {
      if (next_ == pending_.size()) {
        pending_.clear();
        next_ = 0;
      }
      pending_.append(chunk, static_cast<std::size_t>(got));
      return true;
    }
    if (got < 0 && errno == EINTR) continue;
    break;
  }
  // End of input (also Ctrl-D on a line of its own), a read error such as EIO, or a hang-up.
  ended_ = true;
  return false;
}

bool Terminal::key_pending() {
  if (input_exhausted()) return false;
  if (!is_terminal_ && next_ < pending_.size()) return true;
  if (ended_) return false;
  enter_key_mode();
  struct pollfd input {
    STDIN_FILENO, POLLIN, 0
  };
  if (::poll(&input, 1, 0) <= 0) return false;
  if (is_terminal_) {
    // A hung-up terminal may report POLLHUP alone, or POLLIN too and then read nothing (read_key tells).
    if ((input.revents & POLLIN) != 0) return true;
    ended_ = (input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    return false;
  }
  // A pipe or file: readable may also mean ended, which only a read can tell.
  return fill();
}

int Terminal::read_key(bool echo) {
  int key = -1;
  if (is_terminal_) {
    // Straight from the terminal, past any rest of a typed line: that belongs to the line input.
    std::fflush(stdout);
    enter_key_mode();
    unsigned char c = 0;
    while (!ended_) {
      if (!wait_for_input()) {
        ended_ = true;
        break;
      }
      const ssize_t got = ::read(STDIN_FILENO, &c, 1);
      if (got == 1) {
        key = c;
        break;
      }
      if (got < 0 && errno == EINTR) continue;
      // Key mode has no end-of-file character: nothing to read means the terminal is gone.
      ended_ = true;
    }
  } else {
    key = get();
  }
  if (echo && key != -1) std::putchar(key);
  std::fflush(stdout);
  return key;
}

void pause_ms(int milliseconds) {
  struct timespec wait {
    milliseconds / 1000, (milliseconds % 1000) * 1000000L
  };
  while (::nanosleep(&wait, &wait) == -1 && errno == EINTR) {
  }
}

void tone(int /*frequency_hz*/, int milliseconds) {
  std::fputs("\a", stdout);
  std::fflush(stdout);
  pause_ms(milliseconds);
}

}  // namespace kolmconsole
