// Noise recordings into "Daten.txt": a timed recording and its four lines, also when its end passed during
// the dialog, recordings that end without writing, and a file that cannot be created or written.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "console_session.h"

namespace console_testing {
namespace {

constexpr int port = 15;

class Recording : public ConsoleTest {
 protected:
  Recording() : ConsoleTest(port) {}
  // Past a file size limit a write fails only where this signal is ignored; the consoles inherit it.
  static void SetUpTestSuite() { ::signal(SIGXFSZ, SIG_IGN); }
  void SetUp() override {
    for (int channel = 1; channel <= 4; ++channel) sim.set_channel_raw(channel, 32768);
  }
  std::string data_file() const { return console.work_dir() + "/Daten.txt"; }
};

TEST_F(Recording, ATimedRecordingWritesThePeakToPeakNoiseOfEachChannel) {
  set_norm(sim, 4, 2.0f);
  ASSERT_NO_FATAL_FAILURE(start());
  // Channels 1 and 2 stay constant; 3 and 4 step from above to below their zero during the recording.
  sim.set_channel_raw(3, 32768 + 1000);
  sim.set_channel_raw(4, 32768 + 500);

  console.send("a");
  ASSERT_TRUE(console.answer("a\nMesswerte aufzeichnen? (j / n): ", "j\n")) << console.tail();
  ASSERT_TRUE(console.expect("\nAufzeichnungzeit? (0: dauernd): ")) << console.tail();
  console.send("2\n");
  const Clock::time_point answered = Clock::now();
  ASSERT_TRUE(console.expect(" Beliebige Taste...\n\n")) << console.tail();
  EXPECT_TRUE(std::filesystem::exists(data_file()));
  EXPECT_EQ(read_file(data_file()), "");
  std::this_thread::sleep_for(300ms);
  sim.set_channel_raw(3, 32768 - 1000);
  sim.set_channel_raw(4, 32768 - 500);
  console.send(" ");

  ASSERT_TRUE(testing_support::eventually([&] { return read_file(data_file()).size() > 60; }, 5s));
  const auto written = Clock::now();
  // The spread is 2000 and 1000 counts: 2 / (2000 * 1.05 / 32767.5) and twice that, whatever the norm.
  EXPECT_EQ(read_file(data_file()), "K1: PPnoise=inf\nK2: PPnoise=inf\nK3: PPnoise=31.20714\nK4: PPnoise=62.41429\n");
  EXPECT_GE(written - answered, 1900ms) << "the recording covers two whole seconds";
  // The display goes on.
  const std::string before = console.output();
  ASSERT_TRUE(testing_support::eventually([&] { return console.output().size() > before.size() + 200; }));
}

TEST_F(Recording, SamplesThatArriveWhileTheDialogWaitsPastTheEndTimeAllCount) {
  ASSERT_NO_FATAL_FAILURE(start());
  for (int channel = 1; channel <= 4; ++channel) sim.set_channel_raw(channel, 32768 + 1000);
  console.send("a");
  ASSERT_TRUE(console.answer("a\nMesswerte aufzeichnen? (j / n): ", "j\n")) << console.tail();
  ASSERT_TRUE(console.answer("\nAufzeichnungzeit? (0: dauernd): ", "1\n")) << console.tail();
  ASSERT_TRUE(console.expect(" Beliebige Taste...\n\n")) << console.tail();
  std::this_thread::sleep_for(300ms);
  for (int channel = 1; channel <= 4; ++channel) sim.set_channel_raw(channel, 32768 - 1000);
  // The recording began at most a moment before the pause; its second is over before the key comes.
  std::this_thread::sleep_for(1500ms);
  console.send(" ");

  ASSERT_TRUE(testing_support::eventually([&] { return read_file(data_file()).size() > 60; }, 5s));
  EXPECT_EQ(read_file(data_file()),
            "K1: PPnoise=31.20714\nK2: PPnoise=31.20714\nK3: PPnoise=31.20714\nK4: PPnoise=31.20714\n");
}

TEST_F(Recording, ARecordingStoppedByHandOrByQuitLeavesTheFileEmpty) {
  ASSERT_NO_FATAL_FAILURE(start());
  console.send("a");
  ASSERT_TRUE(console.answer("a\nMesswerte aufzeichnen? (j / n): ", "n\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with(""));
  EXPECT_FALSE(std::filesystem::exists(data_file())) << "no recording, no file";

  console.send("A");
  ASSERT_TRUE(console.answer("A\nMesswerte aufzeichnen? (j / n): ", "j\n")) << console.tail();
  ASSERT_TRUE(console.answer("\nAufzeichnungzeit? (0: dauernd): ", "0\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with(""));
  std::this_thread::sleep_for(1200ms);
  console.send("a");
  ASSERT_TRUE(console.answer("a\nAufzeichnung beenden? (j / n): ", "J\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with(""));
  console.send("A");
  ASSERT_TRUE(console.answer("A\nAufzeichnung beenden? (j / n): ", "j\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with(""));
  EXPECT_EQ(read_file(data_file()), "");

  // A timed recording cut short by q.
  console.send("a");
  ASSERT_TRUE(console.answer("a\nMesswerte aufzeichnen? (j / n): ", "j\n")) << console.tail();
  ASSERT_TRUE(console.answer("\nAufzeichnungzeit? (0: dauernd): ", "60\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with(""));
  console.send("q");
  ASSERT_NO_FATAL_FAILURE(ends_with("q"));
  const std::optional<Ending> ending = console.wait_exit();
  ASSERT_TRUE(ending);
  EXPECT_TRUE(ending->exited);
  EXPECT_EQ(ending->status, 0);
  EXPECT_EQ(read_file(data_file()), "");
}

TEST_F(Recording, AFileThatCannotBeCreatedStartsNoRecording) {
  // A link is not followed: the recording would overwrite what it leads to.
  const std::string kept = console.work_dir() + "/kept.txt";
  std::ofstream(kept) << "kept";
  ASSERT_TRUE(std::filesystem::create_directory(data_file()));
  ASSERT_NO_FATAL_FAILURE(start());
  for (const std::string reason : {"Is a directory", "Is a symbolic link"}) {
    if (reason == "Is a symbolic link") {
      std::filesystem::remove(data_file());
      std::filesystem::create_symlink(kept, data_file());
    }
    console.send("a");
    ASSERT_TRUE(console.answer("a\nMesswerte aufzeichnen? (j / n): ", "j\n")) << console.tail();
    ASSERT_NO_FATAL_FAILURE(
        ends_with("\nDaten.txt kann nicht angelegt werden (" + reason + "), keine Aufzeichnung.\n"));
  }
  EXPECT_EQ(read_file(kept), "kept");
  EXPECT_EQ(console.output().find("Aufzeichnungzeit"), std::string::npos);
  // Still not recording: a asks to start one again.
  console.send("a");
  ASSERT_TRUE(console.answer("a\nMesswerte aufzeichnen? (j / n): ", "n\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with(""));
}

TEST_F(Recording, LinesThatCannotBeWrittenAreTold) {
  // What a full disk does to the write, without a disk to fill: the console may create files, but not
  // write a byte into them.
  const struct rlimit no_bytes { 0, RLIM_INFINITY };
  ASSERT_EQ(::prlimit(console.pid(), RLIMIT_FSIZE, &no_bytes, nullptr), 0) << std::strerror(errno);
  ASSERT_NO_FATAL_FAILURE(start());
  console.send("a");
  ASSERT_TRUE(console.answer("a\nMesswerte aufzeichnen? (j / n): ", "j\n")) << console.tail();
  ASSERT_TRUE(console.answer("\nAufzeichnungzeit? (0: dauernd): ", "1\n")) << console.tail();
  ASSERT_NO_FATAL_FAILURE(ends_with(""));
  ASSERT_TRUE(console.expect("\nDaten.txt kann nicht geschrieben werden (File too large).\n")) << console.tail();
  ASSERT_TRUE(console.expect("W1: ")) << "the display goes on" << console.tail();
}

}  // namespace
}  // namespace console_testing
