// The frame decoder fed byte sequences in every splitting, driven the way the receive thread drives it:
// reads sized to what the open frame lacks, the unfinished frame carried to the next pass.
#include "protocol/frame_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace pekolm {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct RecordingSink : FrameSink {
  std::vector<std::array<std::uint16_t, 4>> values;
  std::vector<Bytes> answers;
  int bad_terminators = 0;
  std::size_t expected_answer = 0;  // 0: no query waits
  std::size_t last_available = 0;
  bool clearing = false;

  Store store_values(const std::uint16_t raw[4]) override {
    if (clearing) return Store::abandon_pass;
    values.push_back({raw[0], raw[1], raw[2], raw[3]});
    return Store::stored;
  }
  void bad_terminator() override { ++bad_terminators; }
  std::size_t offer_answer(const std::uint8_t* bytes, std::size_t available) override {
    const std::size_t expected = expected_answer;
    if (expected == 0) return 0;
    last_available = available;
    if (available >= expected) {
      answers.emplace_back(bytes, bytes + expected);
      expected_answer = 0;
    }
    return expected;
  }
};

// Plays the receive thread: the stream arrives in the given chunks, and each pass reads at most what the
// decoder asked for, like a port that has the chunk's bytes waiting.
void feed(RecordingSink& sink, const Bytes& stream, const std::vector<std::size_t>& chunk_sizes) {
  std::uint8_t buffer[256];
  std::size_t carried = 0, request = 0, offset = 0, chunk = 0;
  std::size_t arrived = 0;  // bytes the "port" has received so far
  while (offset < stream.size()) {
    if (offset == arrived) {
      arrived = std::min(stream.size(), arrived + chunk_sizes[std::min(chunk, chunk_sizes.size() - 1)]);
      ++chunk;
    }
    if (request == 0) request = 1;
    const std::size_t n = std::min(request, arrived - offset);
    std::memcpy(buffer + carried, stream.data() + offset, n);
    offset += n;
    const std::size_t count = carried + n;
    DecodeResult result = decode(buffer, count, sink);
    std::memmove(buffer, buffer + count - result.carried, result.carried);
    carried = result.carried;
    request = result.request_size;
  }
}

