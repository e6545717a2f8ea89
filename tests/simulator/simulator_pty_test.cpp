// The simulator end to end: bytes through a real pty, as the device library will see them.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "kolmsim/simulator.h"
#include "pty_port.h"

namespace kolmsim {
namespace {

using namespace std::chrono_literals;
using testing::answer_to;
using testing::parse_stream;
using testing::SlavePort;

std::uint16_t raw_of(const Bytes& value_frame, int channel) {
  return static_cast<std::uint16_t>(value_frame[2 * channel - 1] << 8 | value_frame[2 * channel]);
}

class SimulatorOverPty : public ::testing::Test {
 protected:
  // Quiet by default, so that answers are not buried in measured values.
  Simulator sim{Options{.transmitting = false, .tx_mode = 0}};
  std::unique_ptr<SlavePort> port = std::make_unique<SlavePort>(sim.slave_path());

  std::optional<Bytes> query(const Bytes& command, std::chrono::milliseconds timeout = 1000ms) {
    port->write(command);
    return answer_to(command[0],
                     port->read_until([&](const Bytes& b) { return answer_to(command[0], b).has_value(); }, timeout));
  }
  std::vector<Bytes> values_for(std::chrono::milliseconds span) { return parse_stream(port->read_for(span)).values; }
};

TEST_F(SimulatorOverPty, AnswersAQueryWithTheWholeFrame) {
  EXPECT_EQ(query({0x1F}), (Bytes{0x3B, 0x1F, 0, 0, 8, 0, 0, 0, '0', '0', '0', '1', '2', '3', '4', '5', 0x0D, 0x0A}));
}

TEST_F(SimulatorOverPty, RecordsGarbageAsBytesButNotAsCommands) {
  const auto before = Clock::now();
  port->write({0x00, 0xFF});
  ASSERT_TRUE(query({0x27}));
  EXPECT_EQ(sim.received_bytes(), (Bytes{0x00, 0xFF, 0x27}));
  const auto commands = sim.commands();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].bytes, Bytes{0x27});
  EXPECT_GE(commands[0].at, before);
  EXPECT_LE(commands[0].at, Clock::now());

  sim.clear_commands();
  EXPECT_TRUE(sim.commands().empty());
  EXPECT_TRUE(sim.received_bytes().empty());
}

TEST_F(SimulatorOverPty, WaitsForCommandsFromAnotherThread) {
  EXPECT_FALSE(sim.wait_for_commands(1, 20ms));
  port->write({0x20, 1, 0x12, 0x34, 0x23});
  EXPECT_TRUE(sim.wait_for_commands(2, 1000ms));
  EXPECT_EQ(sim.state().thresholds[0], 0x1234);
}

