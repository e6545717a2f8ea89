// The terminal layer for Windows: one input thread feeding a queue, the console's own mode restored at
// exit and on Ctrl-C, Beep for the tone.
//
// A key test must never block, yet neither a look at the console's key buffer (_kbhit misses keys under
// wine) nor one at a pipe tells reliably whether a key waits or the input has ended. A thread that blocks
// in the read tells both: the key test only looks at what it has queued, and reads wait on the queue.
// The console stays in one raw mode for the whole run, since a new mode would not reach the read already
// waiting in that thread; line mode is therefore this file's own, echoing and editing the typed line.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "terminal.h"

namespace kolmconsole {

namespace {

// What the input thread has read and nobody has taken yet.
struct InputQueue {
  std::mutex mutex;
  std::condition_variable arrived;
  std::string bytes;
  bool ended = false;  // the read found the end or failed: nothing more will come
};

// Made once and never freed: the thread is still blocked in its read when the program ends, and must not
// meet a destroyed mutex while the static objects go away.
InputQueue* g_queue = nullptr;
HANDLE g_input = INVALID_HANDLE_VALUE;
DWORD g_original_mode = 0;
// Read by the console control handler, which runs on a thread of its own.
std::atomic<bool> g_have_console{false};
std::atomic<bool> g_hung_up{false};

constexpr char ctrl_c = 0x03;
constexpr char ctrl_z = 0x1A;  // what Ctrl-D is on a POSIX terminal: the end of the input
constexpr char erase = 0x7F;

void restore_original() {
  if (g_have_console) ::SetConsoleMode(g_input, g_original_mode);
}

void deliver(const std::string& bytes, bool last) {
  {
    std::lock_guard lock(g_queue->mutex);
    g_queue->bytes += bytes;
    g_queue->ended = g_queue->ended || last;
  }
  g_queue->arrived.notify_all();
}

// The raw mode hands Ctrl-C over as a key instead of raising the event (wine raises it all the same);
// raising it here ends the program the way Ctrl-C always does, through the handler below.
void read_console() {
  char chunk[256];
  DWORD got = 0;
  while (::ReadConsoleA(g_input, chunk, sizeof chunk, &got, nullptr)) {
    std::string keys;
    for (DWORD i = 0; i < got; ++i) {
      if (chunk[i] == ctrl_c) {
        ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        continue;
      }
      // Enter gives CR; LF is what ends a line everywhere else in the console.
      keys += chunk[i] == '\r' ? '\n' : chunk[i];
    }
    deliver(keys, false);
  }
  // The console is gone.
  deliver("", true);
}

// A script written on Windows has CR LF line ends; read as LF, it runs as the same script from Linux.
void read_stream() {
  char chunk[256];
  DWORD got = 0;
  bool carried_cr = false;  // a CR that ended the last chunk, which an LF may yet follow
  while (::ReadFile(g_input, chunk, sizeof chunk, &got, nullptr) && got > 0) {
    std::string bytes;
    for (DWORD i = 0; i < got; ++i) {
      if (carried_cr && chunk[i] != '\n') bytes += '\r';
      carried_cr = chunk[i] == '\r';
      if (!carried_cr) bytes += chunk[i];
    }
    deliver(bytes, false);
  }
  // End of file, or the writer closed its end of the pipe.
  deliver(carried_cr ? "\r" : "", true);
}

bool can_go_on() { return !g_queue->bytes.empty() || g_queue->ended || g_hung_up; }

// Waits for the next byte; -1 once nothing more will come, or on a hang-up even with bytes left.
int next_byte() {
  std::unique_lock lock(g_queue->mutex);
  g_queue->arrived.wait(lock, can_go_on);
  if (g_hung_up || g_queue->bytes.empty()) return -1;
  const unsigned char byte = g_queue->bytes.front();
  g_queue->bytes.erase(0, 1);
  return byte;
}

// Moves everything queued to the end of into, waiting for a first byte when asked to; false when there is
// nothing and nothing more will come (or, without the wait, nothing yet).
bool take_all(std::string& into, bool wait) {
  std::unique_lock lock(g_queue->mutex);
  if (wait) g_queue->arrived.wait(lock, can_go_on);
  if (g_hung_up || g_queue->bytes.empty()) return false;
  into += g_queue->bytes;
  g_queue->bytes.clear();
  return true;
}

void show(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

// Appends one typed line with its LF; false when the console went away or Ctrl-Z began the line.
bool read_typed_line(std::string& into) {
  std::string line;
  for (;;) {
    const int key = next_byte();
    if (key == -1 || (key == ctrl_z && line.empty())) return false;
    if (key == '\n') {
      show("\n");
      into += line + '\n';
      return true;
    }
    if (key == '\b' || key == erase) {
      if (line.empty()) continue;
      line.pop_back();
      show("\b \b");
      continue;
    }
    if (key < ' ' && key != '\t') continue;  // no other control key means anything in an answer
    line += static_cast<char>(key);
    const char shown[2] = {static_cast<char>(key), '\0'};
    show(shown);
  }
}

BOOL WINAPI on_console_event(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    restore_original();
    return FALSE;  // the default handler ends the program, as it would have without this one
  }
  // The console window closes or the session ends: as a hang-up on POSIX, the input ends, so that the
  // console lets go of its port as q would. The system ends the program when its grace period is over, or
  // the program ends itself first and this thread with it.
  {
    std::lock_guard lock(g_queue->mutex);
    g_hung_up = true;
  }
  g_queue->arrived.notify_all();
  ::Sleep(INFINITE);
  return TRUE;
}

}  // namespace

Terminal::Terminal() : is_terminal_(false) {
  if (g_queue == nullptr) g_input = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  is_terminal_ = ::GetConsoleMode(g_input, &mode) != 0;
  if (is_terminal_) {
    g_original_mode = mode;
    g_have_console = true;
    ::SetConsoleMode(g_input, 0);
  }
  // A later Terminal takes over the thread of the first, which is still reading.
  if (g_queue == nullptr) {
    g_queue = new InputQueue;
    ::SetConsoleCtrlHandler(on_console_event, TRUE);
    std::thread(is_terminal_ ? read_console : read_stream).detach();
  }
}

Terminal::~Terminal() {
  std::fflush(stdout);
  restore_original();
  g_have_console = false;
}

bool Terminal::input_exhausted() const {
  // On a console, the rest of a typed line is for line reads only: no key comes from it.
  return g_hung_up || (ended_ && (is_terminal_ || next_ == pending_.size()));
}

bool Terminal::fill() {
  if (ended_) return false;
  std::fflush(stdout);
  if (next_ == pending_.size()) {
    pending_.clear();
    next_ = 0;
  }
  if (is_terminal_ ? read_typed_line(pending_) : take_all(pending_, true)) return true;
  ended_ = true;
  return false;
}

bool Terminal::key_pending() {
  if (input_exhausted()) return false;
  if (!is_terminal_ && next_ < pending_.size()) return true;
  if (ended_) return false;
  std::lock_guard lock(g_queue->mutex);
  if (g_queue->bytes.empty()) {
    ended_ = g_queue->ended;
    return false;
  }
  if (is_terminal_) return true;
  // A pipe or file: what has come is the script's next keys and answers, all of it.
  pending_.clear();
  next_ = 0;
  pending_.swap(g_queue->bytes);
  return true;
}

int Terminal::read_key(bool echo) {
  int key = -1;
  if (is_terminal_) {
    // Straight from the queue, past any rest of a typed line: that belongs to the line input.
    std::fflush(stdout);
    if (!ended_) key = next_byte();
    if (key == -1) ended_ = true;
  } else {
    key = get();
  }
  if (echo && key != -1) std::putchar(key);
  std::fflush(stdout);
  return key;
}

void pause_ms(int milliseconds) {
  if (milliseconds > 0) ::Sleep(static_cast<DWORD>(milliseconds));
}

void tone(int frequency_hz, int milliseconds) {
  const ULONGLONG start = ::GetTickCount64();
  ::Beep(static_cast<DWORD>(frequency_hz), static_cast<DWORD>(milliseconds));
  // Beep returns when the tone is over, but at once where it cannot play (wine's never waits): the program
  // waits as long either way.
  const ULONGLONG passed = ::GetTickCount64() - start;
  if (passed < static_cast<ULONGLONG>(milliseconds)) pause_ms(milliseconds - static_cast<int>(passed));
}

}  // namespace kolmconsole
