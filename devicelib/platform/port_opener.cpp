// Which opener activation uses: the platform's own, or the one a test installed in its place.
#include <mutex>
#include <utility>

#include "platform/serial_port.h"

namespace pekolm::platform {
namespace {

std::mutex opener_mutex;
PortOpener test_opener;

}  // namespace

std::unique_ptr<SerialPort> open_serial_port(int port_number, const LineSettings& settings, int& os_error) {
  PortOpener opener;
  {
    std::lock_guard lock(opener_mutex);
    opener = test_opener;
  }
  if (opener) return opener(port_number, settings, os_error);
  return open_system_serial_port(port_number, settings, os_error);
}

void set_port_opener(PortOpener opener) {
  std::lock_guard lock(opener_mutex);
  test_opener = std::move(opener);
}

}  // namespace pekolm::platform