Bytes frame(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d) {
  return {0xA5,
          std::uint8_t(a >> 8),
          std::uint8_t(a),
          std::uint8_t(b >> 8),
          std::uint8_t(b),
          std::uint8_t(c >> 8),
          std::uint8_t(c),
          std::uint8_t(d >> 8),
          std::uint8_t(d),
          '\r',
          '\n'};
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(FrameDecoder, TakesBigEndianRawValuesInChannelOrder) {
  RecordingSink sink;
  feed(sink, {0xA5, 0x80, 0x00, 0x7F, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x0D, 0x0A}, {11});
  ASSERT_EQ(sink.values.size(), 1u);
  EXPECT_EQ(sink.values[0], (std::array<std::uint16_t, 4>{32768, 32767, 0, 65535}));
}

TEST(FrameDecoder, EverySplitOfAFrameYieldsExactlyOneValueSet) {
  const Bytes stream = frame(1, 2, 3, 4);
  for (std::size_t first = 1; first < stream.size(); ++first) {
    for (std::size_t second = 1; second + first <= stream.size(); ++second) {
      RecordingSink sink;
      feed(sink, stream, {first, second, stream.size()});
      ASSERT_EQ(sink.values.size(), 1u) << first << "+" << second;
      EXPECT_EQ(sink.values[0][3], 4);
    }
  }
  RecordingSink pieces;
  feed(pieces, stream, {1, 4, 6});
  EXPECT_EQ(pieces.values.size(), 1u);
}

TEST(FrameDecoder, SkipsBytesBetweenFrames) {
  RecordingSink sink;
  feed(sink, concat({{0x00, 0x0D, 0x0A, 0xFF}, frame(5, 6, 7, 8), {0x42}, frame(9, 10, 11, 12)}), {64});
  ASSERT_EQ(sink.values.size(), 2u);
  EXPECT_EQ(sink.values[1][0], 9);
  EXPECT_EQ(sink.bad_terminators, 0);
}

TEST(FrameDecoder, BadTerminatorDropsTheFrameAndKeepsWhatFollows) {
  Bytes bad = frame(1, 1, 1, 1);
  bad[10] = 'X';
  RecordingSink sink;
  feed(sink, concat({bad, frame(2, 2, 2, 2)}), {5, 30});
  EXPECT_EQ(sink.bad_terminators, 1);
  ASSERT_EQ(sink.values.size(), 1u);
  EXPECT_EQ(sink.values[0][0], 2);

  // Fed in one piece, what follows the bad frame is handed back to be decoded on the next pass.
  RecordingSink direct;
  const Bytes both = concat({bad, frame(3, 3, 3, 3)});
  DecodeResult result = decode(both.data(), both.size(), direct);
  EXPECT_EQ(result.carried, 11u);
  EXPECT_EQ(result.request_size, 0u);
  EXPECT_TRUE(direct.values.empty());
}

TEST(FrameDecoder, SemicolonWithoutWaitingQueryIsSkippedAndItsContentScanned) {
  RecordingSink sink;
  // An answer nobody waits for, with a measured-value frame hidden in its payload.
  feed(sink, concat({{';', 0, 0, 0, 11}, frame(7, 7, 7, 7)}), {3, 40});
  EXPECT_TRUE(sink.answers.empty());
  ASSERT_EQ(sink.values.size(), 1u);
}

TEST(FrameDecoder, AnswerInEverySplitCompletesWithExactLength) {
  Bytes answer(11, 0);
  answer[0] = ';';
  answer[8] = 0x42;
  for (std::size_t first = 1; first < answer.size(); ++first) {
    RecordingSink sink;
    sink.expected_answer = 11;
    feed(sink, answer, {first, 11});
    ASSERT_EQ(sink.answers.size(), 1u) << first;
    EXPECT_EQ(sink.answers[0], answer);
    EXPECT_EQ(sink.last_available, 11u);  // reads never run past the answer
  }
}

TEST(FrameDecoder, AnswerInterleavedWithValueFrames) {
  Bytes answer(14, 0);
  answer[0] = ';';
  RecordingSink sink;
  sink.expected_answer = 14;
  feed(sink, concat({frame(1, 1, 1, 1), answer, frame(2, 2, 2, 2)}), {4, 7, 3, 9, 100});
  EXPECT_EQ(sink.answers.size(), 1u);
  EXPECT_EQ(sink.values.size(), 2u);
}

TEST(FrameDecoder, PartialFrameAsksForWhatItLacks) {
  RecordingSink sink;
  const Bytes start = {0x11, 0xA5, 0x80, 0x00};
  DecodeResult result = decode(start.data(), start.size(), sink);
  EXPECT_EQ(result.carried, 3u);
  EXPECT_EQ(result.request_size, 8u);
}

TEST(FrameDecoder, ClearRequestAbandonsTheRestOfThePass) {
  RecordingSink sink;
  sink.clearing = true;
  const Bytes two = concat({frame(1, 1, 1, 1), frame(2, 2, 2, 2)});
  DecodeResult result = decode(two.data(), two.size(), sink);
  EXPECT_EQ(result.carried, 0u);
  EXPECT_TRUE(sink.values.empty());
}

TEST(FrameDecoder, ArbitraryBytesNeverOverrunOrStall) {
  // A cheap fuzz: pseudo-random streams rich in start bytes must decode in bounded passes.
  std::uint32_t seed = 12345;
  for (int round = 0; round < 200; ++round) {
    Bytes stream(300);
    for (auto& b : stream) {
      seed = seed * 1103515245 + 12345;
      const std::uint8_t options[] = {0xA5, ';', '\r', '\n', std::uint8_t(seed >> 16)};
      b = options[(seed >> 8) % 5];
    }
    RecordingSink sink;
    sink.expected_answer = 1 + (round % 20);
    feed(sink, stream, {1 + std::size_t(round % 13)});
    SUCCEED();
  }
}

}  // namespace
}  // namespace pekolm
