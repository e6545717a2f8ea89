// A port's sample index held against the host's monotonic clock. The index counts the amplifier's samples,
// but a value buffer found full may have overwritten some of them, and then only the clock tells how many:
// the rows after such a loss must not be stamped as if nothing had been lost. Pure, so that the arithmetic
// is tested without a device.
#pragma once

#include <cstdint>

namespace kolmrec {

class SampleClock {
 public:
  explicit SampleClock(double rate_hz) : rate_hz_(rate_hz) {}

  // A read at `host_seconds` found `waiting` samples in the buffers, which were `full` (the oldest may then
  // have been overwritten). Returns the samples estimated lost before those waiting: the samples the data
  // rate gives for the time since the previous read, less those seen since, never below 0; none when the
  // buffers were not full. The index moves on by that many. Measured from the previous read rather than from
  // the start, so that a data rate a little off the host's clock errs over the stall only.
  std::uint64_t read_at(double host_seconds, std::uint64_t waiting, bool full);
  // The next `samples` got the indices from next_index() on.
  void taken(std::uint64_t samples) { next_index_ += samples; }
  std::uint64_t next_index() const { return next_index_; }

 private:
  double rate_hz_;
  std::uint64_t next_index_ = 0;
  double previous_seconds_ = 0;          // of the previous read (0: the buffers were emptied at the start)
  std::uint64_t previous_position_ = 0;  // samples sent by then, lost ones included
};

}  // namespace kolmrec
