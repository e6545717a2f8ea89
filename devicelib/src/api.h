// How an export runs: the port check, the operation, and one path that records its error code. No
// exception crosses the C interface.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "device.h"
#include "error_codes.h"
#include "pekolm.h"
#include "port_table.h"

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

// Port check, then the operation on the open device. `failed` is what the export returns on failure (-1
// or -1.0).
template <class T, class Operation>
T run_on_port(int port, T failed, Operation&& operation) {
  try {
    std::shared_ptr<Device> device = ports::find_open(port);
    if (!device) {
      ports::library_error = error::bad_port;
      return failed;
    }
    Result<T> result = operation(*device);
    if (result.ok()) return result.value;
    if (result.error != Result<T>::unrecorded) device->last_error = result.error;
    return failed;
  } catch (const std::bad_alloc&) {
    if (std::shared_ptr<Device> device = ports::find_open(port)) device->last_error = error::out_of_memory;
    return failed;
  } catch (...) {
    // Only a failing lock can throw here.
    if (std::shared_ptr<Device> device = ports::find_open(port)) device->last_error = error::lock_failed;
    return failed;
  }
}

// For the int exports: -1 on failure.
template <class Operation>
int run_int(int port, Operation&& operation) {
  return run_on_port<int>(port, -1, std::forward<Operation>(operation));
}

inline Result<int> fail(std::uint32_t code) { return Result<int>::failure(code); }

}  // namespace pekolm
