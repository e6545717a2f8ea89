// The amplifier model: a command in, the exact answer or state change out.
#include "amplifier.h"

#include <gtest/gtest.h>

#include <string>

#include "wire.h"

namespace kolmsim {
namespace {

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The whole answer frame the amplifier sends for a query, or nothing.
std::optional<Bytes> ask(Amplifier& amp, const Bytes& query) {
  const Reaction r = amp.handle(query);
  if (!r.answer_payload) return std::nullopt;
  return wire::answer_frame(query[0], *r.answer_payload);
}

Reaction send(Amplifier& amp, const Bytes& command) { return amp.handle(command); }

std::optional<Bytes> payload_of(Amplifier& amp, const Bytes& query) {
  const Reaction r = amp.handle(query);
  return r.answer_payload;
}

TEST(AmplifierQueries, AnswerFramesHaveTheLengthsTheHostExpects) {
  Amplifier amp{AmplifierState{}};
  const std::pair<Bytes, std::size_t> table[] = {
      {{0x0D, 1, 1}, 15}, {{0x16}, 11},       {{0x1F}, 18},       {{0x21, 1}, 13}, {{0x27}, 11}, {{0x29}, 11},
      {{0x2B}, 11},       {{0x89, 1, 1}, 15}, {{0x89, 4, 5}, 16}, {{0xB1}, 11},    {{0xB3}, 14}, {{0xB5, 1}, 12},
      {{0xB7, 1}, 12},    {{0xB9}, 11},       {{0xBB, 1}, 15},    {{0xBD}, 15},    {{0xC1}, 11}, {{0xC6, 1}, 15},
  };
  for (const auto& [query, length] : table) {
    const auto frame = ask(amp, query);
    ASSERT_TRUE(frame) << std::hex << int{query[0]};
    EXPECT_EQ(frame->size(), length) << std::hex << int{query[0]};
  }
}

TEST(AmplifierQueries, ReportDefaultsInExactFrames) {
  AmplifierState initial;
  initial.firmware_version = 11;
  Amplifier amp{initial};
  EXPECT_EQ(ask(amp, {0x27}), (Bytes{0x3B, 0x27, 0, 0, 1, 0, 0, 0, 0x01, 0x0D, 0x0A}));
  EXPECT_EQ(ask(amp, {0x2B}), (Bytes{0x3B, 0x2B, 0, 0, 1, 0, 0, 0, 11, 0x0D, 0x0A}));
  EXPECT_EQ(payload_of(amp, {0x1F}), text("00012345"));
  EXPECT_EQ(payload_of(amp, {0x16}), Bytes{0xA8});
  EXPECT_EQ(payload_of(amp, {0x29}), Bytes{0x02});
  EXPECT_EQ(payload_of(amp, {0x21, 16}), (Bytes{16, 0x80, 0x00}));
  EXPECT_EQ(payload_of(amp, {0xBB, 4}), (Bytes{4, 0x3F, 0x80, 0x00, 0x00}));
  EXPECT_EQ(payload_of(amp, {0x0D, 2, 7}), (Bytes{2, 7, 0x80, 0x00, 0x00}));
  EXPECT_EQ(payload_of(amp, {0xB1}), Bytes{0x50});
  EXPECT_EQ(payload_of(amp, {0xC1}), Bytes{0x50});
}

TEST(AmplifierQueries, SerialNumberIsAlwaysEightCharacters) {
  AmplifierState initial;
  initial.serial_number = "123";
  Amplifier amp{initial};
  EXPECT_EQ(payload_of(amp, {0x1F}), text("123     "));
}

struct RoundTrip {
  const char* what;
  Bytes set;
  Bytes query;
  Bytes payload;
};

TEST(AmplifierSettings, WhatIsSetIsReadBack) {
  const RoundTrip cases[] = {
      {"threshold", {0x20, 5, 0xBC, 0xF4}, {0x21, 5}, {5, 0xBC, 0xF4}},
      {"scale 24 bit", {0x88, 2, 1, 0x01, 0x86, 0xA0}, {0x89, 2, 1}, {2, 1, 0x01, 0x86, 0xA0}},
      {"scale 32 bit", {0x88, 2, 5, 0x00, 0x01, 0x86, 0xA0}, {0x89, 2, 5}, {2, 5, 0x00, 0x01, 0x86, 0xA0}},
      {"scale all ones", {0x88, 1, 3, 0xFF, 0xFF, 0xFF}, {0x89, 1, 3}, {1, 3, 0xFF, 0xFF, 0xFF}},
      {"offset", {0x0B, 1, 1, 0x34, 0x56, 0x78}, {0x0D, 1, 1}, {1, 1, 0x34, 0x56, 0x78}},
      {"norm", {0xBA, 2, 0x40, 0x49, 0x0F, 0xDB}, {0xBB, 2}, {2, 0x40, 0x49, 0x0F, 0xDB}},
      {"gain", {0xB2, 3, 7}, {0xB3}, {1, 1, 7, 1}},
      {"unit", {0xB4, 1, 29}, {0xB5, 1}, {1, 29}},
      {"unit text", {0xBC, 'a', 'b', 'c', 0, 0}, {0xBD}, {'a', 'b', 'c', 0, 0}},
      {"io type", {0xB6, 12, 24}, {0xB7, 12}, {12, 24}},
      {"io state", {0xB8, 3, 0x01}, {0xB9}, {0x04}},
      {"serial baud", {0xB0, 0x60}, {0xB1}, {0x60}},
      {"CAN baud", {0xC0, 0x80}, {0xC1}, {0x80}},
      {"CAN id", {0xC5, 2, 0x18, 0xFF, 0x01, 0x02}, {0xC6, 2}, {2, 0x18, 0xFF, 0x01, 0x02}},
      {"rate", {0x12, 0xAF}, {0x16}, {0xAF}},
      {"serial number", cat({0x1E}, text("87654321")), {0x1F}, text("87654321")},
      {"mode with the right code", cat({0x26, 0}, text("quiran")), {0x27}, {0}},
      {"tx mode", {0x28, 0x03}, {0x29}, {0x03}},
  };
  for (const RoundTrip& c : cases) {
    Amplifier amp{AmplifierState{}};
    EXPECT_FALSE(send(amp, c.set).answer_payload) << c.what;
    EXPECT_EQ(payload_of(amp, c.query), c.payload) << c.what;
  }
}

TEST(AmplifierSettings, OutOfRangeSettingsAreIgnored) {
  const RoundTrip cases[] = {
      {"threshold register 17", {0x20, 17, 1, 2}, {0x21, 16}, {16, 0x80, 0x00}},
      {"scale channel 5", {0x88, 5, 1, 0, 0, 9}, {0x89, 4, 1}, {4, 1, 0, 0, 0}},
      {"scale type 8", {0x88, 1, 8, 0, 0, 9}, {0x89, 1, 7}, {1, 7, 0, 0, 0}},
      {"offset channel 0", {0x0B, 0, 1, 1, 2, 3}, {0x0D, 1, 1}, {1, 1, 0x80, 0, 0}},
      {"norm channel 5", {0xBA, 5, 1, 2, 3, 4}, {0xBB, 4}, {4, 0x3F, 0x80, 0, 0}},
      {"gain 8", {0xB2, 1, 8}, {0xB3}, {1, 1, 1, 1}},
      {"gain channel 0", {0xB2, 0, 2}, {0xB3}, {1, 1, 1, 1}},
      {"unit 30", {0xB4, 1, 30}, {0xB5, 1}, {1, 1}},
      {"io line 13", {0xB6, 13, 1}, {0xB7, 12}, {12, 0}},
      {"io code 25", {0xB6, 1, 25}, {0xB7, 1}, {1, 0}},
      {"io state line 9", {0xB8, 9, 1}, {0xB9}, {0}},
      {"serial baud 0x70", {0xB0, 0x70}, {0xB1}, {0x50}},
      {"serial baud 0x55", {0xB0, 0x55}, {0xB1}, {0x50}},
      {"CAN baud 0x90", {0xC0, 0x90}, {0xC1}, {0x50}},
      {"CAN slot 9", {0xC5, 9, 1, 2, 3, 4}, {0xC6, 8}, {8, 0, 0, 0, 0}},
      {"rate below table", {0x12, 0x92}, {0x16}, {0xA8}},
      {"rate above table", {0x12, 0xB0}, {0x16}, {0xA8}},
      {"mode with a wrong code", cat({0x26, 2}, text("quirax")), {0x27}, {1}},
      {"mode 3", cat({0x26, 3}, text("quiran")), {0x27}, {1}},
  };
  for (const RoundTrip& c : cases) {
    Amplifier amp{AmplifierState{}};
    send(amp, c.set);
    EXPECT_EQ(payload_of(amp, c.query), c.payload) << c.what;
  }
}

TEST(AmplifierQueries, OutOfRangeQueriesGetNoAnswer) {
  const Bytes queries[] = {{0x21, 0},    {0x21, 17},   {0x89, 0, 1}, {0x89, 1, 0}, {0x89, 1, 8}, {0x89, 5, 1},
                           {0x0D, 1, 0}, {0x0D, 5, 1}, {0xBB, 0},    {0xBB, 5},    {0xB5, 0},    {0xB5, 5},
                           {0xB7, 0},    {0xB7, 13},   {0xC6, 0},    {0xC6, 9}};
  for (const Bytes& q : queries) {
    Amplifier amp{AmplifierState{}};
    EXPECT_FALSE(ask(amp, q)) << std::hex << int{q[0]} << " " << int{q[1]};
  }
}

TEST(AmplifierSettings, IoStateFollowsTheLowBitPerLine) {
  Amplifier amp{AmplifierState{}};
  send(amp, {0xB8, 1, 0x01});
  send(amp, {0xB8, 3, 0x01});
  EXPECT_EQ(amp.state().io_state, 0x05);
  send(amp, {0xB8, 1, 0x02});  // only the low bit counts
  EXPECT_EQ(amp.state().io_state, 0x04);
  send(amp, {0xB8, 8, 0xFF});
  EXPECT_EQ(amp.state().io_state, 0x84);
}

TEST(AmplifierTransmission, StartStopAndTxModeStayInStep) {
  AmplifierState initial;
  initial.tx_mode = 0x03;
  Amplifier amp{initial};
  send(amp, {0x23});
  EXPECT_FALSE(amp.state().transmitting);
  EXPECT_EQ(amp.state().tx_mode, 0x01);  // other bits untouched
  send(amp, {0x24});
  EXPECT_TRUE(amp.state().transmitting);
  EXPECT_EQ(amp.state().tx_mode, 0x03);
  send(amp, {0x28, 0x01});
  EXPECT_FALSE(amp.state().transmitting);
  send(amp, {0x28, 0x02});
  EXPECT_TRUE(amp.state().transmitting);
}

TEST(AmplifierParameterSets, LoadRestoresMeasuringSettingsOnly) {
  Amplifier amp{AmplifierState{}};
  send(amp, {0xB2, 1, 3});
  send(amp, {0x12, 0xA9});
  send(amp, {0x09, 2});
  send(amp, {0xB2, 1, 5});
  send(amp, {0x12, 0xA0});
  send(amp, cat({0x1E}, text("99999999")));
  send(amp, {0xB0, 0x10});

  send(amp, {0x0A, 2});
  EXPECT_EQ(amp.state().gains[0], 3);
  EXPECT_EQ(amp.state().rate_code, 0xA9);
  EXPECT_EQ(amp.state().serial_number, "99999999");
  EXPECT_EQ(amp.state().serial_baud_code, 0x10);

  send(amp, {0x0A, 3});  // never saved: the settings the amplifier started with
  EXPECT_EQ(amp.state().gains[0], 1);
  EXPECT_EQ(amp.state().rate_code, 0xA8);

  send(amp, {0xB2, 1, 6});
  send(amp, {0x09, 4});  // no such set
  send(amp, {0x0A, 0});
  EXPECT_EQ(amp.state().gains[0], 6);
}

TEST(AmplifierReactions, ZeroAndSingleValueAreHandedOut) {
  Amplifier amp{AmplifierState{}};
  EXPECT_EQ(send(amp, {0x0C, 2}).zero_channel, 2);
  EXPECT_EQ(send(amp, {0x0C, 5}).zero_channel, 0);
  EXPECT_EQ(send(amp, {0x0C, 0}).zero_channel, 0);
  EXPECT_TRUE(send(amp, {0x3B}).send_value);
}

TEST(AmplifierReactions, IncompleteCommandsDoNothing) {
  Amplifier amp{AmplifierState{}};
  EXPECT_FALSE(send(amp, {0x21}).answer_payload);
  send(amp, {0x20, 1, 0x12});
  EXPECT_EQ(amp.state().thresholds[0], 0x8000);
}

}  // namespace
}  // namespace kolmsim
