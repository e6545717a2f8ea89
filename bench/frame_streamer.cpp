// The amplifiers' side of the streaming benchmark: see frame_streamer.h.
#include "frame_streamer.h"

#include <poll.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

namespace bench {

namespace {

constexpr long long period_ns = static_cast<long long>(1e9 / frame_rate);

void write_frame(StreamedPort& port) {
  std::uint8_t frame[frame_length];
  const std::uint32_t counter = port.next.load(std::memory_order_relaxed);
  encode_frame(counter_values(counter, port.number), frame);
  const ssize_t n = ::write(port.pty.master(), frame, sizeof frame);
  if (n == sizeof frame) {
    port.next.store(counter + 1);
    return;
  }
  ++port.overrun;
  if (n <= 0) return;  // nothing went: the same counter goes out next time
  // Some of it went: the rest follows, so that the stream stays in frames.
  auto done = static_cast<std::size_t>(n);
  for (int tries = 0; done < sizeof frame && tries < 100; ++tries) {
    pollfd out{port.pty.master(), POLLOUT, 0};
    ::poll(&out, 1, 10);
    const ssize_t more = ::write(port.pty.master(), frame + done, sizeof frame - done);
    if (more > 0) done += static_cast<std::size_t>(more);
  }
  port.next.store(counter + 1);
}

timespec plus_ns(timespec t, long long ns) {
  ns += t.tv_nsec;
  t.tv_sec += static_cast<time_t>(ns / 1000000000);
  t.tv_nsec = static_cast<long>(ns % 1000000000);
  return t;
}

long long ns_between(const timespec& a, const timespec& b) {
  return static_cast<long long>(b.tv_sec - a.tv_sec) * 1000000000 + (b.tv_nsec - a.tv_nsec);
}

// Each port's frames fall due one period apart, the ports' evenly staggered within it; a harness that
// falls behind catches up at once rather than stretching the schedule.
void stream_share(const std::vector<StreamedPort*>& ports, timespec start, double seconds, Pacing& pacing) {
  prctl(PR_SET_TIMERSLACK, 1UL);  // the default 50 us would bunch the frames of many ports
  const std::size_t n = ports.size();
  const auto slots = static_cast<std::uint64_t>(seconds * frame_rate) * n;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  for (std::uint64_t slot = 0; slot < slots; ++slot) {
    const timespec due = plus_ns(start, static_cast<long long>(slot) * period_ns / static_cast<long long>(n));
    // Only a frame not yet due is slept for: behind schedule, a sleep per frame that returns at once
    // costs about as much as the writes and keeps the harness behind.
    if (ns_between(now, due) > 0) {
      while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
      }
    }
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long late_ns = ns_between(due, now);
    if (late_ns > period_ns) ++pacing.late;
    pacing.worst_ns = std::max(pacing.worst_ns, late_ns);
    write_frame(*ports[slot % n]);
  }
  clock_gettime(CLOCK_MONOTONIC, &now);
  pacing.seconds = static_cast<double>(ns_between(start, now)) / 1e9;
  timespec cpu{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
  pacing.cpu_seconds = static_cast<double>(ns_between({}, cpu)) / 1e9;
}

}  // namespace

StreamedPorts linked_ports(int count, const PortDir& dir) {
  StreamedPorts ports;
  for (int n = 1; n <= count; ++n) {
    ports.push_back(std::make_unique<StreamedPort>());
    ports.back()->number = n;
    dir.link(n, ports.back()->pty.slave_path());
  }
  return ports;
}

void StreamedPort::reset() {
  pty.flush();
  next = 0;
  overrun = 0;
  check = {};
  seen = 0;
}

void Pacing::add(const Pacing& other) {
  late += other.late;
  worst_ns = std::max(worst_ns, other.worst_ns);
  seconds = std::max(seconds, other.seconds);
  cpu_seconds += other.cpu_seconds;
}

Pacing stream(const StreamedPorts& ports, double seconds) {
  const std::size_t threads = ports.size() > 1 ? 2 : 1;
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  start = plus_ns(start, 10000000);
  std::vector<Pacing> pacing(threads);
  std::vector<std::thread> harness;
  for (std::size_t t = 0; t < threads; ++t) {
    std::vector<StreamedPort*> share;
    for (std::size_t i = t; i < ports.size(); i += threads) share.push_back(ports[i].get());
    const long long offset = period_ns * static_cast<long long>(t) / static_cast<long long>(ports.size());
    harness.emplace_back(stream_share, share, plus_ns(start, offset), seconds, std::ref(pacing[t]));
  }
  for (std::thread& t : harness) t.join();
  for (std::size_t t = 1; t < threads; ++t) pacing[0].add(pacing[t]);
  return pacing[0];
}

void drain(const StreamedPorts& ports) {
  using namespace std::chrono_literals;
  std::uint64_t last = 0;
  auto moved = Clock::now();
  for (;;) {
    std::uint64_t behind = 0;
    for (const auto& port : ports) behind += port->next.load() - port->seen.load();
    if (behind == 0) return;
    if (behind != last) {
      last = behind;
      moved = Clock::now();
    } else if (Clock::now() - moved > 1s) {
      return;
    }
    std::this_thread::sleep_for(10ms);
  }
}

void answer_queries(const StreamedPorts& ports, const std::atomic<bool>& answering) {
  std::vector<pollfd> fds;
  for (const auto& port : ports) fds.push_back({port->pty.master(), POLLIN, 0});
  while (answering.load()) {
    if (::poll(fds.data(), fds.size(), 10) <= 0) continue;
    for (const pollfd& fd : fds) {
      if (!(fd.revents & POLLIN)) continue;
      std::uint8_t commands[64];
      const ssize_t n = ::read(fd.fd, commands, sizeof commands);
      // A command comes in one write, so its channel byte comes in the same read.
      for (ssize_t i = 0; i < n; ++i) {
        const std::uint8_t channel = i + 1 < n ? commands[i + 1] : 0;
        const Bytes answer = query_answer(commands[i], channel);
        if (takes_channel(commands[i])) ++i;
        if (!answer.empty() && ::write(fd.fd, answer.data(), answer.size()) < 0) std::perror("answer");
      }
    }
  }
}

}  // namespace bench
