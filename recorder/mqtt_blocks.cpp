#include "mqtt_blocks.h"

#include <algorithm>
#include <cmath>

namespace kolmrec {

std::size_t block_samples_for(double rate_hz, double block_seconds) {
  const double samples = std::round(rate_hz * block_seconds);
  return samples < 1 ? 1 : static_cast<std::size_t>(std::min(samples, 1e6));
}

void MqttBlocks::samples(const TakenSamples& taken) {
  Port& state = ports_[taken.port.port];
  if (state.capacity == 0) state.capacity = block_samples_for(taken.port.rate_hz, block_seconds_);
  for (std::size_t k = 0; k < taken.sets; ++k) {
    const std::uint64_t index = taken.first_index + k;
    if (state.held != 0 && state.block.first_index + state.held != index) hand_on(taken.port.port, state);
    if (state.held == 0) {
      state.block.first_index = index;
      state.block.rate_hz = taken.port.rate_hz;
      const double offset_us = std::round(static_cast<double>(index) * 1e6 / taken.port.rate_hz);
      state.block.first_time_us = start_time_us_ + static_cast<std::int64_t>(offset_us);
      state.block.normalised = normalised_;
      for (auto& channel : state.block.channels) channel.reserve(state.capacity);
    }
    for (std::size_t c = 0; c < 4; ++c) state.block.channels[c].push_back(taken.values[4 * k + c] * taken.factors[c]);
    if (++state.held == state.capacity) hand_on(taken.port.port, state);
  }
}

void MqttBlocks::loss(int port, std::uint64_t /*index*/, std::uint64_t /*lost*/) {
  if (auto found = ports_.find(port); found != ports_.end() && found->second.held != 0) hand_on(port, found->second);
}

void MqttBlocks::flush() {
  for (auto& [port, state] : ports_) {
    if (state.held != 0) hand_on(port, state);
  }
}

void MqttBlocks::hand_on(int port, Port& state) {
  state.block.sequence = state.next_sequence++;
  ready_.emplace_back(port, std::move(state.block));
  state.block = ValuesBlock{};
  state.held = 0;
}

}  // namespace kolmrec
