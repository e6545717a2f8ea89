// The messages of values waiting for the broker, bounded per port: while the broker cannot be reached, a
// port keeps its newest blocks up to its bound, and what falls out is counted, so that the summary and the
// exit status tell it and the gap in the sequence numbers shows it to subscribers. Pure, so that the
// accounting is tested without a broker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace kolmrec {

struct QueuedMessage {
  std::size_t stream = 0;  // the port's place in the recording
  std::string topic;
  std::string payload;
  std::uint64_t samples = 0;
};

class BlockQueue {
 public:
  // `bounds`: per stream, the samples it may hold, waiting and handed on but not yet acknowledged.
  explicit BlockQueue(std::vector<std::uint64_t> bounds);

  // Queues `message`; drops the stream's oldest waiting messages while the stream holds more than its
  // bound (but never the one just queued).
  void push(QueuedMessage message);
  // The next message to hand on, taking the streams in turn, so that a port with much to send does not hold
  // up the others; it counts as in flight until acknowledged().
  std::optional<QueuedMessage> next();
  void acknowledged(std::size_t stream, std::uint64_t samples);
  // A message handed on was refused before it was sent: it is waiting again, first.
  void put_back(QueuedMessage message);

  bool empty() const { return waiting_ == 0 && in_flight_ == 0; }
  std::size_t waiting() const { return waiting_; }
  std::size_t in_flight() const { return in_flight_; }
  std::uint64_t dropped_blocks(std::size_t stream) const { return streams_[stream].dropped_blocks; }
  std::uint64_t dropped_samples(std::size_t stream) const { return streams_[stream].dropped_samples; }

 private:
  struct Stream {
    std::deque<QueuedMessage> waiting;
    std::uint64_t bound = 0;
    std::uint64_t held = 0;  // samples waiting or in flight
    std::uint64_t dropped_blocks = 0, dropped_samples = 0;
  };
  std::vector<Stream> streams_;
  std::size_t turn_ = 0;  // the stream next() looks at first
  std::size_t waiting_ = 0, in_flight_ = 0;
};

}  // namespace kolmrec
