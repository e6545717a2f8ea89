// The amplifiers' side of the streaming benchmark: one pty per port, each sent measured-value frames with a
// counter at the line's full rate, every frame in a write of its own as a UART hands them over, on an
// absolute schedule; and the answers that activation waits for.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "pty_harness.h"

namespace bench {

struct StreamedPort {
  int number = 0;
  Pty pty;
  std::atomic<std::uint32_t> next{0};     // counter of the next frame; also the frames written whole
  std::atomic<std::uint64_t> overrun{0};  // writes the pty did not take whole
  CounterCheck check;                     // its reader's alone while a phase runs
  std::atomic<std::uint32_t> seen{0};     // check.expected, published by the reader for drain()
  void reset();
};
using StreamedPorts = std::vector<std::unique_ptr<StreamedPort>>;

// How well the harness kept its schedule: a machine too busy to write the frames in time also batches
// them for the readers, which then need fewer reads per frame.
struct Pacing {
  std::uint64_t late = 0;  // frames written more than a period after they fell due
  long long worst_ns = 0;
  double seconds = 0;      // from the first frame due to the last written
  double cpu_seconds = 0;  // of the harness threads
  void add(const Pacing& other);
};

// Ports 1..count, each linked in `dir` as com<n>.
StreamedPorts linked_ports(int count, const PortDir& dir);
// Streams `seconds` worth of frames to every port, from one harness thread or, for more ports, two.
Pacing stream(const StreamedPorts& ports, double seconds);
// Returns once the readers have accounted for every frame written, or nothing moved for a second.
void drain(const StreamedPorts& ports);
// Answers the queries of activation and of a recorder (query_answer) on every port until `answering` turns
// false.
void answer_queries(const StreamedPorts& ports, const std::atomic<bool>& answering);

}  // namespace bench
