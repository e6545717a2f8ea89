// What the two Windows ports share, and what the Windows tests reach past the platform contract.
//
// A port is opened for overlapped I/O: the receive thread keeps one 1-byte read pending and sleeps on it
// and the wake event together, costing nothing while the line is silent. A driver that refuses overlapped
// handles gets the polled port instead, which looks at the driver's input count between 1 ms waits.
#pragma once

#include <windows.h>

#include <memory>

#include "platform/serial_port.h"

namespace pekolm::platform::windows {

enum class IoMode { overlapped, polled };

// Errors after which the port will never deliver again.
bool went_away(DWORD os_error);

// The error a receive reports for the line errors ClearCommError returned (CE_ flags), 0 for none.
DWORD line_error(DWORD comm_errors);

// A foreign abort (ERROR_OPERATION_ABORTED that no cancel of ours caused) in a row this often is reported;
// fewer are taken as the driver resetting itself after an error or another program's purge.
constexpr int aborts_reported_after = 3;

// Opens COM<port_number> in the given mode and applies the settings; null and os_error on failure.
std::unique_ptr<SerialPort> open_port(int port_number, const LineSettings& settings, IoMode mode, int& os_error);

// The port's handle, for tests that act on it as a driver or another program would.
HANDLE handle_of(SerialPort& port);

// The pieces of both ports: the handle with its line set up, the wake event, and the calls that do not
// depend on the mode.
class PortBase : public SerialPort {
 public:
  PortBase(HANDLE port, HANDLE wake) : port_(port), wake_(wake) {}
  ~PortBase() override;
  PortBase(const PortBase&) = delete;
  PortBase& operator=(const PortBase&) = delete;

  void wait_for_interrupt() override { WaitForSingleObject(wake_, INFINITE); }
  // An auto-reset event: a wake that comes while nobody waits is kept for the next wait.
  void interrupt_wait() override { SetEvent(wake_); }
  bool read_cts(bool& cts_on) override;
  HANDLE handle() const { return port_; }

 protected:
  // Clears the driver's error state (a driver may stop delivering until this is called) and returns how
  // many bytes it holds; a line error since the last call is kept for the next receive to report.
  DWORD queued_input(DWORD& os_error);
  // The line error kept by queued_input(), reported once.
  DWORD take_line_error();
  // After a read that failed without the device going away, or ended with nothing although it could not:
  // clears the driver's error state and waits on the wake event, longer each time in a row, so that a driver
  // failing every read costs no spin. Returns `reported` as an error once such reads have come
  // `aborts_reported_after` times in a row (never when it is 0), an interrupt when a wake ended the wait,
  // and nothing (read again) otherwise.
  IoResult after_failed_read(DWORD reported);
  IoResult after_foreign_abort() { return after_failed_read(ERROR_OPERATION_ABORTED); }
  // A read that delivered ends a row of aborts.
  void delivered() { aborts_in_row_ = 0; }

  HANDLE port_;
  HANDLE wake_;

 private:
  DWORD line_error_ = 0;  // the receive thread's only, as is the next
  int aborts_in_row_ = 0;
};

std::unique_ptr<SerialPort> make_overlapped_port(HANDLE port, HANDLE wake, int& os_error);
std::unique_ptr<SerialPort> make_polled_port(HANDLE port, HANDLE wake);

}  // namespace pekolm::platform::windows
