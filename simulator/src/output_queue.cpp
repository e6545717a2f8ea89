// The bounded, piece-aware output queue.
#include "output_queue.h"

#include <algorithm>

namespace kolmsim {
namespace {

// Bytes gathered for one write: enough for many frames at the highest rate, small enough to stay in
// the pty's buffer range.
constexpr std::size_t kMaxWrite = std::size_t{16} * 1024;

}  // namespace

void OutputQueue::push(const Bytes& frame, FrameKind kind, const std::vector<std::size_t>& piece_sizes,
                       Clock::duration gap) {
  if (frame.empty()) return;
  const std::uint64_t id = next_frame_++;
  std::size_t at = 0;
  std::size_t index = 0;
  while (at < frame.size()) {
    std::size_t size = frame.size() - at;
    if (!piece_sizes.empty()) {
      size = std::min(size, std::max<std::size_t>(1, piece_sizes[std::min(index, piece_sizes.size() - 1)]));
    }
    Piece piece;
    piece.bytes.assign(frame.begin() + static_cast<std::ptrdiff_t>(at),
                       frame.begin() + static_cast<std::ptrdiff_t>(at + size));
    piece.gap_before = index == 0 ? Clock::duration::zero() : gap;
    piece.frame = id;
    piece.kind = kind;
    piece.first = index == 0;
    at += size;
    piece.last = at == frame.size();
    pieces_.push_back(std::move(piece));
    ++index;
  }
  bytes_ += frame.size();
  drop_oldest_frames();
}

void OutputQueue::drop_oldest_frames() {
  while (bytes_ > limit_) {
    // A frame already begun must be finished, or the host would see a torn frame.
    auto victim = pieces_.begin();
    if (victim != pieces_.end() && (victim->sent > 0 || !victim->first)) {
      const std::uint64_t begun = victim->frame;
      while (victim != pieces_.end() && victim->frame == begun) ++victim;
    }
    if (victim == pieces_.end()) return;
    auto end = victim;
    while (end != pieces_.end() && end->frame == victim->frame) {
      bytes_ -= end->bytes.size();
      ++end;
    }
    pieces_.erase(victim, end);
  }
}

bool OutputQueue::front_ready(Clock::time_point now) const {
  const Piece& p = pieces_.front();
  return p.sent > 0 || p.gap_before == Clock::duration::zero() || now >= last_write_ + p.gap_before;
}

std::optional<Clock::time_point> OutputQueue::ready_at() const {
  if (pieces_.empty()) return std::nullopt;
  const Piece& p = pieces_.front();
  if (p.sent > 0 || p.gap_before == Clock::duration::zero()) return Clock::time_point::min();
  return last_write_ + p.gap_before;
}

std::size_t OutputQueue::flush(Clock::time_point now, const Writer& write) {
  std::size_t values_completed = 0;
  Bytes scratch;
  while (!pieces_.empty() && front_ready(now)) {
    // Gather the front piece and every following one that needs no pause.
    scratch.clear();
    for (auto it = pieces_.begin(); it != pieces_.end() && scratch.size() < kMaxWrite; ++it) {
      if (it != pieces_.begin() && it->gap_before != Clock::duration::zero()) break;
      scratch.insert(scratch.end(), it->bytes.begin() + static_cast<std::ptrdiff_t>(it->sent), it->bytes.end());
    }
    const std::size_t written = std::min(write(scratch), scratch.size());
    if (written > 0) last_write_ = now;
    std::size_t left = written;
    while (left > 0) {
      Piece& p = pieces_.front();
      const std::size_t take = std::min(left, p.bytes.size() - p.sent);
      p.sent += take;
      left -= take;
      bytes_ -= take;
      if (p.sent == p.bytes.size()) {
        if (p.last && p.kind == FrameKind::value) ++values_completed;
        // bytes_ already counts this piece's bytes as gone.
        pieces_.pop_front();
      }
    }
    if (written < scratch.size()) break;  // the line is full; wait for it to drain
  }
  return values_completed;
}

void OutputQueue::clear() {
  pieces_.clear();
  bytes_ = 0;
}

}  // namespace kolmsim
