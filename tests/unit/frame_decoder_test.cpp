// The frame decoder and the receive buffer, driven the way the receive thread drives them. The property
// at the end holds the rest to account: whatever sizes the reads have, the decoder finds exactly what reads
// sized to the frame being assembled find.
#include <gtest/gtest.h>

#include <random>

#include "decoder_feed.h"

namespace pekolm {
namespace {

using testing_support::Bytes;
using testing_support::Found;
using testing_support::RecordingSink;
using testing_support::value_frame;

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes answer_frame(std::size_t length, std::uint8_t fill) {
  Bytes answer(length, fill);
  answer[0] = ';';
  return answer;
}

TEST(FrameDecoder, TakesBigEndianRawValuesInChannelOrder) {
  RecordingSink sink;
  feed(sink, {0xA5, 0x80, 0x00, 0x7F, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x0D, 0x0A}, {11});
  ASSERT_EQ(sink.found.size(), 1u);
  EXPECT_EQ(sink.found[0].bytes, (Bytes{0x80, 0x00, 0x7F, 0xFF, 0x00, 0x00, 0xFF, 0xFF}));
}

TEST(FrameDecoder, FrameInPiecesYieldsOneValueSet) {
  RecordingSink sink;
  EXPECT_EQ(feed(sink, value_frame(1, 2, 3, 4), {1, 4, 6}), 0u);
  EXPECT_EQ(sink.values_found(), 1);
}

TEST(FrameDecoder, SkipsBytesBetweenFrames) {
  RecordingSink sink;
  feed(sink, concat({{0x00, 0x0D, 0x0A, 0xFF}, value_frame(5, 6, 7, 8), {0x42}, value_frame(9, 10, 11, 12)}), {64});
  ASSERT_EQ(sink.found.size(), 2u);
  EXPECT_EQ(sink.found[1].bytes[1], 9);
}

TEST(FrameDecoder, BadTerminatorDropsTheFrameAndDecodesWhatFollowsAtOnce) {
  Bytes bad = value_frame(1, 1, 1, 1);
  bad[10] = 'X';
  RecordingSink sink;
  feed(sink, concat({bad, value_frame(2, 2, 2, 2)}), {22});
  ASSERT_EQ(sink.found.size(), 2u);
  EXPECT_EQ(sink.found[0].kind, Found::bad_terminator);
  EXPECT_EQ(sink.found[1].bytes[1], 2);
}

TEST(FrameDecoder, SemicolonWithoutWaitingQueryIsSkippedAndItsContentScanned) {
  RecordingSink sink;
  // An answer nobody waits for, with a measured-value frame hidden in its payload.
  feed(sink, concat({{';', 0, 0, 0, 11}, value_frame(7, 7, 7, 7)}), {3, 40});
  ASSERT_EQ(sink.found.size(), 1u);
  EXPECT_EQ(sink.found[0].kind, Found::values);
}

TEST(FrameDecoder, AnswerTakesItsLengthAndLeavesWhatFollowsToTheDecoder) {
  const Bytes answer = answer_frame(11, 0x42);
  for (const std::vector<std::size_t>& pieces : {std::vector<std::size_t>{1, 10}, {5, 6}, {11 + 11}}) {
    RecordingSink sink;
    sink.await(11, 1);
    feed(sink, concat({answer, value_frame(3, 3, 3, 3)}), pieces);
    ASSERT_EQ(sink.found.size(), 2u) << pieces[0];
    EXPECT_EQ(sink.found[0].bytes, answer);
    EXPECT_EQ(sink.found[0].answer_length, 11u);  // never the bytes after it
    EXPECT_EQ(sink.found[1].kind, Found::values);
  }
}

TEST(FrameDecoder, UnfinishedFrameIsCarriedAndAsksForWhatItLacks) {
  RecordingSink sink;
  Reassembly reassembly;
  const Bytes start = {0x11, 0xA5, 0x80, 0x00};
  std::memcpy(reassembly.free_space(), start.data(), start.size());
  reassembly.decode_received(start.size(), sink);
  EXPECT_EQ(reassembly.carried(), 3u);
  EXPECT_EQ(reassembly.frame_sized_read(), 8u);
  EXPECT_EQ(reassembly.free_size(), Reassembly::capacity - 3);
}

TEST(FrameDecoder, ClearRequestAbandonsTheRestOfThePass) {
  RecordingSink sink;
  sink.clearing = true;
  EXPECT_EQ(feed(sink, concat({value_frame(1, 1, 1, 1), value_frame(2, 2, 2, 2)}), {22}), 0u);
  EXPECT_TRUE(sink.found.empty());
}

TEST(AnswerSlot, DropsTheUnfinishedAnswerOfAnAbandonedQuery) {
  AnswerSlot slot;
  bool taken = false;
  const Bytes stale = answer_frame(11, 1);
  slot.expect(11);
  EXPECT_EQ(slot.offer(stale.data(), 4, taken), 11u);  // kept, waiting for the rest
  slot.expect(11);                                     // that query gave up; the next one waits
  EXPECT_EQ(slot.offer(stale.data(), 4 + 11, taken), 4u);
  EXPECT_FALSE(taken);
  const Bytes fresh = answer_frame(11, 2);
  EXPECT_EQ(slot.offer(fresh.data(), 11, taken), 11u);
  EXPECT_TRUE(taken);
  EXPECT_EQ(slot.answer()[1], 2);

  // A stale part as long as the next answer is no answer to it: taken, with a length that gives it away.
  const Bytes long_stale = answer_frame(18, 3);
  slot.expect(18);
  EXPECT_EQ(slot.offer(long_stale.data(), 12, taken), 18u);
  slot.expect(11);
  EXPECT_EQ(slot.offer(long_stale.data(), 12 + 11, taken), 11u);
  EXPECT_TRUE(taken);
  EXPECT_NE(slot.received_length(), 11u);
}

// A stream of the things a port delivers: frames good and bad, answers of the awaited length and of
// others, stray start bytes and noise.
Bytes random_stream(std::mt19937& random, std::size_t answer_length) {
  Bytes stream;
  auto byte = [&] { return static_cast<std::uint8_t>(random()); };
  for (int part = 0, parts = 4 + static_cast<int>(random() % 16); part < parts; ++part) {
    switch (random() % 7) {
      case 0:
      case 1:
        stream = concat({stream, value_frame(byte(), byte(), 0xA5, ';')});
        break;
      case 2: {
        Bytes bad = value_frame(byte(), byte(), byte(), byte());
        bad[9 + random() % 2] ^= static_cast<std::uint8_t>(1 + random() % 255);
        stream = concat({stream, bad});
        break;
      }
      case 3:
        stream = concat({stream, answer_frame(answer_length + random() % 3 - 1, byte())});
        break;
      case 4:
        stream.push_back(';');
        break;
      case 5:
        stream.push_back(0xA5);
        break;
      default:
        for (int n = 1 + random() % 5; n > 0; --n) stream.push_back(byte());
    }
  }
  return stream;
}

TEST(FrameDecoder, AnyReadSizesFindWhatFrameSizedReadsFind) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 300; ++round) {
    const std::size_t answer_length = std::array<std::size_t, 5>{2, 5, 11, 14, 40}[round % 5];
    const int queries = round % 3;  // none, one, or two in a row await an answer
    const Bytes stream = random_stream(random, answer_length);
    RecordingSink reference;
    reference.await(answer_length, queries);
    const std::size_t reference_carried = feed(reference, stream, {stream.size()}, true);

    auto check = [&](const std::vector<std::size_t>& pieces, const char* how) {
      RecordingSink sink;
      sink.await(answer_length, queries);
      const std::size_t carried = feed(sink, stream, pieces);
      ASSERT_EQ(sink.found, reference.found) << how << " round " << round << " first piece " << pieces[0];
      ASSERT_EQ(carried, reference_carried) << how << " round " << round;
    };
    for (std::size_t split = 1; split < stream.size(); ++split) check({split, stream.size()}, "split");
    for (int chunking = 0; chunking < 20; ++chunking) {
      std::vector<std::size_t> pieces;
      for (std::size_t total = 0; total < stream.size(); total += pieces.back()) pieces.push_back(1 + random() % 40);
      check(pieces, "chunks");
    }
  }
}

}  // namespace
}  // namespace pekolm
