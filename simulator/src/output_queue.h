// Bytes on their way to the host. Frames are queued whole and may be cut into pieces with pauses
// between them (to test the host's reassembly). The queue is bounded: a real line cannot buffer for
// ever, so when the host does not read, the oldest frames not yet begun are dropped whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "kolmsim/simulator.h"

namespace kolmsim {

enum class FrameKind { answer, value, other };

class OutputQueue {
 public:
  static constexpr std::size_t kDefaultLimit = std::size_t{1} << 20;

  explicit OutputQueue(std::size_t limit = kDefaultLimit) : limit_(limit) {}

  // Queues one frame cut into pieces of `piece_sizes` bytes (the last size repeats; an empty list
  // keeps the frame whole), with `gap` before every piece but the first.
  void push(const Bytes& frame, FrameKind kind, const std::vector<std::size_t>& piece_sizes, Clock::duration gap);

  // When the next byte may go out: none when empty; a time not after now means "as soon as the line
  // takes it".
  std::optional<Clock::time_point> ready_at() const;

  // Writes whatever may go out by `now`. `write` takes bytes and returns how many the line accepted
  // (fewer, down to 0, when it is full). Returns the number of measured-value frames completed.
  using Writer = std::function<std::size_t(std::span<const std::uint8_t>)>;
  std::size_t flush(Clock::time_point now, const Writer& write);

  std::size_t queued_bytes() const { return bytes_; }
  bool empty() const { return pieces_.empty(); }
  void clear();

 private:
  struct Piece {
    Bytes bytes;
    std::size_t sent = 0;
    Clock::duration gap_before{};  // pause after the previous piece of the same frame
    std::uint64_t frame = 0;
    bool first = false;  // first piece of its frame
    bool last = false;   // last piece of its frame
    FrameKind kind = FrameKind::other;
  };

  bool front_ready(Clock::time_point now) const;
  void drop_oldest_frames();

  std::deque<Piece> pieces_;
  std::size_t bytes_ = 0;
  std::size_t limit_;
  std::uint64_t next_frame_ = 0;
  Clock::time_point last_write_{};
};

}  // namespace kolmsim
