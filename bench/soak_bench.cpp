// Soak: many activate / stream / query / release cycles on many ports at once, each port served by its own
// simulated amplifier. In about one cycle in four another thread releases the port while the port's worker
// is inside a call, as an application closing a port from its UI thread would. Reports what the process
// holds before and after (descriptors, threads, memory), so that anything left behind per cycle shows, and
// how calls and the next activation fare when a release cuts in.
//
//   soak_bench [cycles=10000] [ports=16] [seed]
//
// Exits non-zero when descriptors or threads differ afterwards or when any activation failed.
#include <dirent.h>
#include <sys/types.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kolmsim/simulator.h"
#include "pekolm.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int not_open = 0x30000101;
constexpr std::uint8_t get_mode_command = 0x27;
constexpr int baud = 115200;
constexpr int buffer_size = 4096;

struct Holdings {
  long fds = 0, threads = 0, rss_kb = 0, hwm_kb = 0;
};

long count_entries(const char* dir) {
  DIR* d = opendir(dir);
  if (!d) return -1;
  long n = 0;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] != '.') ++n;
  }
  closedir(d);
  return n;
}

long status_kb(const std::string& key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, key.size(), key) == 0) return std::strtol(line.c_str() + key.size(), nullptr, 10);
  }
  return -1;
}

Holdings holdings() {
  // The directory stream open while counting adds one descriptor, the same before and after.
  return {count_entries("/proc/self/fd"), count_entries("/proc/self/task"), status_kb("VmRSS:"), status_kb("VmHWM:")};
}

std::string describe(int code) {
  char text[96];
  switch (code) {
    case 0:
      return "0 (nothing pending)";
    case not_open:
      return "0x30000101 (port not open)";
    case 0x30000058:
      return "0x30000058 (no answer)";
    case 0x30000059:
      return "0x30000059 (answer length)";
    case 0x30000060:
      return "0x30000060 (answer does not fit)";
    case 0x300000F0:
      return "0x300000F0 (lock timeout)";
    case 0x300000F5:
      return "0x300000F5 (short write)";
    case 0x300000F6:
      return "0x300000F6 (already open)";
    default:
      break;
  }
  if (code > 0 && code < 4096) {
    std::snprintf(text, sizeof text, "%d (%s)", code, std::strerror(code));
  } else if ((code & 0xF0000000) == 0x20000000) {
    std::snprintf(text, sizeof text, "0x%X (write: %s)", code, std::strerror(code & 0xFFFF));
  } else {
    std::snprintf(text, sizeof text, "0x%X", code);
  }
  return text;
}

