// Command lengths and frame layouts against the figures the host library is written to.
#include "wire.h"

#include <gtest/gtest.h>

namespace kolmsim::wire {
namespace {

TEST(RequestLength, MatchesTheHostsCommandTable) {
  const std::pair<std::uint8_t, std::size_t> table[] = {
      {0x09, 2}, {0x0A, 2}, {0x0B, 6}, {0x0C, 2}, {0x0D, 3}, {0x12, 2}, {0x16, 1}, {0x1E, 9}, {0x1F, 1}, {0x20, 4},
      {0x21, 2}, {0x23, 1}, {0x24, 1}, {0x26, 8}, {0x27, 1}, {0x28, 2}, {0x29, 1}, {0x2B, 1}, {0x3B, 1}, {0x89, 3},
      {0xB0, 2}, {0xB1, 1}, {0xB2, 3}, {0xB3, 1}, {0xB4, 3}, {0xB5, 2}, {0xB6, 3}, {0xB7, 2}, {0xB8, 3}, {0xB9, 1},
      {0xBA, 6}, {0xBB, 2}, {0xBC, 6}, {0xBD, 1}, {0xC0, 2}, {0xC1, 1}, {0xC5, 6}, {0xC6, 2},
  };
  std::size_t known = 0;
  for (int b = 0; b < 256; ++b) {
    const Bytes one{static_cast<std::uint8_t>(b)};
    if (request_length(one) != 0) ++known;
  }
  for (auto [command, length] : table) {
    const Bytes one{command};
    EXPECT_EQ(request_length(one), length) << std::hex << int{command};
  }
  EXPECT_EQ(known, std::size(table) + 1);  // and the scale command
}

TEST(RequestLength, ScaleCommandGrowsForTheWideType) {
  EXPECT_EQ(request_length(Bytes{0x88}), 6u);
  EXPECT_EQ(request_length(Bytes{0x88, 0x02}), 6u);
  EXPECT_EQ(request_length(Bytes{0x88, 0x02, 0x01}), 6u);
  EXPECT_EQ(request_length(Bytes{0x88, 0x02, 0x05}), 7u);
}

TEST(RequestLength, BytesTheHostNeverSendsFirstAreNoCommands) {
  for (std::uint8_t b : {0x00, 0x01, 0xA5, 0xFF, 0x25, 0x2A, 0x87, 0xB7 + 0x10})
    EXPECT_EQ(request_length(Bytes{b}), 0u);
  EXPECT_EQ(request_length(Bytes{}), 0u);
}

TEST(AnswerFrame, LaysOutHeaderPayloadAndEnd) {
  const Bytes payload{0x05, 0xBC, 0xF4};
  EXPECT_EQ(answer_frame(0x21, payload), (Bytes{0x3B, 0x21, 0, 0, 3, 0, 0, 0, 0x05, 0xBC, 0xF4, 0x0D, 0x0A}));
  EXPECT_EQ(answer_frame(0x27, Bytes{}).size(), kAnswerOverhead);
}

TEST(ValueFrame, CarriesFourBigEndianValuesBetweenStartAndCrLf) {
  const ValueFrame f = value_frame({32768, 32767, 0, 65535});
  EXPECT_EQ(Bytes(f.begin(), f.end()), (Bytes{0xA5, 0x80, 0x00, 0x7F, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x0D, 0x0A}));
}

}  // namespace
}  // namespace kolmsim::wire
