// The port for drivers that refuse overlapped handles: synchronous reads that return at once (the port's
// read time-outs), and a wait that looks at the driver's input count between 1 ms waits on the wake event.
// The 1 ms waits cost little only with the timer period lowered to 1 ms while such a port is open
// (otherwise a wait lasts a 15.6 ms tick), which is why the overlapped port is the one used where it can be.
#include <windows.h>
// windows.h first: timeapi.h needs its types.
#include <timeapi.h>

#include "platform/windows_serial_port.h"

namespace pekolm::platform::windows {
namespace {

class PolledPort final : public PortBase {
 public:
  PolledPort(HANDLE port, HANDLE wake) : PortBase(port, wake) { timeBeginPeriod(1); }
  ~PolledPort() override { timeEndPeriod(1); }
  PolledPort(const PolledPort&) = delete;
  PolledPort& operator=(const PolledPort&) = delete;

  IoResult read(std::uint8_t* destination, std::size_t max) override {
    if (DWORD error = take_line_error(); error != 0) return {0, static_cast<int>(error)};
    DWORD got = 0;
    if (ReadFile(port_, destination, static_cast<DWORD>(max), &got, nullptr)) {
      if (got > 0) delivered();
      return {got, 0};
    }
    const DWORD error = GetLastError();
    if (error == ERROR_OPERATION_ABORTED) return after_foreign_abort();
    return {0, static_cast<int>(error), went_away(error)};
  }

  IoResult write(const std::uint8_t* source, std::size_t count) override {
    // The port's write time-outs end a write held up by flow control.
    DWORD written = 0;
    if (!WriteFile(port_, source, static_cast<DWORD>(count), &written, nullptr)) {
      return {written, static_cast<int>(GetLastError())};
    }
    return {written, 0};
  }

  IoResult receive(std::uint8_t* destination, std::size_t max) override {
    for (;;) {
      DWORD error = 0;
      const DWORD queued = queued_input(error);
      if (error != 0 && went_away(error)) return {0, static_cast<int>(error), true};
      // A failing look lets the read find out and report it.
      if (queued > 0 || error != 0) return read(destination, max);
      if (WaitForSingleObject(wake_, 1) == WAIT_OBJECT_0) return {0, 0, false, true};
    }
  }

  int purge_input() override { return PurgeComm(port_, PURGE_RXABORT | PURGE_RXCLEAR) ? 0 : last_error(); }
  int purge_all() override {
    return PurgeComm(port_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) ? 0 : last_error();
  }

 private:
  static int last_error() { return static_cast<int>(GetLastError()); }
};

}  // namespace

std::unique_ptr<SerialPort> make_polled_port(HANDLE port, HANDLE wake) {
  return std::make_unique<PolledPort>(port, wake);
}

}  // namespace pekolm::platform::windows
