// The output queue: coalescing, pieces with pauses, the bound, and counting sent frames.
#include "output_queue.h"

#include <gtest/gtest.h>

namespace kolmsim {
namespace {

using namespace std::chrono_literals;

// A line that takes up to `room` bytes per write and keeps what it took.
struct FakeLine {
  std::size_t room = SIZE_MAX;
  Bytes taken;
  int writes = 0;
  OutputQueue::Writer writer() {
    return [this](std::span<const std::uint8_t> bytes) {
      ++writes;
      const std::size_t n = std::min(room, bytes.size());
      taken.insert(taken.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
      room -= n;
      return n;
    };
  }
};

Bytes frame_of(std::uint8_t fill, std::size_t size = 11) { return Bytes(size, fill); }
const Clock::time_point t0 = Clock::time_point{} + 1h;

TEST(OutputQueue, WholeFramesGoOutTogetherInOneWrite) {
  OutputQueue q;
  q.push(frame_of(1), FrameKind::value, {}, {});
  q.push(frame_of(2, 13), FrameKind::answer, {}, {});
  q.push(frame_of(3), FrameKind::value, {}, {});
  FakeLine line;
  EXPECT_EQ(q.flush(t0, line.writer()), 2u);  // value frames completed
  EXPECT_EQ(line.writes, 1);
  EXPECT_EQ(line.taken.size(), 35u);
  EXPECT_TRUE(q.empty());
}

TEST(OutputQueue, PiecesWaitForTheirGap) {
  OutputQueue q;
  q.push(frame_of(7), FrameKind::value, {4, 2}, 10ms);  // 4, 2, 2, 2, 1
  FakeLine line;
  EXPECT_EQ(q.flush(t0, line.writer()), 0u);
  EXPECT_EQ(line.taken.size(), 4u);
  EXPECT_EQ(q.ready_at(), t0 + 10ms);
  q.flush(t0 + 9ms, line.writer());
  EXPECT_EQ(line.taken.size(), 4u);
  q.flush(t0 + 10ms, line.writer());
  EXPECT_EQ(line.taken.size(), 6u);
  std::size_t completed = 0;
  for (auto t = t0 + 20ms; !q.empty(); t += 10ms) completed += q.flush(t, line.writer());
  EXPECT_EQ(completed, 1u);
  EXPECT_EQ(line.taken, frame_of(7));
}

TEST(OutputQueue, AFullLineKeepsTheRestInOrder) {
  OutputQueue q;
  q.push(frame_of(1), FrameKind::value, {}, {});
  q.push(frame_of(2), FrameKind::value, {}, {});
  FakeLine line;
  line.room = 15;
  EXPECT_EQ(q.flush(t0, line.writer()), 1u);
  EXPECT_EQ(q.queued_bytes(), 7u);
  EXPECT_EQ(q.ready_at(), Clock::time_point::min());  // waiting for the line, not for time
  line.room = 100;
  EXPECT_EQ(q.flush(t0, line.writer()), 1u);
  Bytes expected = frame_of(1);
  const Bytes second = frame_of(2);
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(line.taken, expected);
}

TEST(OutputQueue, BoundDropsOldestWholeFramesButNeverOneBegun) {
  OutputQueue q(30);
  q.push(frame_of(1), FrameKind::value, {}, {});
  FakeLine line;
  line.room = 5;
  q.flush(t0, line.writer());  // frame 1 begun: 6 bytes left
  q.push(frame_of(2), FrameKind::value, {}, {});
  q.push(frame_of(3), FrameKind::value, {}, {});
  q.push(frame_of(4), FrameKind::value, {}, {});  // 39 bytes: frame 2 must go
  EXPECT_LE(q.queued_bytes(), 30u);
  line.room = 100;
  q.flush(t0, line.writer());
  Bytes expected = frame_of(1);
  for (std::uint8_t f : {3, 4}) {
    const Bytes b = frame_of(f);
    expected.insert(expected.end(), b.begin(), b.end());
  }
  EXPECT_EQ(line.taken, expected);
}

TEST(OutputQueue, AFrameLargerThanTheBoundIsDroppedWhole) {
  OutputQueue q(10);
  q.push(frame_of(9, 11), FrameKind::other, {}, {});
  EXPECT_TRUE(q.empty());
  EXPECT_EQ(q.queued_bytes(), 0u);
}

}  // namespace
}  // namespace kolmsim
