// kolmrec publishing many ports at the line's full rate through a broker to the collector. The harness
// plays N amplifiers on ptys (frame_streamer.h), each sending 1989 frames a second with a counter in them.
// Phase A: kolmrec records every port into a CSV file: the floor. Phase B: a mosquitto of its own on a free
// port, the Python collector (python3 -m pekolm collect) subscribed to it, and kolmrec publishing the same
// load with --mqtt; the collector's file is then checked against the counters. kolmrec's CPU in B is set
// against its CPU in A, per frame; the broker's and the collector's are told beside it (all from wait4).
//
//   mqtt_bench [--ports N (64)] [--seconds S (10)] [--kolmrec PATH] [--python PATH (/usr/bin/python3)]
//              [--mosquitto PATH (/usr/sbin/mosquitto)]
//
// Exits 1 when a program cannot be started or fails, 2 when the collector's file lacks, repeats or mangles
// frames.
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
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
#include "loopback_port.h"
#include "recording_rows.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using bench::Clock;
using Ports = bench::StreamedPorts;

unsigned long long u(std::uint64_t n) { return n; }

struct Child {
  pid_t pid = -1;
  double cpu_seconds = 0;
  int exit_status = -1;

  bool start(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid, args[0].c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
      std::perror(args[0].c_str());
      return false;
    }
    return true;
  }
  void stop(int signal_number) {
    if (pid < 0) return;
    ::kill(pid, signal_number);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    pid = -1;
    cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  ~Child() { stop(SIGKILL); }
};

std::uintmax_t file_size(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? static_cast<std::uintmax_t>(in.tellg()) : 0;
}

std::size_t lines_with(const std::string& path, const std::string& text) {
  std::ifstream in(path);
  std::size_t count = 0;
  for (std::string line; std::getline(in, line);) count += line.find(text) != std::string::npos ? 1 : 0;
  return count;
}

void wait_until_still(const std::string& path, std::chrono::milliseconds quiet) {
  for (std::uintmax_t size = 0; file_size(path) != size;) {
    size = file_size(path);
    std::this_thread::sleep_for(quiet);
  }
}

struct Outcome {
  std::uint64_t sent = 0, received = 0, missing = 0, duplicated = 0, corrupted = 0;
  double streamed_seconds = 0;
  double cpu_per_frame_us(double cpu) const { return received != 0 ? cpu * 1e6 / static_cast<double>(received) : 0; }
};

Outcome tally(const Ports& ports, const bench::Pacing& pacing) {
  Outcome outcome;
  for (const auto& port : ports) {
    outcome.sent += port->next.load();
    outcome.received += port->check.received;
    outcome.duplicated += port->check.duplicated;
    outcome.corrupted += port->check.corrupted;
  }
  outcome.missing = outcome.sent - outcome.received + outcome.duplicated;
  outcome.streamed_seconds = pacing.seconds;
  return outcome;
}

