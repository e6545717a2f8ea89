// How an export runs: the port check, the operation, and one path that records its error code. No
// exception crosses the C interface.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "device.h"
#include "pekolm.h"
#include "port_table.h"
#include "protocol/error_codes.h"

namespace pekolm {

// An operation's result: a value, or the error code to record. A failure may also leave the pending code
// as it is (unrecorded), where the caller is meant to see the code of an earlier step.
template <class T>
struct Result {
  T value{};
  std::uint32_t error = 0;

  static constexpr std::uint32_t unrecorded = 0xFFFFFFFF;

  Result(T v) : value(v) {}  // NOLINT: a value converts to success
  static Result failure(std::uint32_t code) {
    Result r{T{}};
    r.error = code;
    return r;
  }
  bool ok() const { return error == 0; }
};

// Port check, then the operation on the open device, counted inside the port so that a release waits for
// it. `failed` is what the export returns on failure (-1 or -1.0). An operation cut short by a release
// fails as a call on a port that is not open.
template <class T, class Operation>
T run_on_port(int port, T failed, Operation&& operation) noexcept {
  std::shared_ptr<Device> device;
  try {
    device = ports::find_open(port);
    if (!device || !device->calls.enter()) {
      ports::library_error = error::bad_port;
      return failed;
    }
  } catch (...) {
    ports::library_error = error::lock_failed;  // only the port table's lock can throw here
    return failed;
  }
  InsideGate inside(device->calls);
  try {
    Result<T> result = operation(*device);
    if (result.ok()) return result.value;
    if (result.error == error::bad_port) {
      ports::library_error = error::bad_port;
    } else if (result.error != Result<T>::unrecorded) {
      device->last_error = result.error;
    }
  } catch (const std::bad_alloc&) {
    device->last_error = error::out_of_memory;
  } catch (...) {
    // Only a failing lock can throw here.
    device->last_error = error::lock_failed;
  }
  return failed;
}

// For the int exports: -1 on failure.
template <class Operation>
int run_int(int port, Operation&& operation) {
  return run_on_port<int>(port, -1, std::forward<Operation>(operation));
}

inline Result<int> fail(std::uint32_t code) { return Result<int>::failure(code); }

}  // namespace pekolm
