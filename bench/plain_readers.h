// The floor that the streaming benchmarks measure the library against: each port read by a plain program,
// one thread per port in blocking reads of whatever has arrived, the frames found in the bytes however the
// reads cut them.
#pragma once

#include "frame_streamer.h"

namespace bench {

// Streams `seconds` of frames to every port while plain readers take them; each port's check then holds
// what its reader found, `used` the CPU and read calls of the reading threads. False when a port would not
// open. Uses SIGUSR1 to end the blocked reads.
bool read_plainly(const StreamedPorts& ports, double seconds, TaskUsage& used, Pacing& pacing);

}  // namespace bench
