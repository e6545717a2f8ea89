// What the simulator cannot show, on the in-memory fake port: the all-thresholds, all-channels and
// all-lines loops stopping at the first failed write (after its pause), reads that end when their write
// fails, and a scale answer whose length byte disagrees with the type asked for.
#include <gtest/gtest.h>

#include <chrono>

#include "fake_serial_port.h"
#include "pekolm.h"
#include "simulated_amplifier.h"

namespace {

using namespace testing_support;

constexpr int port = 50;

class SettingLoops : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    line = std::make_shared<FakeLine>();  // answers firmware version 12
    installer = new FakePortInstaller(line);
    ASSERT_EQ(KolmactExt(port, 115200, 16), 0);
  }
  static void TearDownTestSuite() {
    Kolmrelease(port);
    delete installer;
    line.reset();
  }
  void SetUp() override {
    std::lock_guard lock(line->mutex);
    line->failing_write = 0;
    line->write_short = false;
    line->responder = default_response;
    first_write = line->writes.size();
    KolmgetLastError(port);
  }
  // Makes the n-th write from now on (1-based) fail, or come up one byte short.
  static void fail_write(int n, bool short_write = false) {
    std::lock_guard lock(line->mutex);
    line->failing_write = static_cast<int>(line->writes.size()) + n;
    line->write_errno = 5;
    line->write_short = short_write;
  }
  // The writes of this test, in hex.
  std::vector<std::string> written() {
    std::vector<std::string> text;
    const std::vector<FakeBytes> all = line->written();
    for (std::size_t i = first_write; i < all.size(); ++i) text.push_back(hex(all[i]));
    return text;
  }

  static inline std::shared_ptr<FakeLine> line;
  static inline FakePortInstaller* installer = nullptr;
  std::size_t first_write = 0;
};

TEST_F(SettingLoops, AllThresholdsStopAtTheFailedRegister) {
  fail_write(3);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KolmwriteThreshold(port, 0, 0.0, 0.0), -1);
  EXPECT_GE(elapsed_ms(start), 300);  // the failed write is paused after, too
  EXPECT_EQ(KolmgetLastError(port), 0x20000005);
  EXPECT_EQ(written(), (Strings{"20 01 80 00", "20 02 80 00", "20 03 80 00"}));
}

TEST_F(SettingLoops, OneThresholdStopsWhenItsOnLevelFails) {
  fail_write(1, true);
  EXPECT_EQ(KolmwriteThreshold(port, 2, 0.0, 0.0), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x300000F5);
  EXPECT_EQ(written(), (Strings{"20 03 80 00"}));
}

TEST_F(SettingLoops, AllChannelTypesStopAtTheSecond) {
  fail_write(2);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KolmsetAnalogueType(port, 0, 3), -1);
  EXPECT_GE(elapsed_ms(start), 160);
  EXPECT_EQ(KolmgetLastError(port), 0x20000005);
  EXPECT_EQ(written(), (Strings{"B2 01 03", "B2 02 03"}));
}

TEST_F(SettingLoops, AllLinesStopAtTheFailure) {
  fail_write(5, true);
  EXPECT_EQ(KolmsetDigitalIOtype(port, 0, 4), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x300000F5);
  EXPECT_EQ(written().size(), 5u);
  EXPECT_EQ(written().back(), "B6 05 0B");
  fail_write(1);
  EXPECT_EQ(KolmsetDigitalIOvalue(port, 0, 1), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x20000005);
  EXPECT_EQ(written().size(), 6u);
}

TEST_F(SettingLoops, ScaleWidthFollowsTheAnswersLengthByte) {
  // Answers in the length asked for, but with a length byte that claims the other width.
  line->responder = [](const FakeBytes& command) -> FakeBytes {
    if (command.size() != 3 || command[0] != 0x89) return default_response(command);
    if (command[2] == 5) {
      FakeBytes frame = answer_frame({command[1], 5, 0x12, 0x34, 0x56, 0x78});
      frame[4] = 5;
      return frame;
    }
    FakeBytes frame = answer_frame({command[1], command[2], 0x12, 0x34, 0x56});
    frame[4] = 6;
    return frame;
  };
  EXPECT_EQ(PeKolmgetScale(port, 1, 5), 0x123456);
  EXPECT_EQ(PeKolmgetScale(port, 1, 2), 0x1234560D);  // the fourth byte is the frame's CR
}

}  // namespace
