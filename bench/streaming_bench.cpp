// End to end over a pty: the simulated amplifier streams at its fastest data rate (7500 frames a second)
// and a reader takes values every millisecond, as the console does. Reports frames lost and the CPU the
// process spent, streaming and idle.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "kolmsim/simulator.h"
#include "pekolm.h"

namespace {

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main() {
  char dir[] = "/tmp/pekolm-bench.XXXXXX";
  if (!mkdtemp(dir)) return 1;
  setenv("PEKOLM_PORT_DIR", dir, 1);
  kolmsim::Options options;
  options.transmitting = false;
  options.rate_code = 0xAF;
  kolmsim::Simulator simulator(options);
  simulator.link_port(dir, 1);
  if (KolmactivateExtended(1, 230400, 100000, 0) != 0) {
    std::fprintf(stderr, "activation failed: 0x%X\n", KolmgetLastError(1));
    return 1;
  }

  double cpu = cpu_seconds();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const double idle_cpu = cpu_seconds() - cpu;

  const auto sent_before = simulator.frames_sent();
  cpu = cpu_seconds();
  KolmstartTX(1);
  long taken = 0;
  double block[400];
  int count = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < end) {
    if (KolmreadMultiple(1, 0, block, 400, &count) == 1) taken += count / 4;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  KolmstopTX(1);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  while (KolmreadMultiple(1, 0, block, 400, &count) == 1) taken += count / 4;
  const double streaming_cpu = cpu_seconds() - cpu;
  const long sent = static_cast<long>(simulator.frames_sent() - sent_before);

  std::printf("frames sent %ld, taken %ld, lost %ld\n", sent, taken, sent - taken);
  std::printf("CPU: idle port %.3f s in 2 s; streaming 3 s at 7500 frames/s (simulator included) %.3f s\n", idle_cpu,
              streaming_cpu);
  Kolmrelease(1);
  std::string cleanup = std::string("rm -rf ") + dir;
  return std::system(cleanup.c_str()) == 0 && sent == taken ? 0 : 2;
}
