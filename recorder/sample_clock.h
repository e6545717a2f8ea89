// A port's sample index held against the host's monotonic clock. The index counts the amplifier's samples,
// but a value buffer found full may have overwritten some of them, and then only the clock tells how many:
// the rows after such a loss must not be stamped as if nothing had been lost. Pure, so that the arithmetic
// is tested without a device.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kolmrec {

class SampleClock {
 public:
  explicit SampleClock(double rate_hz) : rate_hz_(rate_hz) {}

  // A read at `host_seconds` (since the start) found `waiting` samples in the buffers, which
  // were `full` (the oldest may then have been overwritten). Returns the samples estimated lost before those
  // waiting, never below 0, and moves the index on by them: the samples the data rate gives for the time,
  // less those seen, less the lag by which the samples arrive late at reads that lost nothing. None when the
  // buffers were not full.
  std::uint64_t read_at(double host_seconds, std::uint64_t waiting, bool full);
  // The next `samples` got the indices from next_index() on.
  void taken(std::uint64_t samples) { next_index_ += samples; }
  std::uint64_t next_index() const { return next_index_; }

 private:
  // The median lag of the last reads that lost nothing: the first reads after a program that was held up
  // as a whole still find the samples of the stall on their way, and must not count as the usual lag. Over
  // a second or so, so that a data rate a little off the host's clock does not matter.
  double usual_lag();

  double rate_hz_;
  std::uint64_t next_index_ = 0;
  std::array<double, 63> lags_{};  // samples the clock gives beyond those seen, at reads not full
  std::size_t lags_noted_ = 0;
};

}  // namespace kolmrec
