// Round trip of a query: KolmgetMode through the library against the same command and answer over a raw
// pty, in alternating blocks of one run so that both meet the same machine. Each side talks to a simulated
// amplifier of its own (the library holds its port exclusively), with transmission off, so that only the
// answer travels.
//
//   query_bench [--blocks B (20)] [--per-block K (200)]
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kolmsim/simulator.h"
#include "pekolm.h"
#include "pty_harness.h"

namespace {

using bench::Clock;

constexpr std::uint8_t get_mode = 0x27;  // a single byte; its answer carries one payload byte
constexpr std::size_t answer_length = 11;
constexpr int port = 1;

// From the write of the command to the answer's last byte, in microseconds; negative on failure.
double raw_round_trip(int fd) {
  const auto start = Clock::now();
  if (::write(fd, &get_mode, 1) != 1) return -1;
  std::uint8_t answer[64];
  std::size_t have = 0;
  while (have < answer_length) {
    pollfd in{fd, POLLIN, 0};
    if (::poll(&in, 1, 6000) <= 0) return -1;
    const ssize_t n = ::read(fd, answer + have, sizeof answer - have);
    if (n > 0) {
      have += static_cast<std::size_t>(n);
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      return -1;
    }
  }
  const auto end = Clock::now();
  return have == answer_length && answer[0] == ';' && answer[8] == 1 ? bench::microseconds(end - start) : -1;
}

double library_round_trip() {
  const auto start = Clock::now();
  const int mode = KolmgetMode(port);
  const auto end = Clock::now();
  return mode == 1 ? bench::microseconds(end - start) : -1;
}

struct Side {
  const char* name;
  std::vector<double> samples;
  long failures = 0;
  template <typename Trip>
  void run(int count, Trip trip) {
    for (int i = 0; i < count; ++i) {
      const double us = trip();
      if (us < 0) {
        ++failures;
      } else {
        samples.push_back(us);
      }
    }
  }
  double median() const { return bench::percentile(samples, 50); }
  double p99() const { return bench::percentile(samples, 99); }
  void print() const {
    std::printf("%-10s %6zu round trips: median %8.1f us, p99 %8.1f us, max %8.1f us, failed %ld\n", name,
                samples.size(), median(), p99(), bench::percentile(samples, 100), failures);
  }
};

}  // namespace

int main(int argc, char** argv) {
  int blocks = 20, per_block = 200;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--blocks") == 0) blocks = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--per-block") == 0) per_block = std::atoi(argv[i + 1]);
  }
  if (argc % 2 == 0 || blocks < 1 || per_block < 1) {
    std::fprintf(stderr, "usage: %s [--blocks B] [--per-block K]\n", argv[0]);
    return 1;
  }

  bench::PortDir dir;
  kolmsim::Options options;
  options.transmitting = false;
  options.tx_mode = 0;
  kolmsim::Simulator library_amplifier(options);
  kolmsim::Simulator raw_amplifier(options);
  library_amplifier.link_port(dir.path(), port);
  if (KolmactivateExtended(port, 230400, 1024, 0) != 0) {
    std::fprintf(stderr, "activation failed: 0x%X\n", KolmgetLastError(port));
    return 1;
  }
  const int fd = bench::open_raw(raw_amplifier.slave_path(), true);
  if (fd < 0) {
    std::perror("open pty");
    return 1;
  }

  Side library{"library", {}}, raw{"raw pty", {}};
  // Warming up (first wake-ups, page faults), not counted.
  for (int i = 0; i < 20; ++i) {
    library_round_trip();
    raw_round_trip(fd);
  }
  for (int block = 0; block < blocks; ++block) {
    // Each side goes first in every other block, so that neither always follows the other.
    for (int turn = 0; turn < 2; ++turn) {
      if ((block + turn) % 2 == 0) {
        library.run(per_block, library_round_trip);
      } else {
        raw.run(per_block, [fd] { return raw_round_trip(fd); });
      }
    }
    // The simulators keep every command; forgotten so that memory stays flat.
    library_amplifier.clear_commands();
    raw_amplifier.clear_commands();
  }
  ::close(fd);
  Kolmrelease(port);

  std::printf("KolmgetMode (0x27, %zu-byte answer), %d blocks of %d per side, alternating\n", answer_length, blocks,
              per_block);
  library.print();
  raw.print();
  const double ratio_median = raw.median() > 0 ? library.median() / raw.median() : -1;
  const double ratio_p99 = raw.p99() > 0 ? library.p99() / raw.p99() : -1;
  std::printf("library / raw: median %.2f, p99 %.2f\n", ratio_median, ratio_p99);
  std::printf(
      "SUMMARY query blocks=%d per_block=%d lib_median_us=%.1f lib_p99_us=%.1f raw_median_us=%.1f raw_p99_us=%.1f "
      "ratio_median=%.2f ratio_p99=%.2f failures=%ld\n",
      blocks, per_block, library.median(), library.p99(), raw.median(), raw.p99(), ratio_median, ratio_p99,
      library.failures + raw.failures);
  return library.failures + raw.failures == 0 ? 0 : 2;
}
