// Port table, library-wide error fields and the error export.
#include "port_table.h"

#include <array>
#include <chrono>
#include <mutex>

#include "api.h"
#include "platform/unload.h"

namespace pekolm::ports {

// The codes users look up by the header's names are the ones the library records.
static_assert(error::cts_timeout == PEKOLM_E_CTS_TIMEOUT && error::answer_timeout == PEKOLM_E_ANSWER_TIMEOUT &&
              error::answer_length == PEKOLM_E_ANSWER_LENGTH && error::answer_content == PEKOLM_E_ANSWER_CONTENT &&
              error::frame_terminator == PEKOLM_E_FRAME_TERMINATOR &&
              error::firmware_too_old == PEKOLM_E_FIRMWARE_TOO_OLD && error::lock_failed == PEKOLM_E_LOCK_FAILED &&
              error::event_failed == PEKOLM_E_EVENT_FAILED && error::out_of_memory == PEKOLM_E_OUT_OF_MEMORY &&
              error::short_write == PEKOLM_E_SHORT_WRITE && error::already_open == PEKOLM_E_ALREADY_OPEN &&
              error::bad_argument == PEKOLM_E_BAD_ARGUMENT && error::bad_port == PEKOLM_E_BAD_PORT &&
              error::write_failed == PEKOLM_E_WRITE_FAILED);

std::atomic<std::uint32_t> library_error{0};
std::atomic<int> activation_port{0};

namespace {
// The mutex is held only to copy a pointer in or out, never across I/O.
struct Table {
  std::mutex mutex;
  std::array<std::shared_ptr<Device>, last_port + 1> slots;
  // Released ports whose receive thread could not be ended and still holds the device (the latest per
  // port number): a forked child must let go of them as well.
  std::array<std::weak_ptr<Device>, last_port + 1> stranded;
};
// Never destroyed, so that the unload hook finds it whatever order the library's static objects go in; and
// not on the heap, so that an unloaded library leaves no memory behind.
Table& table() {
  static union Storage {
    Storage() : table() {}
    ~Storage() {}
    Table table;
  } storage;
  return storage.table;
}
}  // namespace

std::shared_ptr<Device> find_open(int port) {
  if (!in_range(port)) return nullptr;
  std::shared_ptr<Device> device;
  {
    std::lock_guard lock(table().mutex);
    device = table().slots[port];
  }
  // A port that is being released counts as closed already: its calls are being cut short.
  if (!device || !device->open.load() || device->calls.closing() || device->port_number != port) return nullptr;
  return device;
}

bool taken(int port) {
  std::lock_guard lock(table().mutex);
  return table().slots[port] != nullptr;
}

bool reserve(int port, std::shared_ptr<Device> device) {
  std::lock_guard lock(table().mutex);
  if (table().slots[port]) return false;
  table().slots[port] = std::move(device);
  return true;
}

void vacate(int port, const Device* device) {
  std::shared_ptr<Device> dropped;  // destroyed outside the lock: it may close the port
  std::lock_guard lock(table().mutex);
  if (table().slots[port].get() == device) dropped = std::move(table().slots[port]);
}

void strand(int port, const std::shared_ptr<Device>& device) {
  std::lock_guard lock(table().mutex);
  table().stranded[port] = device;
}

void for_each_open(const std::function<void(int port)>& visit) {
  // No allocation under the lock, which a fork's prepare handler takes too.
  std::array<int, last_port + 1> open_ports{};
  std::size_t count = 0;
  {
    std::lock_guard lock(table().mutex);
    for (const std::shared_ptr<Device>& device : table().slots) {
      if (device && device->open.load()) open_ports[count++] = device->port_number;
    }
  }
  for (std::size_t i = 0; i < count; ++i) visit(open_ports[i]);
}

namespace {

// A forked child has only the thread that forked: the ports' receive threads and any call inside a port
// stayed with the parent. The child forgets every port without touching its line: its exit must neither
// wait for threads it does not have nor purge the parent's input, and the parent's release must free the
// device although the child lives on. The table's lock is held across the fork, so that the child finds it
// free and the slots whole.
void lock_table_for_fork() { table().mutex.lock(); }
void unlock_table_after_fork() { table().mutex.unlock(); }

void forget_in_forked_child(const std::shared_ptr<Device>& device) {
  if (device->port) device->port->forget_in_forked_child();
  device->kept_in_forked_child = device;
}

void forget_ports_in_forked_child() {
  for (std::shared_ptr<Device>& slot : table().slots) {
    if (slot) forget_in_forked_child(slot);
    slot.reset();
  }
  for (std::weak_ptr<Device>& stranded : table().stranded) {
    if (std::shared_ptr<Device> device = stranded.lock()) forget_in_forked_child(device);
    stranded.reset();
  }
  table().mutex.unlock();
}

[[maybe_unused]] const bool fork_handlers_installed = [] {
  platform::on_fork(lock_table_for_fork, unlock_table_after_fork, forget_ports_in_forked_child);
  return true;
}();

}  // namespace

}  // namespace pekolm::ports

using namespace pekolm;

PEKOLM_API int PEKOLM_CALL KolmdllVersion(void) noexcept { return 0x10009; }

namespace {

int take_pending_error(int port) {
  // A failed activation is reported first, then the receive thread's error, then the last operation's.
  if (ports::library_error.load() != 0 && port == ports::activation_port.load()) {
    return static_cast<int>(ports::library_error.exchange(0));
  }
  std::shared_ptr<Device> device = ports::find_open(port);
  if (!device) return static_cast<int>(ports::library_error.exchange(0));

  if (std::uint32_t receive_error = device->receive_error.load(); receive_error != 0) {
    if (device->buffer_mutex.try_lock_for(buffer_lock_timeout)) {
      // A newer error the receive thread set meanwhile stays pending for the next call.
      std::uint32_t reported = receive_error;
      device->receive_error.compare_exchange_strong(reported, 0);
      device->buffer_mutex.unlock();
    }
    return static_cast<int>(receive_error);
  }
  return static_cast<int>(device->last_error.exchange(0));
}

}  // namespace

PEKOLM_API int PEKOLM_CALL KolmgetLastError(int port) noexcept {
  try {
    return take_pending_error(port);
  } catch (...) {
    return static_cast<int>(error::lock_failed);  // the port table's lock failed: that is the error to report
  }
}
