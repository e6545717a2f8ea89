// The pseudo-terminal the amplifier sits on. The host opens the slave like a serial port; the
// simulator reads and writes the master.
#pragma once

#include <string>

namespace kolmsim {

class Pty {
 public:
  // Opens a master/slave pair in raw mode (no byte translated or echoed); throws std::system_error.
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  int master() const { return master_; }  // non-blocking; -1 once closed
  const std::string& slave_path() const { return slave_path_; }
  // Whether the host's side is set to this baud rate (0: any); false once closed.
  bool runs_at(int baud) const;
  // Closes both of our ends, so that the host sees the line drop.
  void close();

 private:
  int master_ = -1;
  // Held open, never read, for the pty's whole life: with no slave open the master reports a hang-up
  // (POLLHUP, EIO), and the host closes and reopens its slave many times.
  int slave_keeper_ = -1;
  std::string slave_path_;
};

// Wakes the serving thread from poll(): stop requests, injected bytes, changed state.
class Wakeup {
 public:
  Wakeup();  // throws std::system_error
  ~Wakeup();
  Wakeup(const Wakeup&) = delete;
  Wakeup& operator=(const Wakeup&) = delete;

  int fd() const { return fd_; }
  void notify();
  void drain();

 private:
  int fd_ = -1;
};

}  // namespace kolmsim
