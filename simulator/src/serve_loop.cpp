// The serving thread: waits in ppoll() for host bytes, a wake-up or the next thing that falls due,
// then reacts and writes what may go out.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "simulator_impl.h"
#include "wire.h"

namespace kolmsim {
namespace {

// At the highest rates frames are sent in small batches rather than one wake-up per frame.
constexpr auto kMinPacingSleep = std::chrono::milliseconds(1);

timespec to_timespec(Clock::duration d) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::max(d, Clock::duration::zero()));
  return timespec{static_cast<time_t>(ns.count() / 1'000'000'000), static_cast<long>(ns.count() % 1'000'000'000)};
}

}  // namespace

void Simulator::Impl::queue_frame(const Bytes& frame, FrameKind kind) {
  out.push(frame, kind, faults.piece_sizes(), faults.gap());
}

void Simulator::Impl::queue_value(Clock::time_point t) {
  const DressedValue dressed = faults.dress_value(wire::value_frame(signal.sample(t)));
  queue_frame(dressed.frame, FrameKind::value);
  if (!dressed.garbage_after.empty()) out.push(dressed.garbage_after, FrameKind::other, {}, {});
}

void Simulator::Impl::react(const Bytes& command, Clock::time_point now) {
  const Reaction reaction = amplifier.handle(command);
  if (wire::is_query(command[0])) {
    if (auto planned = faults.plan_answer(command[0], reaction.answer_payload)) {
      if (planned->delay <= Clock::duration::zero()) {
        queue_frame(planned->frame, FrameKind::answer);
      } else {
        delayed_answers.emplace(now + planned->delay, std::move(planned->frame));
      }
    }
  }
  if (reaction.zero_channel > 0) signal.zero(reaction.zero_channel - 1, now);
  if (reaction.send_value) queue_value(now);
}

void Simulator::Impl::take_input(std::span<const std::uint8_t> bytes, Clock::time_point now) {
  received.insert(received.end(), bytes.begin(), bytes.end());
  if (!pty.runs_at(line_baud)) return;  // noise to the amplifier
  for (Bytes& command : reader.feed(bytes)) {
    commands.push_back(CommandRecord{command, now});
    react(command, now);
  }
  commands_changed.notify_all();
}

void Simulator::Impl::produce(Clock::time_point now) {
  while (!delayed_answers.empty() && delayed_answers.begin()->first <= now) {
    queue_frame(delayed_answers.begin()->second, FrameKind::answer);
    delayed_answers.erase(delayed_answers.begin());
  }
  const AmplifierState& state = amplifier.state();
  pacer.configure(state.transmitting, state.rate_code, now);
  for (Clock::time_point due : pacer.take_due(now)) queue_value(due);
}

void Simulator::Impl::flush(Clock::time_point now) {
  const int fd = pty.master();
  const bool in_step = pty.runs_at(line_baud);
  frames_sent += out.flush(now, [fd, in_step](std::span<const std::uint8_t> bytes) -> std::size_t {
    const Bytes noise(in_step ? 0 : bytes.size(), 0);
    const ssize_t n = ::write(fd, in_step ? bytes.data() : noise.data(), bytes.size());
    // EAGAIN: the host is not reading and the pty is full. Anything else: nobody can read it now;
    // the bytes wait, bounded by the queue.
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  });
}

void Simulator::Impl::serve() {
  std::vector<std::uint8_t> buffer(4096);
  for (;;) {
    pollfd fds[2] = {{wakeup.fd(), POLLIN, 0}, {pty.master(), 0, 0}};
    std::optional<Clock::time_point> wake_at;
    Clock::time_point now;
    {
      std::lock_guard lock(mu);
      if (stopping) return;
      now = Clock::now();
      produce(now);
      flush(now);

      if (!line_dead) fds[1].events = POLLIN;
      if (auto ready = out.ready_at()) {
        if (*ready <= now) {
          fds[1].events |= POLLOUT;
        } else {
          wake_at = ready;
        }
      }
      if (auto due = pacer.next_due()) {
        const Clock::time_point t = std::max(*due, now + kMinPacingSleep);
        wake_at = wake_at ? std::min(*wake_at, t) : t;
      }
      if (!delayed_answers.empty()) {
        const Clock::time_point t = delayed_answers.begin()->first;
        wake_at = wake_at ? std::min(*wake_at, t) : t;
      }
      if (line_dead) fds[1].fd = -1;
    }

    timespec timeout{};
    if (wake_at) timeout = to_timespec(*wake_at - now);
    const int ready = ppoll(fds, 2, wake_at ? &timeout : nullptr, nullptr);
    if (ready < 0) continue;  // EINTR
    if (fds[0].revents & POLLIN) wakeup.drain();
    if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL) && !(fds[1].revents & POLLIN)) {
      // Only when our own slave descriptor is gone; without this the loop would spin on the event.
      std::lock_guard lock(mu);
      line_dead = true;
      continue;
    }
    if (fds[1].revents & POLLIN) {
      for (;;) {
        const ssize_t n = ::read(pty.master(), buffer.data(), buffer.size());
        if (n <= 0) break;  // EAGAIN once drained
        std::lock_guard lock(mu);
        take_input(std::span(buffer.data(), static_cast<std::size_t>(n)), Clock::now());
      }
    }
  }
}

void Simulator::Impl::stop_thread() {
  {
    std::lock_guard lock(mu);
    stopping = true;
  }
  wakeup.notify();
  if (thread.joinable()) thread.join();
}

}  // namespace kolmsim
