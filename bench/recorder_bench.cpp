// kolmrec at the line's full rate on many ports. A harness in this process plays N amplifiers on ptys
// (frame_streamer.h), each sending 1989 frames a second with a counter in them. Phase A reads them with
// plain blocking reads, one thread per port: the floor. Phase B runs kolmrec as a program of its own,
// recording every port into a file while the same load streams; then the file's rows are checked against
// the counters, and kolmrec's CPU (its receive threads and its recording thread, user and system time from
// wait4) is set against the plain readers'.
//
//   recorder_bench [--ports N (16; 1..255)] [--seconds S (10)] [--kolmrec PATH]
//
// Exits 1 when a port cannot be set up or kolmrec fails, 2 when the file lacks, repeats or mangles frames.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "frame_streamer.h"
#include "plain_readers.h"
#include "recording_rows.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using bench::Clock;
using Port = bench::StreamedPort;
using Ports = bench::StreamedPorts;

unsigned long long u(std::uint64_t n) { return n; }

struct Tally {
  std::uint64_t sent = 0, overrun = 0;
  bench::CounterCheck check;
  void collect(const Ports& ports) {
    for (const auto& port : ports) {
      sent += port->next.load();
      overrun += port->overrun.load();
      check.add(port->check);
    }
  }
  double per_1000(double cpu_seconds) const {
    return check.received != 0 ? cpu_seconds * 1e6 / static_cast<double>(check.received) : 0;
  }
};

std::uintmax_t file_size(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? static_cast<std::uintmax_t>(in.tellg()) : 0;
}

bool has_header(const std::string& path) {
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("port,index,", 0) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  int port_count = 16;
  double seconds = 10;
  std::string kolmrec = KOLMREC_PATH;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--ports") port_count = std::atoi(argv[i + 1]);
    if (option == "--seconds") seconds = std::atof(argv[i + 1]);
    if (option == "--kolmrec") kolmrec = argv[i + 1];
  }
  if (argc % 2 == 0 || port_count < 1 || port_count > 255 || !(seconds > 0)) {
    std::fprintf(stderr, "usage: %s [--ports 1..255] [--seconds S] [--kolmrec PATH]\n", argv[0]);
    return 1;
  }
  bench::raise_descriptor_limit();
  std::signal(SIGPIPE, SIG_IGN);

  bench::PortDir dir;
  const Ports ports = bench::linked_ports(port_count, dir);
  std::printf("%d ports, %.0f frames/s each, %.1f s per phase\n", port_count, bench::frame_rate, seconds);

  bench::TaskUsage plain_usage;
  bench::Pacing plain_pacing;
  if (!bench::read_plainly(ports, seconds, plain_usage, plain_pacing)) return 1;
  Tally plain;
  plain.collect(ports);
  std::printf(
      "phase A: plain reads, one thread per port\n  frames sent %llu, received %llu, lost %llu\n"
      "  reading threads: CPU %.3f s = %.3f ms per 1000 frames\n",
      u(plain.sent), u(plain.check.received), u(plain.check.lost), plain_usage.cpu_seconds,
      plain.per_1000(plain_usage.cpu_seconds));
  for (const auto& port : ports) port->reset();

  // Phase B: kolmrec in a process of its own, the harness answering what it asks.
  const std::string output = dir.path() + "/recording.csv";
  std::vector<std::string> args = {kolmrec, "--normalised", "--quiet", "-o", output};
  for (int n = 1; n <= port_count; ++n) {
    args.insert(args.end(), {"--port", std::to_string(n), "--baud", "230400"});
  }
  std::vector<char*> argv_child;
  for (auto& arg : args) argv_child.push_back(arg.data());
  argv_child.push_back(nullptr);
  std::atomic<bool> answering{true};
  std::thread responder(bench::answer_queries, std::cref(ports), std::cref(answering));
  pid_t pid = -1;
  if (posix_spawn(&pid, kolmrec.c_str(), nullptr, nullptr, argv_child.data(), environ) != 0) {
    std::perror(kolmrec.c_str());
    answering = false;
    responder.join();
    return 1;
  }
  const auto started = Clock::now();
  while (!has_header(output) && Clock::now() - started < 60s) std::this_thread::sleep_for(20ms);
  bench::Pacing pacing;
  if (has_header(output)) pacing = bench::stream(ports, seconds);
  // kolmrec takes what arrived every 20 ms: the file has all once it stops growing.
  for (std::uintmax_t size = 0; file_size(output) != size;) {
    size = file_size(output);
    std::this_thread::sleep_for(300ms);
  }
  ::kill(pid, SIGINT);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  answering = false;
  responder.join();
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  const int exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);

  const bool rows_good = bench::check_recording_rows(output, ports);
  Tally recorded;
  recorded.collect(ports);
  const std::uint64_t missing = recorded.sent - recorded.check.received + recorded.check.duplicated;
  const double core = pacing.seconds > 0 ? 100 * cpu / pacing.seconds : 0;
  const double ratio = plain.per_1000(plain_usage.cpu_seconds) > 0
                           ? recorded.per_1000(cpu) / plain.per_1000(plain_usage.cpu_seconds)
                           : 0;
  std::printf(
      "phase B: kolmrec, exit status %d, file %.1f MB\n"
      "  frames sent %llu, rows %llu, missing %llu, duplicated %llu, corrupted %llu, overrun at the pty %llu\n"
      "  kolmrec: CPU %.3f s = %.3f ms per 1000 frames, %.1f%% of one core over %.2f s of streaming\n",
      exit_status, static_cast<double>(file_size(output)) / 1e6, u(recorded.sent), u(recorded.check.received),
      u(missing), u(recorded.check.duplicated), u(recorded.check.corrupted), u(recorded.overrun), cpu,
      recorded.per_1000(cpu), core, pacing.seconds);
  std::printf("kolmrec / plain readers: CPU per frame %.2f\n", ratio);
  std::printf(
      "SUMMARY recorder ports=%d seconds=%.1f sent=%llu rows=%llu missing=%llu dup=%llu corrupt=%llu "
      "cpu_s=%.3f core_pct=%.1f cpu_ms_per_1000_plain=%.3f cpu_ms_per_1000_kolmrec=%.3f ratio_cpu=%.2f exit=%d\n",
      port_count, seconds, u(recorded.sent), u(recorded.check.received), u(missing), u(recorded.check.duplicated),
      u(recorded.check.corrupted), cpu, core, plain.per_1000(plain_usage.cpu_seconds), recorded.per_1000(cpu), ratio,
      exit_status);
  std::remove(output.c_str());
  if (exit_status != 0) return 1;
  return rows_good && missing == 0 && recorded.check.corrupted == 0 ? 0 : 2;
}