std::vector<std::string> kolmrec_args(const std::string& kolmrec, int port_count) {
  std::vector<std::string> args = {kolmrec, "--normalised", "--quiet"};
  for (int n = 1; n <= port_count; ++n) args.insert(args.end(), {"--port", std::to_string(n), "--baud", "230400"});
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  int port_count = 64;
  double seconds = 10;
  std::string kolmrec = KOLMREC_PATH, python = "/usr/bin/python3", mosquitto = "/usr/sbin/mosquitto";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--ports") port_count = std::atoi(argv[i + 1]);
    if (option == "--seconds") seconds = std::atof(argv[i + 1]);
    if (option == "--kolmrec") kolmrec = argv[i + 1];
    if (option == "--python") python = argv[i + 1];
    if (option == "--mosquitto") mosquitto = argv[i + 1];
  }
  if (argc % 2 == 0 || port_count < 1 || port_count > 255 || !(seconds > 0)) {
    std::fprintf(stderr,
                 "usage: %s [--ports 1..255] [--seconds S] [--kolmrec PATH] [--python PATH] [--mosquitto PATH]\n",
                 argv[0]);
    return 1;
  }
  bench::raise_descriptor_limit();
  std::signal(SIGPIPE, SIG_IGN);
  // The collector is the package in this source tree; it needs no library.
  setenv("PYTHONPATH", PEKOLM_PYTHON_SOURCE, 1);
  setenv("PYTHONDONTWRITEBYTECODE", "1", 1);

  bench::PortDir dir;
  const Ports ports = bench::linked_ports(port_count, dir);
  std::printf("%d ports, %.0f frames/s each, %.1f s per phase\n", port_count, bench::frame_rate, seconds);
  std::atomic<bool> answering{true};
  std::thread responder(bench::answer_queries, std::cref(ports), std::cref(answering));
  auto finish = [&](int status) {
    answering = false;
    responder.join();
    return status;
  };

  // Phase A: kolmrec into a file.
  const std::string recording = dir.path() + "/recording.csv";
  Child csv_recorder;
  auto args = kolmrec_args(kolmrec, port_count);
  args.insert(args.end(), {"-o", recording});
  if (!csv_recorder.start(args)) return finish(1);
  for (const auto started = Clock::now(); lines_with(recording, "port,index,") == 0 && Clock::now() - started < 60s;) {
    std::this_thread::sleep_for(20ms);
  }
  const bench::Pacing csv_pacing = bench::stream(ports, seconds);
  wait_until_still(recording, 300ms);
  csv_recorder.stop(SIGINT);
  const bool recording_good = bench::check_recording_rows(recording, ports);
  const Outcome csv = tally(ports, csv_pacing);
  std::remove(recording.c_str());
  for (const auto& port : ports) port->reset();

  // Phase B: broker, collector, kolmrec --mqtt.
  const int broker_port = testing_support::free_loopback_port();
  const std::string config = dir.path() + "/mosquitto.conf";
  std::ofstream(config) << "listener " << broker_port << " 127.0.0.1\nallow_anonymous true\n"
                        << "max_queued_messages 0\nmax_inflight_messages 0\nlog_dest none\n";
  Child broker, collector, publisher;
  if (!broker.start({mosquitto, "-c", config})) return finish(1);
  std::this_thread::sleep_for(500ms);
  const std::string url = "mqtt://127.0.0.1:" + std::to_string(broker_port) + "/bench";
  const std::string collected = dir.path() + "/collected.csv";
  if (!collector.start({python, "-m", "pekolm", "collect", url, "-o", collected, "--quiet"})) return finish(1);
  for (const auto started = Clock::now(); lines_with(collected, "port,index,") == 0 && Clock::now() - started < 30s;) {
    std::this_thread::sleep_for(20ms);
  }
  args = kolmrec_args(kolmrec, port_count);
  args.insert(args.end(), {"--mqtt", url});
  if (!publisher.start(args)) return finish(1);
  // The collector tells each stream once the port's info has come: kolmrec is then recording.
  for (const auto started = Clock::now();
       lines_with(collected, "node port:") < static_cast<std::size_t>(port_count) && Clock::now() - started < 60s;) {
    std::this_thread::sleep_for(20ms);
  }
  const bench::Pacing mqtt_pacing = bench::stream(ports, seconds);
  std::this_thread::sleep_for(1s);
  publisher.stop(SIGINT);
  wait_until_still(collected, 1000ms);
  collector.stop(SIGINT);
  broker.stop(SIGTERM);
  const bool collected_good = bench::check_recording_rows(collected, ports);
  const Outcome mqtt = tally(ports, mqtt_pacing);
  const double collected_mb = static_cast<double>(file_size(collected)) / 1e6;
  std::remove(collected.c_str());

  const double csv_us = csv.cpu_per_frame_us(csv_recorder.cpu_seconds);
  const double mqtt_us = mqtt.cpu_per_frame_us(publisher.cpu_seconds);
  const double ratio = csv_us > 0 ? mqtt_us / csv_us : 0;
  std::printf(
      "phase A: kolmrec into CSV, exit status %d\n  frames sent %llu, rows %llu, missing %llu\n"
      "  kolmrec: CPU %.3f s = %.2f us per frame\n",
      csv_recorder.exit_status, u(csv.sent), u(csv.received), u(csv.missing), csv_recorder.cpu_seconds, csv_us);
  std::printf(
      "phase B: kolmrec --mqtt (exit %d) -> mosquitto (exit %d) -> collector (exit %d), collected %.1f MB\n"
      "  frames sent %llu, rows %llu, missing %llu, duplicated %llu, corrupted %llu\n"
      "  kolmrec: CPU %.3f s = %.2f us per frame; broker %.3f s = %.2f us; collector %.3f s = %.2f us\n",
      publisher.exit_status, broker.exit_status, collector.exit_status, collected_mb, u(mqtt.sent), u(mqtt.received),
      u(mqtt.missing), u(mqtt.duplicated), u(mqtt.corrupted), publisher.cpu_seconds, mqtt_us, broker.cpu_seconds,
      mqtt.cpu_per_frame_us(broker.cpu_seconds), collector.cpu_seconds, mqtt.cpu_per_frame_us(collector.cpu_seconds));
  std::printf("kolmrec --mqtt / kolmrec CSV: CPU per frame %.2f\n", ratio);
  std::printf(
      "SUMMARY mqtt ports=%d seconds=%.1f sent=%llu rows=%llu missing=%llu dup=%llu corrupt=%llu csv_us=%.3f "
      "mqtt_us=%.3f broker_us=%.3f collector_us=%.3f ratio_cpu=%.2f\n",
      port_count, seconds, u(mqtt.sent), u(mqtt.received), u(mqtt.missing), u(mqtt.duplicated), u(mqtt.corrupted),
      csv_us, mqtt_us, mqtt.cpu_per_frame_us(broker.cpu_seconds), mqtt.cpu_per_frame_us(collector.cpu_seconds), ratio);
  if (csv_recorder.exit_status != 0 || publisher.exit_status != 0 || collector.exit_status != 0) return finish(1);
  const bool complete = recording_good && collected_good && csv.missing == 0 && mqtt.missing == 0 &&
                        mqtt.corrupted == 0 && mqtt.duplicated == 0;
  return finish(complete ? 0 : 2);
}
