#include "block_queue.h"

#include <algorithm>
#include <utility>

namespace kolmrec {

BlockQueue::BlockQueue(std::vector<std::uint64_t> bounds) : streams_(bounds.size()) {
  for (std::size_t i = 0; i < bounds.size(); ++i) streams_[i].bound = bounds[i];
}

void BlockQueue::push(QueuedMessage message) {
  Stream& stream = streams_.at(message.stream);
  stream.held += message.samples;
  stream.waiting.push_back(std::move(message));
  ++waiting_;
  while (stream.held > stream.bound && stream.waiting.size() > 1) {
    const std::uint64_t samples = stream.waiting.front().samples;
    stream.waiting.pop_front();
    --waiting_;
    stream.held -= samples;
    ++stream.dropped_blocks;
    stream.dropped_samples += samples;
  }
}

std::optional<QueuedMessage> BlockQueue::next() {
  for (std::size_t looked = 0; looked < streams_.size(); ++looked) {
    Stream& stream = streams_[turn_];
    turn_ = (turn_ + 1) % streams_.size();
    if (stream.waiting.empty()) continue;
    QueuedMessage message = std::move(stream.waiting.front());
    stream.waiting.pop_front();
    --waiting_;
    ++in_flight_;
    return message;
  }
  return std::nullopt;
}

void BlockQueue::acknowledged(std::size_t stream, std::uint64_t samples) {
  Stream& acknowledged_stream = streams_.at(stream);
  acknowledged_stream.held -= std::min(samples, acknowledged_stream.held);
  if (in_flight_ != 0) --in_flight_;
}

void BlockQueue::put_back(QueuedMessage message) {
  Stream& stream = streams_.at(message.stream);
  stream.waiting.push_front(std::move(message));
  ++waiting_;
  if (in_flight_ != 0) --in_flight_;
}

}  // namespace kolmrec