TEST_F(SimulatorOverPty, StateChangedByTheTestIsWhatTheHostReads) {
  sim.update_state([](AmplifierState& s) { s.serial_number = "ABCDEFGH"; });
  const auto answer = query({0x1F});
  ASSERT_TRUE(answer);
  EXPECT_EQ(Bytes(answer->begin() + 8, answer->begin() + 16), Bytes({'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}));
}

TEST_F(SimulatorOverPty, StreamsFixedValuesAtTheRateAndStopsOnCommand) {
  for (int ch = 1; ch <= 4; ++ch) sim.set_channel_raw(ch, static_cast<std::uint16_t>(1000 * ch));
  port->write({0x12, 0xA9, 0x24});  // 125 Hz, start
  const auto values = values_for(400ms);
  EXPECT_GE(values.size(), 35u);
  EXPECT_LE(values.size(), 60u);
  for (const Bytes& v : values) {
    ASSERT_EQ(v[9], 0x0D);
    ASSERT_EQ(v[10], 0x0A);
    for (int ch = 1; ch <= 4; ++ch) ASSERT_EQ(raw_of(v, ch), 1000 * ch);
  }
  EXPECT_GE(sim.frames_sent(), values.size());

  port->write({0x23});
  ASSERT_TRUE(sim.wait_for_commands(3, 1000ms));
  values_for(50ms);  // what was already on its way
  EXPECT_TRUE(values_for(150ms).empty());
  EXPECT_FALSE(sim.state().transmitting);
}

TEST_F(SimulatorOverPty, KeepsUpWithTheHighestRate) {
  port->write({0x12, 0xAF, 0x24});  // 7500 Hz
  const auto values = values_for(300ms);
  EXPECT_GE(values.size(), 1500u);  // 2250 nominal; leave room for a loaded machine
  EXPECT_LE(values.size(), 2400u);
}

TEST_F(SimulatorOverPty, SendsOneValueOnRequestAndZeroesAChannel) {
  sim.set_channel_raw(1, 40000);
  sim.set_channel_raw(2, 40000);
  port->write({0x0C, 0x02, 0x3B});
  Bytes got = port->read_until([](const Bytes& b) { return b.size() >= 11; }, 1000ms);
  const Bytes extra = port->read_for(100ms);
  got.insert(got.end(), extra.begin(), extra.end());
  const auto values = parse_stream(got).values;
  ASSERT_EQ(values.size(), 1u);
  const Bytes& v = values[0];
  EXPECT_EQ(raw_of(v, 1), 40000);
  EXPECT_EQ(raw_of(v, 2), 32768);

  sim.set_channel_load(2, 500);
  port->write({0x3B});
  const auto loaded = values_for(100ms);
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(raw_of(loaded[0], 2), 33268);
}

TEST_F(SimulatorOverPty, ADelayedAnswerDoesNotHoldUpTheNextCommand) {
  sim.set_fault(0x27, AnswerFault{.delay = 300ms});
  const auto start = Clock::now();
  port->write({0x27, 0x2B});
  const Bytes got = port->read_until([](const Bytes& b) { return parse_stream(b).answers.size() == 2; }, 2000ms);
  const auto answers = parse_stream(got).answers;
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0][1], 0x2B);
  EXPECT_EQ(answers[1][1], 0x27);
  EXPECT_GE(Clock::now() - start, 290ms);
}

TEST_F(SimulatorOverPty, SilentOnceThenAnswersAgain) {
  sim.set_fault(0x27, AnswerFault{.silent = true, .once = true});
  EXPECT_FALSE(query({0x27}, 200ms));
  EXPECT_TRUE(query({0x27}));
  sim.set_fault(0x27, AnswerFault{.length_delta = 2});
  EXPECT_EQ(query({0x27})->size(), 13u);
  sim.clear_faults();
  EXPECT_EQ(query({0x27})->size(), 11u);
}

TEST_F(SimulatorOverPty, BreaksTerminatorsAndPutsGarbageBetweenFrames) {
  sim.break_terminators(2);
  sim.garbage_between_frames({0x55, 0x66}, 1);
  port->write({0x3B, 0x3B, 0x3B});
  const auto stream = parse_stream(port->read_until([](const Bytes& b) { return b.size() >= 39; }, 1000ms));
  ASSERT_EQ(stream.values.size(), 3u);
  EXPECT_NE(stream.values[0][9], 0x0D);
  EXPECT_NE(stream.values[1][9], 0x0D);
  EXPECT_EQ(stream.values[2][9], 0x0D);
  EXPECT_EQ(stream.values[2][10], 0x0A);
  EXPECT_EQ(stream.garbage, (Bytes{0x55, 0x66, 0x55, 0x66, 0x55, 0x66}));
}

TEST_F(SimulatorOverPty, SplitFramesArriveInPiecesWithPauses) {
  sim.split_frames({1}, 15ms);
  const auto start = Clock::now();
  port->write({0x27});
  const Bytes first = port->read_until([](const Bytes& b) { return !b.empty(); }, 1000ms);
  EXPECT_EQ(first.size(), 1u);
  const auto answer = port->read_until([&](const Bytes& b) { return first.size() + b.size() >= 11; }, 1000ms);
  EXPECT_GE(Clock::now() - start, 140ms);  // ten pauses
  Bytes whole = first;
  whole.insert(whole.end(), answer.begin(), answer.end());
  EXPECT_EQ(whole, (Bytes{0x3B, 0x27, 0, 0, 1, 0, 0, 0, 1, 0x0D, 0x0A}));
}

TEST_F(SimulatorOverPty, InjectedBytesGoOutAtOnce) {
  sim.inject({0x11, 0x22, 0x3B});
  EXPECT_EQ(port->read_until([](const Bytes& b) { return b.size() >= 3; }, 1000ms), (Bytes{0x11, 0x22, 0x3B}));
}

TEST_F(SimulatorOverPty, SurvivesTheHostClosingAndReopeningItsPort) {
  for (int i = 0; i < 5; ++i) {
    port.reset();
    port = std::make_unique<SlavePort>(sim.slave_path());
    ASSERT_TRUE(query({0x2B})) << "round " << i;
  }
}

class TempDir {
 public:
  TempDir() {
    char templ[] = "/tmp/kolmsim-test.XXXXXX";
    path_ = mkdtemp(templ);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

bool is_link(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

TEST_F(SimulatorOverPty, HangUpDropsTheLineAndTheLink) {
  TempDir dir;
  sim.link_port(dir.path(), 7);
  ASSERT_TRUE(is_link(dir.path() + "/com7"));
  EXPECT_EQ(std::filesystem::read_symlink(dir.path() + "/com7"), sim.slave_path());

  sim.hang_up();
  pollfd p{port->fd(), POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 1000), 1);
  EXPECT_TRUE(p.revents & POLLHUP);
  std::uint8_t byte;
  EXPECT_LE(::read(port->fd(), &byte, 1), 0);
  EXPECT_FALSE(is_link(dir.path() + "/com7"));
  EXPECT_EQ(sim.state().mode, 1);  // still a valid object
  sim.hang_up();
}

TEST(SimulatorLinks, DestructorRemovesItsOwnLinkOnly) {
  TempDir dir;
  const std::string mine = dir.path() + "/com1";
  const std::string taken_over = dir.path() + "/com2";
  {
    Simulator sim;
    sim.link_port(dir.path(), 1);
    sim.link_port(dir.path(), 2);
    sim.link_port(dir.path(), 1);  // replacing our own link is fine
    std::filesystem::remove(taken_over);
    std::filesystem::create_symlink("/dev/null", taken_over);
  }
  EXPECT_FALSE(is_link(mine));
  EXPECT_TRUE(is_link(taken_over));
}

TEST(SimulatorStartup, TransmitsFromTheStartByDefault) {
  Simulator sim;
  SlavePort port(sim.slave_path());
  const auto values = parse_stream(port.read_for(200ms)).values;
  EXPECT_GE(values.size(), 3u);  // 25 Hz
  for (const Bytes& v : values) EXPECT_NEAR(raw_of(v, 1), 32768, 400);
}

}  // namespace
}  // namespace kolmsim
