// Framing of the host's command stream, however the bytes are cut.
#include "command_reader.h"

#include <gtest/gtest.h>

namespace kolmsim {
namespace {

// Two queries, a wide scale command, garbage in between, and a threshold write.
const Bytes kStream = {0x00, 0x27, 0xFF, 0xA5, 0x88, 0x01, 0x05, 0x00, 0x01, 0x86, 0xA0, 0x21,
                       0x03, 0x55, 0x20, 0x01, 0x80, 0x00, 0x88, 0x02, 0x01, 0x01, 0x02, 0x03};
const std::vector<Bytes> kCommands = {
    {0x27},
    {0x88, 0x01, 0x05, 0x00, 0x01, 0x86, 0xA0},
    {0x21, 0x03},
    {0x20, 0x01, 0x80, 0x00},
    {0x88, 0x02, 0x01, 0x01, 0x02, 0x03},
};

TEST(CommandReader, SkipsGarbageAndFramesByLength) {
  CommandReader reader;
  EXPECT_EQ(reader.feed(kStream), kCommands);
  EXPECT_EQ(reader.pending(), 0u);
}

TEST(CommandReader, EverySplitInTwoGivesTheSameCommands) {
  for (std::size_t cut = 0; cut <= kStream.size(); ++cut) {
    CommandReader reader;
    auto got = reader.feed(std::span(kStream).first(cut));
    auto rest = reader.feed(std::span(kStream).subspan(cut));
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, kCommands) << "cut at " << cut;
  }
}

TEST(CommandReader, AStartedCommandTakesTheNextBytesWhateverTheyAre) {
  CommandReader reader;
  EXPECT_TRUE(reader.feed(Bytes{0x0C}).empty());
  EXPECT_EQ(reader.pending(), 1u);
  EXPECT_EQ(reader.feed(Bytes{0x27}), (std::vector<Bytes>{{0x0C, 0x27}}));
}

}  // namespace
}  // namespace kolmsim
