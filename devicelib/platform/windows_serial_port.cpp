// Serial ports on Windows: opening COM<n>, its line settings, and how its errors are read. The receive
// paths are in windows_overlapped_port.cpp and windows_polled_port.cpp.
#include "platform/windows_serial_port.h"

#include <string>

namespace pekolm::platform {

namespace windows {
namespace {

int last_error() { return static_cast<int>(GetLastError()); }

// Not in every SDK's headers: STATUS_NO_SUCH_DEVICE as the system maps it.
constexpr DWORD error_no_such_device = 433;

// Time-outs, line settings and queue sizes, in this order; returns 0 or the OS error code.
int configure(HANDLE port, const LineSettings& settings, IoMode mode) {
  // A write gives up after 100 ms + 2 ms a byte. An overlapped read waits for all it asked for, since the
  // receive thread asks only for one byte or for what the driver already holds; a polled read returns at
  // once with what has arrived.
  COMMTIMEOUTS timeouts{0, 0, 0, 2, 100};
  if (mode == IoMode::polled) timeouts.ReadIntervalTimeout = MAXDWORD;
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

// What a driver answers CreateFile with when it cannot do overlapped I/O.
bool refuses_overlapped(DWORD os_error) {
  return os_error == ERROR_INVALID_PARAMETER || os_error == ERROR_NOT_SUPPORTED || os_error == ERROR_INVALID_FUNCTION;
}

}  // namespace

bool went_away(DWORD os_error) {
  switch (os_error) {
    // The codes the system maps a driver's removal statuses to (RtlNtStatusToDosError): STATUS_DELETE_PENDING
    // (a handle on a device being removed) to ERROR_ACCESS_DENIED, STATUS_DEVICE_NOT_READY and
    // STATUS_DEVICE_OFF_LINE to ERROR_NOT_READY, STATUS_DEVICE_DOES_NOT_EXIST to ERROR_DEV_NOT_EXIST,
    // STATUS_NO_SUCH_DEVICE to 433, STATUS_DEVICE_NOT_CONNECTED to ERROR_DEVICE_NOT_CONNECTED and
    // STATUS_DEVICE_REMOVED to ERROR_DEVICE_REMOVED. USB serial drivers complete the reads of an unplugged
    // adapter with one of these, or with STATUS_UNSUCCESSFUL (ERROR_GEN_FAILURE) or an invalid request
    // (ERROR_BAD_COMMAND); a device whose object is gone fails with ERROR_FILE_NOT_FOUND, a closed handle
    // with ERROR_INVALID_HANDLE.
    case ERROR_FILE_NOT_FOUND:
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEV_NOT_EXIST:
    case error_no_such_device:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
      return true;
    default:
      return false;
  }
}

DWORD line_error(DWORD comm_errors) {
  // The system's own codes for the statuses a driver reports these with: STATUS_DATA_OVERRUN (bytes lost)
  // maps to ERROR_IO_DEVICE, STATUS_PARITY_ERROR and STATUS_DATA_ERROR (bytes damaged) to ERROR_CRC. Lost
  // bytes weigh more: they are the ones reported when both happened.
  if ((comm_errors & (CE_OVERRUN | CE_RXOVER)) != 0) return ERROR_IO_DEVICE;
  if ((comm_errors & (CE_FRAME | CE_RXPARITY | CE_BREAK)) != 0) return ERROR_CRC;
  return 0;
}

PortBase::~PortBase() {
  CloseHandle(port_);
  CloseHandle(wake_);
}

bool PortBase::read_cts(bool& cts_on) {
  DWORD status = 0;
  if (!GetCommModemStatus(port_, &status)) return false;
  cts_on = (status & MS_CTS_ON) != 0;
  return true;
}

DWORD PortBase::queued_input(DWORD& os_error) {
  DWORD errors = 0;
  COMSTAT status{};
  os_error = 0;
  if (!ClearCommError(port_, &errors, &status)) {
    os_error = GetLastError();
    return 0;
  }
  if (DWORD error = line_error(errors); error != 0) line_error_ = error;
  return status.cbInQue;
}

DWORD PortBase::take_line_error() {
  const DWORD error = line_error_;
  line_error_ = 0;
  return error;
}

IoResult PortBase::after_failed_read(DWORD reported) {
  ++aborts_in_row_;
  DWORD ignored = 0;
  queued_input(ignored);
  const DWORD pause_ms = aborts_in_row_ < 7 ? DWORD{1} << aborts_in_row_ : 100;
  if (WaitForSingleObject(wake_, pause_ms) == WAIT_OBJECT_0) return {0, 0, false, true};
  if (reported != 0 && aborts_in_row_ >= aborts_reported_after) return {0, static_cast<int>(reported)};
  return {};
}

std::unique_ptr<SerialPort> open_port(int port_number, const LineSettings& settings, IoMode mode, int& os_error) {
  const std::string name = device_path(port_number);
  const DWORD flags = mode == IoMode::overlapped ? FILE_FLAG_OVERLAPPED : 0;
  HANDLE port = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    os_error = last_error();
    if (mode == IoMode::overlapped && refuses_overlapped(GetLastError())) {
      return open_port(port_number, settings, IoMode::polled, os_error);
    }
    return nullptr;
  }
  if (int error = configure(port, settings, mode); error != 0) {
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
  if (mode == IoMode::polled) return make_polled_port(port, wake);
  return make_overlapped_port(port, wake, os_error);
}

HANDLE handle_of(SerialPort& port) { return static_cast<PortBase&>(port).handle(); }

}  // namespace windows

std::string device_path(int port_number) { return "\\\\.\\COM" + std::to_string(port_number); }

std::unique_ptr<SerialPort> open_system_serial_port(int port_number, const LineSettings& settings, int& os_error) {
  return windows::open_port(port_number, settings, windows::IoMode::overlapped, os_error);
}

}  // namespace pekolm::platform