double ms_between(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

enum Target { query, thresholds, clear, target_count };
const char* const target_names[target_count] = {"KolmgetMode (unanswered)", "KolmwriteThreshold(0)",
                                                "KolmclearDLLbuffer loop"};

struct CutIn {
  long cycles = 0;
  long finished_first = 0;     // succeeded, and returned before the release began
  long succeeded_late = 0;     // succeeded, but returned after the release had begun
  long cut_short = 0;          // -1 with 0x30000101, as it should be
  std::map<int, long> other;   // -1 with any other code
  double worst_ran_on_ms = 0;  // from the start of the release to the call's return
  double sum_ran_on_ms = 0;
  long ran_on_count = 0;
  double worst_release_ms = 0;  // how long the release itself took
};

struct Stats {
  std::mutex mutex;
  std::map<int, long> activation_failures;                    // failed KolmactExt attempts by code
  long activations_retried = 0;                               // activations that needed more than one attempt...
  long retried_after_cut_in = 0;                              // ...of those, right after a cut-in cycle
  double worst_recovery_ms = 0;                               // first failed attempt to the successful one
  long abandoned = 0;                                         // cycles whose activation never succeeded
  std::map<std::pair<std::string, int>, long> call_failures;  // in undisturbed steps: call, code
  long release_failures = 0;
  CutIn cut_in[target_count];
  long long values_taken = 0;
  double worst_activation_ms = 0;

  void call_failed(const std::string& call, int code) {
    std::lock_guard lock(mutex);
    ++call_failures[{call, code}];
  }
};

struct Run {
  long total = 0;
  std::atomic<long> next{0};
  std::atomic<long> done{0};
  std::atomic<long> failed_activations{0};
  std::atomic<long> cut_ins{0};
  Stats stats;
};

// Activates, retrying every 100 ms for up to 30 s so that a port that stays busy after a cut-in shows as
// failures and a recovery time rather than as a string of lost cycles.
bool activate(Run& run, int port, bool after_cut_in) {
  const auto first = Clock::now();
  bool retried = false;
  for (;;) {
    const auto start = Clock::now();
    if (KolmactExt(port, baud, buffer_size) == 0) {
      const auto end = Clock::now();
      std::lock_guard lock(run.stats.mutex);
      run.stats.worst_activation_ms = std::max(run.stats.worst_activation_ms, ms_between(start, end));
      if (retried) {
        ++run.stats.activations_retried;
        if (after_cut_in) ++run.stats.retried_after_cut_in;
        run.stats.worst_recovery_ms = std::max(run.stats.worst_recovery_ms, ms_between(first, end));
      }
      return true;
    }
    const int code = KolmgetLastError(port);
    run.failed_activations.fetch_add(1);
    {
      std::lock_guard lock(run.stats.mutex);
      ++run.stats.activation_failures[code];
    }
    retried = true;
    if (Clock::now() - first > std::chrono::seconds(30)) {
      std::lock_guard lock(run.stats.mutex);
      ++run.stats.abandoned;
      return false;
    }
    std::this_thread::sleep_for(milliseconds(100));
  }
}

void take_values(Run& run, int port, milliseconds duration) {
  double block[4 * 256];
  long long taken = 0;
  const auto end = Clock::now() + duration;
  do {
    int count = 0;
    const int result = KolmreadMultiple(port, 0, block, 4 * 256, &count);
    if (result == 1) taken += count;
    if (result == -1) run.stats.call_failed("KolmreadMultiple", KolmgetLastError(port));
    std::this_thread::sleep_for(milliseconds(5));
  } while (Clock::now() < end);
  std::lock_guard lock(run.stats.mutex);
  run.stats.values_taken += taken;
}

// Another thread releases the port `delay` after the call on it begins.
void cut_in(Run& run, int port, kolmsim::Simulator& simulator, Target target, milliseconds delay) {
  // An answer that never comes keeps the query waiting until the release ends it.
  if (target == query) simulator.set_fault(get_mode_command, kolmsim::AnswerFault{.silent = true, .once = true});
  const auto start = Clock::now();
  Clock::time_point release_began, release_ended;
  int release_result = 0;
  std::thread releaser([&] {
    std::this_thread::sleep_until(start + delay);
    release_began = Clock::now();
    release_result = Kolmrelease(port);
    release_ended = Clock::now();
  });
  int result = 0;
  switch (target) {
    case query:
      result = KolmgetMode(port);
      break;
    case thresholds:
      result = KolmwriteThreshold(port, 0, 0.5, 0.2);
      break;
    default:
      // A clear alone is over in moments; calling it over and over gives the release something to land in.
      while (Clock::now() - start < milliseconds(250) && (result = KolmclearDLLbuffer(port)) != -1) {
      }
      break;
  }
  const auto returned = Clock::now();
  const int code = result == -1 ? KolmgetLastError(port) : 0;
  releaser.join();
  if (release_result != 0) {
    std::lock_guard lock(run.stats.mutex);
    ++run.stats.release_failures;
  }
  if (target == query) simulator.clear_faults();  // the call may have ended before its command went out

  std::lock_guard lock(run.stats.mutex);
  CutIn& c = run.stats.cut_in[target];
  ++c.cycles;
  if (result != -1) {
    ++(returned > release_began ? c.succeeded_late : c.finished_first);
  } else if (code == not_open) {
    ++c.cut_short;
  } else {
    ++c.other[code];
  }
  if (returned > release_began) {
    const double ran_on = ms_between(release_began, returned);
    c.worst_ran_on_ms = std::max(c.worst_ran_on_ms, ran_on);
    c.sum_ran_on_ms += ran_on;
    ++c.ran_on_count;
  }
  c.worst_release_ms = std::max(c.worst_release_ms, ms_between(release_began, release_ended));
}

void worker(Run& run, int port, kolmsim::Simulator& simulator, unsigned seed) {
  std::mt19937 random(seed);
  auto between = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  bool after_cut_in = false;
  while (run.next.fetch_add(1) < run.total) {
    // The simulator keeps a record of every command; forgotten each cycle so that memory shows the library.
    simulator.clear_commands();
    if (!activate(run, port, after_cut_in)) {
      after_cut_in = false;
      run.done.fetch_add(1);
      continue;
    }
    take_values(run, port, milliseconds(between(20, 200)));

    after_cut_in = between(0, 3) == 0;
    if (after_cut_in) {
      run.cut_ins.fetch_add(1);
      const auto target = static_cast<Target>(between(0, target_count - 1));
      const int delay = target == query ? between(20, 300) : target == thresholds ? between(0, 1500) : between(0, 150);
      cut_in(run, port, simulator, target, milliseconds(delay));
      run.done.fetch_add(1);
      continue;
    }

    if (between(0, 1) == 0) {
      if (KolmgetMode(port) == -1) run.stats.call_failed("KolmgetMode", KolmgetLastError(port));
    } else {
      if (KolmreadFreq(port) == -1.0) run.stats.call_failed("KolmreadFreq", KolmgetLastError(port));
    }
    // All eight thresholds (16 commands, 1.6 s of pauses) now and then, one of them otherwise, to keep a
    // cycle near a second.
    const int threshold = between(0, 3) == 0 ? 0 : between(1, 8);
    if (KolmwriteThreshold(port, threshold, 0.5, 0.2) != 0) {
      run.stats.call_failed("KolmwriteThreshold", KolmgetLastError(port));
    }
    if (KolmclearDLLbuffer(port) != 0) run.stats.call_failed("KolmclearDLLbuffer", KolmgetLastError(port));
    if (Kolmrelease(port) != 0) {
      run.stats.call_failed("Kolmrelease", KolmgetLastError(port));
      std::lock_guard lock(run.stats.mutex);
      ++run.stats.release_failures;
    }
    run.done.fetch_add(1);
  }
}

void print_report(Run& run, const Holdings& before, const Holdings& after, double seconds) {
  Stats& s = run.stats;
  std::printf("%-12s %10s %10s\n", "", "before", "after");
  std::printf("%-12s %10ld %10ld%s\n", "open fds", before.fds, after.fds, before.fds != after.fds ? "  DIFFERS" : "");
  std::printf("%-12s %10ld %10ld%s\n", "threads", before.threads, after.threads,
              before.threads != after.threads ? "  DIFFERS" : "");
  std::printf("%-12s %10ld %10ld\n", "VmRSS kB", before.rss_kb, after.rss_kb);
  std::printf("%-12s %10ld %10ld\n", "VmHWM kB", before.hwm_kb, after.hwm_kb);
  std::printf("\ncycles done %ld of %ld in %.1f s: %.2f cycles/s; %lld values taken\n", run.done.load(), run.total,
              seconds, run.done.load() / seconds, s.values_taken);
  std::printf("longest successful activation %.0f ms\n", s.worst_activation_ms);

  if (s.activation_failures.empty()) {
    std::printf("activation failures: none\n");
  } else {
    std::printf("activation failures (attempts, retried every 100 ms):\n");
    for (const auto& [code, n] : s.activation_failures) std::printf("  %-40s %ld\n", describe(code).c_str(), n);
    std::printf(
        "  activations that needed retries %ld (%ld right after a cut-in), longest recovery %.0f ms, "
        "cycles abandoned after 30 s %ld\n",
        s.activations_retried, s.retried_after_cut_in, s.worst_recovery_ms, s.abandoned);
  }

  std::printf("\nreleases during a call: %ld\n", run.cut_ins.load());
  for (int t = 0; t < target_count; ++t) {
    const CutIn& c = s.cut_in[t];
    std::printf("  %-26s %5ld: cut short (-1, 0x30000101) %ld, finished first %ld", target_names[t], c.cycles,
                c.cut_short, c.finished_first);
    if (c.succeeded_late) std::printf(", succeeded after the release began %ld", c.succeeded_late);
    for (const auto& [code, n] : c.other) std::printf(", -1 with %s %ld", describe(code).c_str(), n);
    std::printf("\n  %-26s        ran on after the release: mean %.1f ms, worst %.1f ms; release took up to %.1f ms\n",
                "", c.ran_on_count ? c.sum_ran_on_ms / c.ran_on_count : 0.0, c.worst_ran_on_ms, c.worst_release_ms);
  }
  if (s.release_failures) std::printf("  Kolmrelease failed %ld times\n", s.release_failures);

  if (s.call_failures.empty()) {
    std::printf("failures of undisturbed calls: none\n");
  } else {
    std::printf("failures of undisturbed calls:\n");
    for (const auto& [key, n] : s.call_failures) {
      std::printf("  %-20s %-40s %ld\n", key.first.c_str(), describe(key.second).c_str(), n);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  Run run;
  run.total = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
  const long ports = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 16;
  const unsigned seed = argc > 3 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)) : std::random_device{}();
  if (run.total < 1 || ports < 1 || ports > 255) {
    std::fprintf(stderr, "usage: %s [cycles >= 1] [ports 1..255] [seed]\n", argv[0]);
    return 2;
  }

  char dir[] = "/tmp/pekolm-soak.XXXXXX";
  if (!mkdtemp(dir)) return 1;
  setenv("PEKOLM_PORT_DIR", dir, 1);
  std::vector<std::unique_ptr<kolmsim::Simulator>> simulators;
  kolmsim::Options options;
  options.rate_code = 0xAA;  // 250 frames a second: enough to keep every receive thread busy
  for (int port = 1; port <= ports; ++port) {
    simulators.push_back(std::make_unique<kolmsim::Simulator>(options));
    simulators.back()->link_port(dir, port);
  }
  std::printf("soak: %ld cycles over %ld ports, seed %u\n", run.total, ports, seed);
  std::fflush(stdout);

  const Holdings before = holdings();
  const auto start = Clock::now();
  std::vector<std::thread> workers;
  for (int port = 1; port <= ports; ++port) {
    workers.emplace_back(worker, std::ref(run), port, std::ref(*simulators[port - 1]), seed + port);
  }
  auto last_report = start;
  while (run.done.load() < run.total) {
    std::this_thread::sleep_for(milliseconds(200));
    const auto now = Clock::now();
    if (now - last_report >= std::chrono::seconds(10)) {
      last_report = now;
      const double elapsed = ms_between(start, now) / 1000;
      std::fprintf(stderr,
                   "%6.0f s: %ld of %ld cycles, %.2f cycles/s, %ld releases during a call, %ld failed activations\n",
                   elapsed, run.done.load(), run.total, run.done.load() / elapsed, run.cut_ins.load(),
                   run.failed_activations.load());
    }
  }
  for (std::thread& w : workers) w.join();
  const double seconds = ms_between(start, Clock::now()) / 1000;

  // Released ports' receive threads may still be on their way out.
  Holdings after = holdings();
  for (int i = 0; i < 30 && (after.fds != before.fds || after.threads != before.threads); ++i) {
    std::this_thread::sleep_for(milliseconds(100));
    after = holdings();
  }
  print_report(run, before, after, seconds);

  simulators.clear();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  const bool ok = after.fds == before.fds && after.threads == before.threads && run.failed_activations.load() == 0;
  return ok ? 0 : 1;
}
