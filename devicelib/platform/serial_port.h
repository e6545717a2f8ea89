// The platform contract: everything the library needs from the operating system's serial ports.
//
// The rest of the library sees only this interface; the build picks one implementation per platform
// (linux_serial_port.cpp on Linux). Tests replace the opener with a fake port to reach failures a
// pseudo-terminal cannot produce.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pekolm::platform {

// What activation asks of the line; the rest is always raw 8N1 binary with nothing translated.
struct LineSettings {
  int baud = 9600;
  bool hardware_handshake = false;  // RTS/CTS flow control, DTR on
};

// Result of one read or write: the bytes moved, or an OS error code (errno on Linux).
struct IoResult {
  std::size_t bytes = 0;
  int error = 0;             // 0 on success
  bool gone = false;         // the device went away (unplugged, hung up): no read will deliver again
  bool interrupted = false;  // receive() only: interrupt_wait() ended the wait, and nothing was read
};

// One open serial port. Reads happen on the receive thread only; writes, purges and the modem status come
// from any thread and must be safe alongside a read.
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Returns at once with what has arrived, at most `max` bytes, possibly none.
  virtual IoResult read(std::uint8_t* destination, std::size_t max) = 0;
  // Writes all bytes, or stops after 100 ms + 2 ms per byte; a write cut short reports fewer bytes.
  virtual IoResult write(const std::uint8_t* source, std::size_t count) = 0;
  // Blocks until bytes have arrived and takes them, at most `max`; or until the device went away (an error
  // with `gone`), or interrupt_wait() is called (`interrupted`, no bytes). An interrupt that comes while
  // nobody waits is kept, so none is lost: the next receive() returns either bytes already waiting or the
  // interrupt.
  virtual IoResult receive(std::uint8_t* destination, std::size_t max) = 0;
  // Blocks until interrupt_wait() is called; used once the device has gone, to idle without spinning.
  virtual void wait_for_interrupt() = 0;
  // Aborts a pending or the next receive() or wait: the "abort a pending read" of a purge.
  virtual void interrupt_wait() = 0;
  // Discards what the driver holds of the input; returns 0 or an OS error code.
  virtual int purge_input() = 0;
  // Discards what the driver holds before the port is closed: the input, and output that a write left
  // queued (on Linux none is: a write waits until its bytes have left). Returns 0 or an OS error code.
  virtual int purge_all() = 0;
  // Reads the CTS line. False when the modem status cannot be read (CTS then counts as off).
  virtual bool read_cts(bool& cts_on) = 0;
  // In the child of a fork(), the only call a port gets: lets go of this process's hold on the device
  // without touching the line or its settings, which stay the parent's. The object is never used or
  // destroyed afterwards. Nothing to do where there is no fork().
  virtual void forget_in_forked_child() {}
};

// Opens port `port_number` (1..255) and applies the settings. On failure returns null and sets os_error.
using PortOpener =
    std::function<std::unique_ptr<SerialPort>(int port_number, const LineSettings& settings, int& os_error)>;

std::unique_ptr<SerialPort> open_serial_port(int port_number, const LineSettings& settings, int& os_error);

// The device that port `port_number` opens on this system (for tests and messages).
std::string device_path(int port_number);

// The platform's own opener (in the platform's file), whatever opener is installed: for tests that wrap
// the real port.
std::unique_ptr<SerialPort> open_system_serial_port(int port_number, const LineSettings& settings, int& os_error);

// For tests: replaces the opener used by activation; an empty function restores the platform's own.
void set_port_opener(PortOpener opener);

}  // namespace pekolm::platform
