// The port on an overlapped handle. The receive thread keeps one 1-byte read pending and sleeps on it and
// the wake event together: a silent line costs no wake-up at all. When the byte comes, the rest of what the
// driver holds is taken with it. Only our own cancel (CancelIoEx, from a purge or the close) ends a pending
// read early, and counts as an interrupt: on emulated ports neither WaitCommEvent nor PurgeComm's abort can
// be relied on to.
//
// While values stream, a wake for every frame would cost more than the frame: then, once bytes come within
// 2 ms of the ones before, the thread waits a few milliseconds on the wake event alone before it takes what
// has gathered, and goes back to the pending read when a pause brings nothing. On Windows' default timer
// that pause lasts a tick (15.6 ms), which the driver's 32 KiB queue holds many times over.
//
// Overlapped calls on one handle do not wait for each other, unlike synchronous ones: a write held up by
// flow control leaves the receive thread reading.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "platform/windows_serial_port.h"

namespace pekolm::platform::windows {
namespace {

int error_code(DWORD os_error) { return static_cast<int>(os_error); }

class OverlappedPort final : public PortBase {
 public:
  static constexpr DWORD gather_ms = 4;  // the pause that lets a streaming line's frames gather

  OverlappedPort(HANDLE port, HANDLE wake) : PortBase(port, wake) {}
  OverlappedPort(const OverlappedPort&) = delete;
  OverlappedPort& operator=(const OverlappedPort&) = delete;

  ~OverlappedPort() override {
    // The system writes into read_ and the byte until the read has ended: wait for it.
    if (read_pending_) {
      CancelIoEx(port_, &read_);
      DWORD ignored = 0;
      GetOverlappedResult(port_, &read_, &ignored, TRUE);
    }
    if (read_done_ != nullptr) CloseHandle(read_done_);
    if (write_done_ != nullptr) CloseHandle(write_done_);
  }

  // Manual-reset events, as overlapped calls want them; 0 or the OS error code.
  int create_events() {
    read_done_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    write_done_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return read_done_ != nullptr && write_done_ != nullptr ? 0 : error_code(GetLastError());
  }

  IoResult read(std::uint8_t* destination, std::size_t max) override {
    if (DWORD error = take_line_error(); error != 0) return {0, error_code(error)};
    if (!read_pending_) return take_queued(destination, max, 0);
    // While the 1-byte read is pending, it gets the first byte to come and the driver holds none.
    if (WaitForSingleObject(read_done_, 0) != WAIT_OBJECT_0) return {};
    const IoResult first = finish_first_byte(destination);
    if (first.bytes == 0) return first;
    return take_queued(destination, max, 1);
  }

  IoResult receive(std::uint8_t* destination, std::size_t max) override {
    if (DWORD error = take_line_error(); error != 0) return {0, error_code(error)};
    if (streaming_) {
      // Bytes come in quick succession: a pause lets a few frames gather, so that one wake takes them
      // all rather than one wake each. A silent line never gets here.
      streaming_ = false;
      if (WaitForSingleObject(wake_, gather_ms) == WAIT_OBJECT_0) return {0, 0, false, true};
      const IoResult gathered = take_queued(destination, max, 0);
      streaming_ = gathered.bytes != 0;
      if (gathered.bytes != 0 || gathered.error != 0) return gathered;
    }
    for (;;) {
      if (!read_pending_) {
        const IoResult started = start_read();
        if (started.error != 0 || started.interrupted) return started;
        if (!read_pending_) continue;
      }
      // Both may be set: the byte comes first, the wake stays set for the next call.
      const HANDLE events[2] = {read_done_, wake_};
      const DWORD woken = WaitForMultipleObjects(2, events, FALSE, INFINITE);
      if (woken == WAIT_OBJECT_0 + 1) return {0, 0, false, true};
      if (woken != WAIT_OBJECT_0) return {0, error_code(GetLastError())};
      const IoResult first = finish_first_byte(destination);
      if (first.error != 0 || first.interrupted) return first;
      if (first.bytes != 0) return take_queued(destination, max, 1);
    }
  }

  IoResult write(const std::uint8_t* source, std::size_t count) override {
    // The port's write time-outs (100 ms + 2 ms a byte) end a write held up by flow control: it completes
    // then with the bytes that left.
    std::lock_guard one_write_at_a_time(write_mutex_);
    OVERLAPPED writing{};
    writing.hEvent = write_done_;
    DWORD written = 0;
    if (!WriteFile(port_, source, static_cast<DWORD>(count), nullptr, &writing) && GetLastError() != ERROR_IO_PENDING) {
      return {0, error_code(GetLastError())};
    }
    if (!GetOverlappedResult(port_, &writing, &written, TRUE)) return {written, error_code(GetLastError())};
    return {written, 0};
  }

