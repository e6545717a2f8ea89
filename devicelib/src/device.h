// The device record: everything the library knows about one open amplifier.
//
// Activation builds it, the receive thread fills its value rings and hands answers over through it, and
// every operation reads or writes it. Fields shared between threads are atomics or are guarded by the
// mutex named beside them; GUARDED_BY lets clang prove it (scripts/thread-safety.sh).
//
// Locks, what each guards and its longest wait:
//   transaction_mutex  one whole query (set up, write, wait, read)     a query: 6 s, or as long as the
//                                                                       queries queued before it
//   clear_mutex        one clear at a time                              until the clear is acknowledged
//   write_mutex        one command's bytes on the line                  the write limit, 100 ms + 2 ms a byte
//   answer_mutex       the answer slot (what is awaited, the answer)    brief (no I/O under it)
//   buffer_mutex       the rings                                        brief; waits give up after 20000 ms
//   calls (CallGate)   how many application calls are inside the port   brief; a release waits for the calls
// Nesting, outer first: transaction_mutex -> answer_mutex or write_mutex; clear_mutex -> buffer_mutex, then
// (after it) answer_mutex. buffer_mutex and answer_mutex are never held together; only transaction_mutex
// and clear_mutex stay held while their holder waits for an event (the answer, the acknowledgement). The two the
// protocol needs are buffer_mutex and answer_mutex; the others keep threads of one port apart (their bytes and answers)
// and let a release wait for them.
//
// Ownership: the port table's slot, every call inside the port and the receive thread each hold a
// shared_ptr to the record; teardown empties the slot, so the record dies with the last call or the thread.
// The port itself is closed by teardown once no call is inside and the thread has ended (a thread that
// does not end in time is left with the port, which closes when that thread ends and drops the record).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "call_gate.h"
#include "event.h"
#include "mutex.h"
#include "platform/serial_port.h"
#include "protocol/answer_slot.h"
#include "protocol/limits.h"
#include "protocol/value_ring.h"
#include "receive_thread.h"
#include "timed_mutex.h"

namespace pekolm {

// A wait for the buffer mutex gives up after this long.
inline constexpr std::chrono::milliseconds buffer_lock_timeout{20000};

// The state the receive thread and the application threads share. It outlives the record's slot for as
// long as any thread still uses it.
struct Device {
  int port_number = 0;  // the slot index while open
  int baud = 0;         // the rate given at activation; the data-rate limit follows from it

  std::unique_ptr<platform::SerialPort> port;

  // ---- measured values: guarded by buffer_mutex (waits bounded at 20000 ms) ----
  TimedMutex buffer_mutex;  // every wait for it gives up after buffer_lock_timeout
  std::array<ValueRing, channel_count> rings GUARDED_BY(buffer_mutex);

  // ---- answers: guarded by answer_mutex ----
  Mutex answer_mutex;
  AnswerSlot answer_slot GUARDED_BY(answer_mutex);
  Event answer_event{Event::Reset::manual};

  // Held for one command's write, so that commands from different threads never mix their bytes on the
  // line (a write may go out in pieces while the port's output buffer is full).
  std::mutex write_mutex;

  // Held across a whole query (set up, write, wait, read the answer), so that two threads querying one
  // port each get their own answer.
  std::mutex transaction_mutex;

  // ---- receive thread control ----
  std::atomic<bool> clear_requested{false};  // set by a clear and by teardown; values are not stored
  Event clear_acknowledged{Event::Reset::automatic};
  // One clear at a time: the receive thread answers each clear request with a single acknowledgement.
  std::mutex clear_mutex;
  ReceiveThread receiver;

  // The application calls inside the port; a release closes it and waits for them.
  CallGate calls;

  // ---- state and errors ----
  std::atomic<bool> open{false};                // set last by activation, cleared last by teardown
  std::atomic<std::uint32_t> receive_error{0};  // the receive thread's; read operations fail while set
  // The OS code with which the device went away (unplugged, hung up); it stays until release, since the
  // port never delivers again.
  std::atomic<std::uint32_t> gone_error{0};
  std::atomic<std::uint32_t> last_error{0};        // the last failed operation's
  std::atomic<bool> transmitting{false};           // the amplifier is taken to be sending values
  std::atomic<std::uint32_t> firmware_version{0};  // reported at activation; 0 if that failed

  // Set only in the child of a fork(): the record keeps itself alive there, since its threads, locks and
  // calls in progress were the parent's; destroyed, it would end the child (a thread object that was
  // never joined) or wait on locks that nobody there will ever free.
  std::shared_ptr<Device> kept_in_forked_child;
};

}  // namespace pekolm
