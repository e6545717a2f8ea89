// A serial port in memory, for what a pty cannot do: failing the n-th write or cutting it short, CTS that
// rises late or never, read errors and hang-ups. Installed in place of the platform's opener for the life
// of a FakePortInstaller; every port number then opens the same FakeLine.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/serial_port.h"

namespace testing_support {

using FakeBytes = std::vector<std::uint8_t>;

struct FakeLine {
  std::mutex mutex;
  std::condition_variable changed;

  // ---- the amplifier's side ----
  std::deque<std::uint8_t> incoming;  // bytes waiting for the library to read
  std::vector<FakeBytes> writes;      // every write attempt, in order
  // Answers a written command (bytes to put on the incoming side); the default plays an amplifier in
  // mode 1, transmission mode 2, firmware version 12.
  std::function<FakeBytes(const FakeBytes&)> responder;

  // ---- faults ----
  int open_error = 0;                                              // non-zero: opening fails with this errno
  int failing_write = 0;                                           // the n-th write (1-based) fails...
  int write_errno = 5;                                             // ...with this errno,
  bool write_short = false;                                        // ...or writes one byte less instead
  bool cts_readable = true;                                        // false: the modem status cannot be read
  std::optional<std::chrono::steady_clock::time_point> cts_on_at;  // CTS rises then (never if empty)
  bool hung_up = false;                                            // the device went away
  bool deaf = false;                                               // no interrupt ends a waiting receive
  int read_error = 0;                                              // the next read fails with this errno...
  bool read_error_persists = false;                                // ...or every read does, while set
  int failed_reads = 0;                                            // reads failed with read_error
  int purges = 0;                                                  // purge calls seen

  FakeLine();
  void push(const FakeBytes& bytes);  // bytes arrive from the amplifier
  std::vector<FakeBytes> written() {
    std::lock_guard lock(mutex);
    return writes;
  }
};

// Answers the queries of activation and a few more with fixed values.
FakeBytes default_response(const FakeBytes& command);

class FakePortInstaller {
 public:
  explicit FakePortInstaller(std::shared_ptr<FakeLine> line);
  ~FakePortInstaller();

 private:
  std::shared_ptr<FakeLine> line_;
};

}  // namespace testing_support
