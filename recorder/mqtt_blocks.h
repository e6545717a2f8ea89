// Gathers each port's samples into the blocks that are published: a fixed number of samples each, so
// that a block of a port at 1875 Hz holds a tenth of a second by default. A block never spans a loss: the
// first index of the next one shows where values are missing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "mqtt_payload.h"
#include "sample_sink.h"

namespace kolmrec {

// Samples per block: the rate times the seconds asked for, at least one.
std::size_t block_samples_for(double rate_hz, double block_seconds);

class MqttBlocks final : public SampleSink {
 public:
  // `start_time_us`: the UTC time of sample 0, microseconds since 1970; sample k is k / rate later.
  MqttBlocks(double block_seconds, bool normalised, std::int64_t start_time_us)
      : block_seconds_(block_seconds), normalised_(normalised), start_time_us_(start_time_us) {}

  void samples(const TakenSamples& taken) override;
  void loss(int port, std::uint64_t index, std::uint64_t lost) override;
  // Hands on the blocks not yet full, as at the end of the recording.
  void flush();
  // The blocks completed since the last call, with their port numbers, in the order they were completed.
  std::vector<std::pair<int, ValuesBlock>> take_ready() { return std::exchange(ready_, {}); }

 private:
  struct Port {
    ValuesBlock block;         // being filled
    std::size_t held = 0;      // samples in block
    std::size_t capacity = 0;  // samples per block
    std::uint64_t next_sequence = 0;
  };
  void hand_on(int port, Port& state);

  double block_seconds_;
  bool normalised_;
  std::int64_t start_time_us_;
  std::map<int, Port> ports_;
  std::vector<std::pair<int, ValuesBlock>> ready_;
};

}  // namespace kolmrec
