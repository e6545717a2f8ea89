// Serial ports on Windows: the communications API with synchronous reads that return at once (the port's
// read time-outs), and a wait that looks at the driver's input count between 1 ms waits on a wake event.
//
// A blocking wait on the port itself is not used: WaitCommEvent and overlapped reads are unreliable on
// emulated ports, and PurgeComm cannot be relied on to abort a blocked read. The 1 ms waits cost almost
// nothing with the timer period lowered to 1 ms while a port is open (otherwise a wait lasts a 15.6 ms tick).
#include <windows.h>
// windows.h first: timeapi.h needs its types.
#include <timeapi.h>

#include <cstdio>
#include <string>

#include "platform/serial_port.h"

namespace pekolm::platform {
namespace {

// Errors after which the port will never deliver again: an unplugged adapter, a closed handle.
bool went_away(DWORD os_error) {
  return os_error == ERROR_BAD_COMMAND || os_error == ERROR_DEVICE_NOT_CONNECTED || os_error == ERROR_GEN_FAILURE ||
         os_error == ERROR_INVALID_HANDLE || os_error == ERROR_ACCESS_DENIED || os_error == ERROR_FILE_NOT_FOUND;
}

int last_error() { return static_cast<int>(GetLastError()); }

class WindowsSerialPort final : public SerialPort {
 public:
  WindowsSerialPort(HANDLE port, HANDLE wake) : port_(port), wake_(wake) { timeBeginPeriod(1); }
  ~WindowsSerialPort() override {
    CloseHandle(port_);
    CloseHandle(wake_);
    timeEndPeriod(1);
  }

  IoResult read(std::uint8_t* destination, std::size_t max) override {
    DWORD got = 0;
    if (ReadFile(port_, destination, static_cast<DWORD>(max), &got, nullptr)) return {got, 0};
    const DWORD error = GetLastError();
    // A purge aborted the read: nothing arrived.
    if (error == ERROR_OPERATION_ABORTED || error == ERROR_IO_PENDING) return {0, 0};
    return {0, static_cast<int>(error), went_away(error)};
  }

  IoResult write(const std::uint8_t* source, std::size_t count) override {
    // The port's write time-outs (100 ms + 2 ms a byte) end a write held up by flow control.
    DWORD written = 0;
    if (!WriteFile(port_, source, static_cast<DWORD>(count), &written, nullptr)) return {written, last_error()};
    return {written, 0};
  }

  IoResult receive(std::uint8_t* destination, std::size_t max) override {
    for (;;) {
      DWORD errors = 0;
      COMSTAT status{};
      if (!ClearCommError(port_, &errors, &status)) {
        const DWORD error = GetLastError();
        if (went_away(error)) return {0, static_cast<int>(error), true};
        status.cbInQue = 1;  // let the read find out and report it
      }
      if (status.cbInQue > 0) return read(destination, max);
      if (WaitForSingleObject(wake_, 1) == WAIT_OBJECT_0) return {0, 0, false, true};
    }
  }

  void wait_for_interrupt() override { WaitForSingleObject(wake_, INFINITE); }
  // An auto-reset event: a wake that comes while nobody waits is kept for the next wait.
  void interrupt_wait() override { SetEvent(wake_); }

  int purge_input() override { return PurgeComm(port_, PURGE_RXABORT | PURGE_RXCLEAR) ? 0 : last_error(); }
  int purge_all() override {
    return PurgeComm(port_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) ? 0 : last_error();
  }

  bool read_cts(bool& cts_on) override {
    DWORD status = 0;
    if (!GetCommModemStatus(port_, &status)) return false;
    cts_on = (status & MS_CTS_ON) != 0;
    return true;
  }

 private:
  HANDLE port_;
  HANDLE wake_;
};

// Time-outs, line settings and queue sizes, in this order; returns 0 or the OS error code.
int configure(HANDLE port, const LineSettings& settings) {
  // A read returns at once with what has arrived; a write gives up after 100 ms + 2 ms a byte.
  COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 2, 100};
  if (!SetCommTimeouts(port, &timeouts)) return last_error();
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port, &dcb)) return last_error();
  const bool handshake = settings.hardware_handshake;
  dcb.BaudRate = static_cast<DWORD>(settings.baud);
  dcb.fBinary = 1;
  dcb.fParity = 0;
  dcb.fOutxCtsFlow = handshake ? 1 : 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fDtrControl = handshake ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fDsrSensitivity = 0;
  dcb.fTXContinueOnXoff = 0;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  dcb.fRtsControl = handshake ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = 0;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  if (!SetCommState(port, &dcb)) return last_error();
  if (!SetupComm(port, 32768, 256)) return last_error();
  return 0;
}

}  // namespace

std::string device_path(int port_number) { return "\\\\.\\COM" + std::to_string(port_number); }

std::unique_ptr<SerialPort> open_system_serial_port(int port_number, const LineSettings& settings, int& os_error) {
  const std::string name = device_path(port_number);
  HANDLE port = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    os_error = last_error();
    return nullptr;
  }
  if (int error = configure(port, settings); error != 0) {
    os_error = error;
    CloseHandle(port);
    return nullptr;
  }
  HANDLE wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (wake == nullptr) {
    os_error = last_error();
    CloseHandle(port);
    return nullptr;
  }
  return std::make_unique<WindowsSerialPort>(port, wake);
}

}  // namespace pekolm::platform
