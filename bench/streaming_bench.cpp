// End to end at the line's full rate on many ports. A harness in this process plays N amplifiers on ptys
// (frame_streamer.h), each sending 1989 frames a second with a counter in them. Phase A reads them with
// plain blocking reads, one thread per port; phase B activates the library on every port and one thread
// takes the values of all of them. Compares what reading costs the reading threads (in B the library's
// receive threads): CPU and read calls per frame.
//
// This machine's pace varies by more than the difference measured: the same phase, run twice, may differ by
// a fifth. So each phase's time is cut into rounds and the phases take turns, A B, B A, A B, ..., so that a
// slower stretch weighs on both alike; each round's ratio is printed, to show how far they scatter.
//
//   streaming_bench [--ports N (16; 1..255)] [--seconds S per phase (10)] [--rounds R (3; 1..20)]
//
// Exits 1 when a port cannot be set up or activated, 2 when the library lost, repeated or mangled frames.
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "frame_streamer.h"
#include "pekolm.h"
#include "plain_readers.h"

namespace {

using namespace std::chrono_literals;
using bench::Clock;
using Port = bench::StreamedPort;
using Ports = bench::StreamedPorts;

constexpr int baud = 230400;
constexpr int ring_size = 16384;  // over 8 s of values per channel: the reader never falls that far behind
// The values are taken as an application takes them, now and then (kolmrec every 20 ms). A thread that
// swept again as soon as anything had come would, at many ports, never sleep: it took a tenth of a core
// from the harness, which then fell further behind and woke the receive threads for smaller bursts.
constexpr auto take_period = 20ms;

struct Phase {
  std::uint64_t sent = 0, overrun = 0;
  bench::CounterCheck check;
  bench::TaskUsage usage{0, 0};  // of the reading threads
  bench::Pacing pacing;
  double cpu_per_1000() const {
    return check.received != 0 ? usage.cpu_seconds * 1e6 / static_cast<double>(check.received) : 0;
  }
  double calls_per_frame() const {
    return usage.read_calls >= 0 && check.received != 0
               ? static_cast<double>(usage.read_calls) / static_cast<double>(check.received)
               : -1;
  }
  bool clean() const { return check.lost == 0 && check.duplicated == 0 && check.corrupted == 0; }
  void add(const Phase& round) {
    sent += round.sent;
    overrun += round.overrun;
    check.add(round.check);
    usage += round.usage;
    const double streamed = pacing.seconds + round.pacing.seconds;  // add() merges harness threads side by side
    pacing.add(round.pacing);
    pacing.seconds = streamed;
  }
};

Phase collect(const Ports& ports, const bench::TaskUsage& usage, const bench::Pacing& pacing) {
  Phase phase;
  phase.usage = usage;
  phase.pacing = pacing;
  for (const auto& port : ports) {
    phase.sent += port->next.load();
    phase.overrun += port->overrun.load();
    phase.check.add(port->check);
  }
  return phase;
}

unsigned long long u(std::uint64_t n) { return n; }

double late_percent(const Phase& p) {
  return p.sent != 0 ? 100.0 * static_cast<double>(p.pacing.late) / static_cast<double>(p.sent) : 0;
}

void print(const char* title, const Phase& p) {
  std::printf(
      "%s\n  frames sent %llu, received %llu, lost %llu, duplicated %llu, corrupted %llu, overrun at the pty %llu\n",
      title, u(p.sent), u(p.check.received), u(p.check.lost), u(p.check.duplicated), u(p.check.corrupted),
      u(p.overrun));
  std::printf(
      "  harness: %.2f s of streaming, CPU %.2f s; frames more than a period late %llu (%.1f%%), worst %.2f ms late\n",
      p.pacing.seconds, p.pacing.cpu_seconds, u(p.pacing.late), late_percent(p),
      static_cast<double>(p.pacing.worst_ns) / 1e6);
  std::printf("  reading threads: CPU %.3f s = %.3f ms per 1000 frames; ", p.usage.cpu_seconds, p.cpu_per_1000());
  if (p.usage.read_calls < 0) {
    std::printf("read calls n/a\n");
  } else {
    std::printf("read calls %lld = %.3f per frame\n", p.usage.read_calls, p.calls_per_frame());
  }
}

bool plain_phase(const Ports& ports, double seconds, Phase& phase) {
  bench::TaskUsage used;
  bench::Pacing pacing;
  const bool read = bench::read_plainly(ports, seconds, used, pacing);
  phase = collect(ports, used, pacing);
  return read;
}

bool activate_all(const Ports& ports) {
  std::atomic<bool> answering{true};
  std::thread responder(bench::answer_queries, std::cref(ports), std::cref(answering));
  // Side by side: each activation settles for half a second.
  std::atomic<std::size_t> next{0}, failures{0};
  std::vector<std::thread> activators;
  for (std::size_t i = 0; i < std::min<std::size_t>(ports.size(), 64); ++i) {
    activators.emplace_back([&] {
      for (std::size_t k; (k = next++) < ports.size();) {
        const int port = ports[k]->number;
        if (KolmactivateExtended(port, baud, ring_size, 0) == 0) continue;
        std::fprintf(stderr, "activation of port %d failed: 0x%X\n", port, KolmgetLastError(port));
        ++failures;
      }
    });
  }
  for (std::thread& t : activators) t.join();
  answering = false;
  responder.join();
  return failures.load() == 0;
}

bool library_phase(const Ports& ports, double seconds, Phase& phase, bench::TaskUsage& taking) {
  const bool activated = activate_all(ports);
  // Now the tasks of the process are the main thread and the library's receive threads, once the joined
  // activators have left /proc, which may take a moment: a task gone before it is asked counts as unreadable.
  const auto other_tasks = [] {
    std::vector<pid_t> tids = bench::task_ids();
    std::erase(tids, bench::this_tid());
    return tids;
  };
  std::vector<pid_t> library = other_tasks();
  for (int look = 0; look < 100 && library.size() > ports.size(); ++look) {
    std::this_thread::sleep_for(1ms);
    library = other_tasks();
  }
  if (library.size() != ports.size()) std::printf("library receive threads: %zu\n", library.size());

  std::atomic<bool> stop{false};
  std::atomic<pid_t> reader_tid{0};
  std::atomic<long> receive_errors{0};
  std::thread reader([&] {
    reader_tid = bench::this_tid();
    std::vector<double> values(std::size_t{400} * 4);  // 400 sets of four a call
    while (!stop.load()) {
      bool more = false;  // a call came back full: that port holds more than one call takes
      for (const auto& port : ports) {
        int count = 0;
        if (KolmreadMultiple(port->number, 0, values.data(), static_cast<int>(values.size()), &count) == -1) {
          ++receive_errors;
          KolmgetLastError(port->number);
        }
        more = more || count == static_cast<int>(values.size());
        for (int v = 0; v + 3 < count; v += 4) {
          port->check.frame({bench::raw_of(values[v]), bench::raw_of(values[v + 1]), bench::raw_of(values[v + 2]),
                             bench::raw_of(values[v + 3])},
                            port->number);
        }
        port->seen.store(port->check.expected);
      }
      if (!more) std::this_thread::sleep_for(take_period);
    }
  });
  while (reader_tid.load() == 0) std::this_thread::sleep_for(1ms);
  const bench::TaskUsage before = bench::usage_of(library);
  const bench::TaskUsage reader_before = bench::usage_of({reader_tid.load()});
  bench::Pacing pacing;
  if (activated) {
    pacing = bench::stream(ports, seconds);
    bench::drain(ports);
  }
  const bench::TaskUsage used = bench::usage_of(library) - before;
  taking = bench::usage_of({reader_tid.load()}) - reader_before;
  stop = true;
  reader.join();
  phase = collect(ports, used, pacing);
  for (const auto& port : ports) Kolmrelease(port->number);
  if (receive_errors.load() != 0) std::printf("KolmreadMultiple reported %ld receive errors\n", receive_errors.load());
  return activated;
}

double ratio(double library, double plain) { return plain > 0 && library >= 0 ? library / plain : -1; }

}  // namespace

