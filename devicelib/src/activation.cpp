// Activation and teardown of a port.
#include "activation.h"

#include <algorithm>
#include <system_error>
#include <thread>

#include "api.h"
#include "platform/unload.h"
#include "receive_thread.h"

namespace pekolm {

using namespace std::chrono_literals;

std::uint32_t clamp_buffer_size(int requested) {
  if (requested < 1) return 1;
  return std::min(static_cast<std::uint32_t>(requested), max_buffer_size);
}

void sleep_at_least(std::chrono::milliseconds duration) {
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(duration);
  while (std::chrono::steady_clock::now() - start <= duration) std::this_thread::sleep_for(1ms);
}

bool teardown(const std::shared_ptr<Device>& device, Teardown mode) {
  if (!device->calls.close()) return false;  // another thread is releasing it
  // Every wait of another thread on this port ends now and finds the port closing: a query waiting for
  // its answer, a clear waiting for its acknowledgement, a pause between commands.
  device->answer_event.set();
  device->clear_acknowledged.set();
  device->calls.drain();

  device->answer_event.reset();
  const bool finished = device->receiver.stop(*device, mode == Teardown::unload);
  if (finished) {
    // Closed here rather than with the last reference to the device, so that the port can be opened
    // again as soon as the release returns.
    device->port->purge_all();
    device->port.reset();
  } else if (mode == Teardown::release) {
    // The thread runs this library's code for as long as it lives: an unload must not pull it away.
    ports::strand(device->port_number, device);
    platform::keep_library_loaded();
  }
  device->open = false;
  ports::vacate(device->port_number, device.get());
  return true;
}

namespace {

// Waits for CTS after opening a port with handshake; false when it did not come on in time.
bool wait_for_cts(platform::SerialPort& port) {
  const auto deadline = std::chrono::steady_clock::now() + 3000ms;
  for (;;) {
    bool cts_on = false;
    // A modem status that cannot be read counts as CTS off.
    if (!port.read_cts(cts_on) || cts_on) return cts_on;
    sleep_at_least(100ms);
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
}

// No other thread sees the device before it is open, so its rings need no lock yet.
bool allocate_rings(Device& device, std::uint32_t buffer_size) NO_THREAD_SAFETY_ANALYSIS {
  for (ValueRing& ring : device.rings) {
    if (!ring.allocate(buffer_size)) return false;
  }
  return true;
}

int fail_activation(std::uint32_t code) {
  ports::library_error = code;
  return -1;
}

}  // namespace

}  // namespace pekolm

using namespace pekolm;

namespace {

int activate(int port, int baud, int bufferSize, int flags) {
  ports::activation_port = port;
  if (!ports::in_range(port)) return fail_activation(error::bad_port);
  const std::uint32_t buffer_size = clamp_buffer_size(bufferSize);
  if (std::find(permitted_bauds.begin(), permitted_bauds.end(), baud) == permitted_bauds.end()) {
    return fail_activation(error::bad_argument);
  }

  if (ports::taken(port)) return fail_activation(error::already_open);

  std::shared_ptr<Device> device = std::make_shared<Device>();
  device->port_number = port;
  device->baud = baud;
  if (!ports::reserve(port, device)) return fail_activation(error::already_open);

  // Until the port is open, a failure (or an exception) only has to give the slot back; the device dies
  // with it.
  struct SlotGuard {
    int port;
    const Device* device;
    bool keep = false;
    ~SlotGuard() {
      if (!keep) ports::vacate(port, device);
    }
  } slot{port, device.get()};

  if (!allocate_rings(*device, buffer_size)) return fail_activation(error::out_of_memory);
  int os_error = 0;
  platform::LineSettings settings{baud, (flags & activation_flag::handshake) != 0};
  device->port = platform::open_serial_port(port, settings, os_error);
  if (!device->port) return fail_activation(static_cast<std::uint32_t>(os_error));
  try {
    device->receiver.start(device);
  } catch (const std::system_error& e) {
    return fail_activation(static_cast<std::uint32_t>(e.code().value()));
  }
  slot.keep = true;
  bool cts_on = true;
  {
    // Open from here on, so a release (the unload hook's, say) may come: it waits until the port is no
    // longer used here. The start-up sequence enters the gate again on its own.
    device->calls.enter();
    InsideGate inside(device->calls);
    device->open = true;
    sleep_at_least((flags & activation_flag::slow_start) ? 2000ms : 500ms);
    if (flags & activation_flag::handshake) cts_on = wait_for_cts(*device->port);
  }
  if (!cts_on) {
    teardown(device);
    return fail_activation(error::cts_timeout);
  }
  return run_startup_sequence(device, flags);
}

}  // namespace

PEKOLM_API int PEKOLM_CALL KolmactivateExtended(int port, int baud, int bufferSize, int flags) noexcept {
  try {
    return activate(port, baud, bufferSize, flags);
  } catch (const std::bad_alloc&) {
    return fail_activation(error::out_of_memory);
  } catch (...) {
    return fail_activation(error::lock_failed);
  }
}

PEKOLM_API int PEKOLM_CALL KolmactExt(int port, int baud, int bufferSize) noexcept {
  return KolmactivateExtended(port, baud, bufferSize, 0);
}

PEKOLM_API int PEKOLM_CALL Kolmrelease(int port) noexcept {
  try {
    std::shared_ptr<Device> device = ports::find_open(port);
    if (!device || !teardown(device)) {
      ports::library_error = error::bad_port;
      return -1;
    }
    return 0;
  } catch (...) {
    ports::library_error = error::lock_failed;  // only a failing lock can throw
    return -1;
  }
}

namespace {

// Ports still open when the library is unloaded (dlclose or the end of the process) are released, unless
// the system has ended the other threads already: a call cut off inside a port would be waited for in vain.
struct UnloadHook {
  ~UnloadHook() {
    if (platform::unloading_with_process()) return;
    // No other call runs while the library is unloaded: the threads may be woken before the gates close.
    ports::for_each_open([](int port) {
      if (std::shared_ptr<Device> device = ports::find_open(port)) device->receiver.request_stop(*device);
    });
    bool let_go = false;
    ports::for_each_open([&let_go](int port) {
      if (std::shared_ptr<Device> device = ports::find_open(port)) let_go |= teardown(device, Teardown::unload);
    });
    // Once for all ports, not once a port: the threads end side by side.
    if (let_go && !platform::can_join_during_unload()) ReceiveThread::finished_threads_leave();
  }
} unload_hook;

}  // namespace
