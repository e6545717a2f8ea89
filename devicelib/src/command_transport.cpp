// Command transport: see command_transport.h.
#include "command_transport.h"

#include <mutex>

namespace pekolm {

// A simulated or nearby amplifier answers within tens of microseconds; watching for that long first spares
// the query a sleep and the wake-up after it. Where the line takes milliseconds, a query spends a tenth of
// one in vain.
constexpr std::chrono::microseconds answer_spin{100};

std::uint32_t send(Device& device, const Command& command) {
  platform::IoResult written;
  {
    std::lock_guard one_command_at_a_time(device.write_mutex);
    // Once a release has begun no byte may reach the port.
    if (device.calls.closing()) return error::bad_port;
    written = device.port->write(command.data(), command.size());
  }
  if (written.error != 0) return error::write_failed | static_cast<std::uint32_t>(written.error);
  if (written.bytes != command.size()) return error::short_write;
  return 0;
}

Result<Answer> query(Device& device, const Command& command, std::size_t answer_length) {
  std::lock_guard transaction(device.transaction_mutex);
  {
    MutexLock lock(device.answer_mutex);
    device.answer_slot.expect(answer_length);
    // Under the mutex, as the decoder sets it: an answer taken for this query right away keeps its wake.
    device.answer_event.reset();
  }

  if (std::uint32_t code = send(device, command); code != 0) return Result<Answer>::failure(code);
  // A device that has gone will not answer; no need to wait for that.
  if (std::uint32_t gone = device.gone_error.load(); gone != 0) return Result<Answer>::failure(gone);
  // A late answer after a time-out is still taken by the decoder; the next query starts afresh.
  if (!device.answer_event.wait_for(answer_timeout, answer_spin)) return Result<Answer>::failure(error::answer_timeout);
  // Besides the answer, a release and a device going away wake the wait.
  if (device.calls.closing()) return Result<Answer>::failure(error::bad_port);

  MutexLock lock(device.answer_mutex);
  if (device.answer_slot.awaited()) {
    const std::uint32_t gone = device.gone_error.load();
    return Result<Answer>::failure(gone != 0 ? gone : error::answer_timeout);
  }
  if (device.answer_slot.received_length() != answer_length) return Result<Answer>::failure(error::answer_length);
  return Result<Answer>(device.answer_slot.answer());
}

}  // namespace pekolm