int main(int argc, char** argv) {
  int port_count = 16, rounds = 3;
  double seconds = 10;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--ports") == 0) port_count = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::atoi(argv[i + 1]);
  }
  if (argc % 2 == 0 || port_count < 1 || port_count > 255 || !(seconds > 0) || rounds < 1 || rounds > 20) {
    std::fprintf(stderr, "usage: %s [--ports 1..255] [--seconds S] [--rounds 1..20]\n", argv[0]);
    return 1;
  }
  bench::raise_descriptor_limit();

  bench::PortDir dir;
  const Ports ports = bench::linked_ports(port_count, dir);
  const double round_seconds = seconds / rounds;
  std::printf("%d ports, %.0f frames/s each, %.1f s per phase in %d rounds\n", port_count, bench::frame_rate, seconds,
              rounds);

  Phase plain, library;
  bench::TaskUsage taking{0, 0};
  std::string round_ratios;
  for (int round = 0; round < rounds; ++round) {
    Phase plain_round, library_round;
    bench::TaskUsage taking_round;
    for (int turn = 0; turn < 2; ++turn) {
      for (const auto& port : ports) port->reset();
      if ((turn == 0) == (round % 2 == 0)) {
        if (!plain_phase(ports, round_seconds, plain_round)) return 1;
      } else if (!library_phase(ports, round_seconds, library_round, taking_round)) {
        return 1;
      }
    }
    const double round_ratio = ratio(library_round.cpu_per_1000(), plain_round.cpu_per_1000());
    std::printf("round %d: library / plain, CPU per frame %.2f\n", round + 1, round_ratio);
    char formatted[16];
    std::snprintf(formatted, sizeof formatted, "%s%.2f", round == 0 ? "" : ",", round_ratio);
    round_ratios += formatted;
    plain.add(plain_round);
    library.add(library_round);
    taking += taking_round;
  }
  print("phase A: plain reads, one thread per port", plain);
  print("phase B: the library's receive threads, one KolmreadMultiple thread", library);
  std::printf("  the KolmreadMultiple thread itself: CPU %.3f s\n", taking.cpu_seconds);

  const double ratio_cpu = ratio(library.cpu_per_1000(), plain.cpu_per_1000());
  const double ratio_calls = ratio(library.calls_per_frame(), plain.calls_per_frame());
  std::printf("library / plain: CPU per frame %.2f, read calls per frame %.2f\n", ratio_cpu, ratio_calls);
  std::printf(
      "SUMMARY streaming ports=%d seconds=%.1f rounds=%d plain_sent=%llu plain_lost=%llu plain_dup=%llu "
      "plain_corrupt=%llu "
      "plain_overrun=%llu plain_late_pct=%.1f lib_sent=%llu lib_lost=%llu lib_dup=%llu lib_corrupt=%llu "
      "lib_overrun=%llu lib_late_pct=%.1f cpu_ms_per_1000_plain=%.3f cpu_ms_per_1000_lib=%.3f ratio_cpu=%.2f "
      "ratio_cpu_rounds=%s syscalls_per_frame_plain=%.2f syscalls_per_frame_lib=%.2f ratio_syscalls=%.2f\n",
      port_count, seconds, rounds, u(plain.sent), u(plain.check.lost), u(plain.check.duplicated),
      u(plain.check.corrupted), u(plain.overrun), late_percent(plain), u(library.sent), u(library.check.lost),
      u(library.check.duplicated), u(library.check.corrupted), u(library.overrun), late_percent(library),
      plain.cpu_per_1000(), library.cpu_per_1000(), ratio_cpu, round_ratios.c_str(), plain.calls_per_frame(),
      library.calls_per_frame(), ratio_calls);
  return library.clean() ? 0 : 2;
}
