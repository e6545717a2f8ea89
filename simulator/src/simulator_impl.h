// Inside of kolmsim::Simulator: the pieces it is made of and the one thread that serves the pty.
//
// Locking: everything below `mu` is guarded by it. The serving thread holds it while it takes in
// bytes, reacts and writes (writes never block: the master is non-blocking) and lets go of it only
// to wait in ppoll(). `pty` and `wakeup` are used without the lock; the pty is closed only after the
// thread has been joined.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "amplifier.h"
#include "command_reader.h"
#include "faults.h"
#include "kolmsim/simulator.h"
#include "output_queue.h"
#include "pacer.h"
#include "pty.h"
#include "signal_source.h"

namespace kolmsim {

struct Simulator::Impl {
  explicit Impl(const Options& options);

  void serve();         // body of the serving thread
  void stop_thread();   // idempotent
  void remove_links();  // those still pointing at our slave

  // The rest is called with `mu` held.
  void take_input(std::span<const std::uint8_t> bytes, Clock::time_point now);
  void react(const Bytes& command, Clock::time_point now);
  void queue_value(Clock::time_point t);
  void produce(Clock::time_point now);  // frames and delayed answers that are due
  void flush(Clock::time_point now);
  void queue_frame(const Bytes& frame, FrameKind kind);

  Pty pty;
  Wakeup wakeup;
  const std::string slave_path;

  mutable std::mutex mu;
  mutable std::condition_variable commands_changed;
  Amplifier amplifier;
  SignalSource signal;
  Pacer pacer;
  FaultBook faults;
  OutputQueue out;
  CommandReader reader;
  std::vector<CommandRecord> commands;
  Bytes received;
  std::multimap<Clock::time_point, Bytes> delayed_answers;  // by due time; equal times keep their order
  std::uint64_t frames_sent = 0;
  std::vector<std::string> links;  // made by link_port, removed by the destructor
  bool stopping = false;
  bool line_dead = false;  // the master reported a hang-up; stop reading it
  const int line_baud;     // Options::line_baud

  std::thread thread;  // last: started once everything above exists
};

}  // namespace kolmsim