  int purge_input() override {
    cancel_read();
    return PurgeComm(port_, PURGE_RXCLEAR) ? 0 : error_code(GetLastError());
  }
  int purge_all() override {
    cancel_read();
    return PurgeComm(port_, PURGE_TXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) ? 0 : error_code(GetLastError());
  }

 private:
  // Puts the 1-byte read in place; nothing (read_pending_ set, or an abort to retry), an error or an
  // interrupt.
  IoResult start_read() {
    read_ = OVERLAPPED{};
    read_.hEvent = read_done_;
    if (ReadFile(port_, &first_byte_, 1, nullptr, &read_) || GetLastError() == ERROR_IO_PENDING) {
      read_pending_ = true;
      return {};
    }
    const DWORD error = GetLastError();
    // A driver that aborted a read after an error refuses new ones until its error state is cleared.
    if (error == ERROR_OPERATION_ABORTED) return after_foreign_abort();
    return {0, error_code(error), went_away(error)};
  }

  // The pending read has ended: its byte, or why it brought none.
  IoResult finish_first_byte(std::uint8_t* destination) {
    read_pending_ = false;
    const bool cancelled_by_us = cancel_requested_.exchange(false);
    DWORD got = 0;
    if (GetOverlappedResult(port_, &read_, &got, TRUE)) {
      if (got == 1) {
        destination[0] = first_byte_;
        delivered();
        return {1, 0};
      }
      // A read ended with nothing is the driver's doing (these time-outs never end one): not a spin either.
      return after_failed_read(0);
    }
    const DWORD error = GetLastError();
    if (error == ERROR_OPERATION_ABORTED) return cancelled_by_us ? IoResult{0, 0, false, true} : after_foreign_abort();
    return {0, error_code(error), went_away(error)};
  }

  // Adds what the driver holds, up to `max` with the `taken` bytes already in `destination`.
  IoResult take_queued(std::uint8_t* destination, std::size_t max, std::size_t taken) {
    const IoResult result = take_queued_bytes(destination, max, taken);
    if (result.bytes != 0) {
      LARGE_INTEGER now;
      QueryPerformanceCounter(&now);
      streaming_ = now.QuadPart - last_delivery_ < counts_per_second() / 500;  // within 2 ms
      last_delivery_ = now.QuadPart;
    }
    return result;
  }

  static LONGLONG counts_per_second() {
    static const LONGLONG frequency = [] {
      LARGE_INTEGER f;
      QueryPerformanceFrequency(&f);
      return f.QuadPart;
    }();
    return frequency;
  }

  IoResult take_queued_bytes(std::uint8_t* destination, std::size_t max, std::size_t taken) {
    DWORD error = 0;
    const DWORD queued = queued_input(error);
    // A failing look with a byte in hand: the byte first, the look fails again on the next call.
    if (error != 0) return taken > 0 ? IoResult{taken, 0} : IoResult{0, error_code(error), went_away(error)};
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(queued, max - taken));
    if (wanted == 0) return {taken, 0};
    // The bytes are in the driver, so the read completes at once; a purge between the look and the read
    // would leave it waiting for new ones, and the purge's cancel ends it.
    read_ = OVERLAPPED{};
    read_.hEvent = read_done_;
    DWORD got = 0;
    bool done = ReadFile(port_, destination + taken, wanted, nullptr, &read_) || GetLastError() == ERROR_IO_PENDING;
    if (done) done = GetOverlappedResult(port_, &read_, &got, TRUE);
    const DWORD read_error = done ? 0 : GetLastError();
    cancel_requested_ = false;
    taken += got;
    if (read_error == 0 || read_error == ERROR_OPERATION_ABORTED || taken > 0) {
      if (taken > 0) delivered();
      return {taken, 0};
    }
    return {0, error_code(read_error), went_away(read_error)};
  }

  // A purge's abort of the pending read: marked first, so that the read's end is known to be ours.
  void cancel_read() {
    cancel_requested_ = true;
    if (!CancelIoEx(port_, &read_)) cancel_requested_ = false;  // nothing was pending
  }

  HANDLE read_done_ = nullptr;
  HANDLE write_done_ = nullptr;
  // The receive thread's, and the system's while a read is pending.
  OVERLAPPED read_{};
  std::uint8_t first_byte_ = 0;
  bool read_pending_ = false;
  bool streaming_ = false;      // the last bytes came within 2 ms of the ones before
  LONGLONG last_delivery_ = 0;  // when, in performance-counter counts
  std::atomic<bool> cancel_requested_{false};
  std::mutex write_mutex_;
};

}  // namespace

std::unique_ptr<SerialPort> make_overlapped_port(HANDLE port, HANDLE wake, int& os_error) {
  auto overlapped = std::make_unique<OverlappedPort>(port, wake);
  if (int error = overlapped->create_events(); error != 0) {
    os_error = error;
    return nullptr;
  }
  return overlapped;
}

}  // namespace pekolm::platform::windows
