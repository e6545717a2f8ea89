// kolmrec run as a program against simulated amplifiers: what lands in the file, on standard error and in
// the exit status.
#include <gtest/gtest.h>
#include <signal.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include "pekolm.h"
#include "program_run.h"
#include "scratch_folder.h"
#include "simulated_amplifier.h"

namespace {

using namespace std::chrono_literals;
using testing_support::eventually;
using testing_support::file_text;
using testing_support::port_dir;
using testing_support::ProgramRun;
using testing_support::ScratchFolder;
using testing_support::SimulatedAmplifier;

constexpr const char* kolmrec = KOLMREC_PATH;

double normalised(std::uint16_t raw) { return (raw - 32768.0) * 1.05 / 32767.5; }

struct Row {
  int port = 0;
  std::uint64_t index = 0;
  double time = 0;
  double values[4] = {};
  double host = -1;  // host_s, where the file has it
  std::size_t notes_before = 0;
};

// The file's header lines (without "# ") and its rows, checking that every row is whole.
struct Recording {
  std::vector<std::string> header;
  std::vector<Row> rows;
  std::vector<std::string> notes;  // the comment lines among the rows
  bool has(const std::string& line) const { return std::find(header.begin(), header.end(), line) != header.end(); }
  std::vector<Row> of(int port) const {
    std::vector<Row> selected;
    for (const Row& row : rows) {
      if (row.port == port) selected.push_back(row);
    }
    return selected;
  }
};

Recording parse(const std::string& text) {
  Recording recording;
  EXPECT_TRUE(text.empty() || text.back() == '\n') << "the file ends in a row cut short";
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line) && line.rfind("# ", 0) == 0) recording.header.push_back(line.substr(2));
  const bool host_time = line == "port,index,time_s,ch1,ch2,ch3,ch4,host_s";
  if (!host_time) {
    EXPECT_EQ(line, "port,index,time_s,ch1,ch2,ch3,ch4");
  }
  while (std::getline(lines, line)) {
    if (line.rfind("# ", 0) == 0) {
      recording.notes.push_back(line.substr(2));
      continue;
    }
    Row row;
    row.notes_before = recording.notes.size();
    char rest = 0;
    const int fields = std::sscanf(line.c_str(), "%d,%lu,%lf,%lf,%lf,%lf,%lf,%lf%c", &row.port, &row.index, &row.time,
                                   &row.values[0], &row.values[1], &row.values[2], &row.values[3], &row.host, &rest);
    EXPECT_EQ(fields, host_time ? 8 : 7) << line;
    recording.rows.push_back(row);
  }
  return recording;
}

// Whole rows of samples written so far.
std::size_t rows_in(const std::string& path) {
  std::istringstream lines(file_text(path));
  std::size_t rows = 0;
  for (std::string line; std::getline(lines, line) && !lines.eof();) {
    if (line.rfind('#', 0) != 0 && line.rfind("port,", 0) != 0) ++rows;
  }
  return rows;
}

class Recorder : public ::testing::Test {
 protected:
  // Two amplifiers: port 1 transmits 25 values a second from the start, port 2 waits to be started.
  static void SetUpTestSuite() {
    first_ = std::make_unique<SimulatedAmplifier>(1);
    second_ = std::make_unique<SimulatedAmplifier>(2, kolmsim::Options{.transmitting = false, .tx_mode = 0});
  }
  static void TearDownTestSuite() {
    first_.reset();
    second_.reset();
  }
  void SetUp() override {
    for (auto* amplifier : {first_.get(), second_.get()}) amplifier->sim().clear_signals();
  }

  static std::unique_ptr<SimulatedAmplifier> first_, second_;
};
std::unique_ptr<SimulatedAmplifier> Recorder::first_, Recorder::second_;

TEST_F(Recorder, RecordsTheAskedTimeOfEveryPortWithItsHeader) {
  const std::uint16_t raws[4] = {40000, 30000, 32768, 65535};
  for (int channel = 1; channel <= 4; ++channel) first_->sim().set_channel_raw(channel, raws[channel - 1]);
  first_->sim().update_state([](kolmsim::AmplifierState& state) {
    const auto bits = std::bit_cast<std::uint32_t>(2.5f);
    for (int byte = 0; byte < 4; ++byte) state.norms[0][byte] = static_cast<std::uint8_t>(bits >> (24 - 8 * byte));
    state.units[1] = 19;  // °C
  });

  ProgramRun run(kolmrec, {"--port", "1", "--port", "2", "--baud", "230400", "--seconds", "1.2", "-o", "run.csv"});
  const auto result = run.finish();
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.err.find("kolmrec: 60 samples from 2 ports in "), std::string::npos) << result.err;
  const Recording recording = parse(file_text(run.folder() + "/run.csv"));
  for (const char* line : {"values: display", "library: 1.9", "port 1 baud: 115200", "port 2 baud: 230400",
                           "port 1 serial number: 00012345", "port 1 firmware version: 12", "port 1 data rate: 25 Hz",
                           "port 1 display norms: 2.5,1,1,1",
                           "port 1 units: kg,\xC2\xB0"
                           "C,kg,kg"}) {
    EXPECT_TRUE(recording.has(line)) << line;
  }
  for (int port : {1, 2}) {
    const std::vector<Row> rows = recording.of(port);
    ASSERT_EQ(rows.size(), 30u) << "port " << port;  // 1.2 s at 25 Hz
    for (std::size_t k = 0; k < rows.size(); ++k) {
      EXPECT_EQ(rows[k].index, k);
      EXPECT_NEAR(rows[k].time, k / 25.0, 1e-6);
    }
  }
  const Row row = recording.of(1).back();
  for (int c = 0; c < 4; ++c) EXPECT_NEAR(row.values[c], normalised(raws[c]) * (c == 0 ? 2.5 : 1), 1e-7) << c;
  // The transmission kolmrec started for port 2 it stops again.
  EXPECT_TRUE(eventually([] { return !second_->sim().state().transmitting; })) << result.err;
  first_->sim().update_state([](kolmsim::AmplifierState& state) { state = kolmsim::AmplifierState(); });
}

TEST_F(Recorder, InterruptEndsARecordingWithWholeRowsAndDamagedFramesCountAsLosses) {
  ProgramRun run(kolmrec, {"--port", "1", "--normalised", "-o", "run.csv"});
  const std::string path = run.folder() + "/run.csv";
  ASSERT_TRUE(eventually([&] { return rows_in(path) >= 16; }));
  first_->sim().break_terminators(2);
  ASSERT_TRUE(eventually([&] { return rows_in(path) >= 24; }));
  run.signal(SIGINT);
  const auto result = run.finish();
  EXPECT_EQ(result.status, 3) << result.err;
  EXPECT_NE(result.err.find("kolmrec: port 1: damaged frames were dropped"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("POSSIBLE LOSSES"), std::string::npos) << result.err;
  const Recording recording = parse(file_text(path));
  EXPECT_TRUE(recording.has("values: normalised"));
  EXPECT_GE(recording.rows.size(), 16u);
  for (std::size_t k = 0; k < recording.rows.size(); ++k) EXPECT_EQ(recording.rows[k].index, k);
}

TEST_F(Recorder, AnAmplifierThatGoesAwayEndsItsRecordingAsAFailure) {
  SimulatedAmplifier leaving(3);
  ProgramRun run(kolmrec, {"--port", "3", "--seconds", "60", "-o", "run.csv"});
  const std::string path = run.folder() + "/run.csv";
  ASSERT_TRUE(eventually([&] { return rows_in(path) >= 10; }));
  leaving.sim().hang_up();
  const auto result = run.finish();  // long before the minute is up
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_NE(result.err.find("kolmrec: port 3: "), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("its recording ends"), std::string::npos) << result.err;
  parse(file_text(path));  // whole rows
}

TEST_F(Recorder, FailuresEndWithAClearMessageAndNoFile) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
    std::string mapping;  // the line on port numbers, where a number led nowhere; else none
  };
  const std::vector<Case> cases = {
      {{"--port", "1", "--port", "9", "-o", "run.csv"},
       "kolmrec: port 9 (" + port_dir() + "/com9): cannot open: ENOENT (2, No such file or directory)\n",
       "kolmrec: port numbers: N is $PEKOLM_PORT_DIR/comN, and PEKOLM_PORT_DIR is " + port_dir() + "; see kolmscan\n"},
      // Ports that fail side by side each report their own code.
      {{"--device", "/dev/null", "--port", "9", "--port", "1", "-o", "run.csv"},
       "kolmrec: port 255 (/dev/null): cannot open: ENOTTY (25, Inappropriate ioctl for device)\n"
       "kolmrec: port 9 (" +
           port_dir() + "/com9): cannot open: ENOENT (2, No such file or directory)\n",
       "kolmrec: port numbers: N is $PEKOLM_PORT_DIR/comN, and PEKOLM_PORT_DIR is " + port_dir() + "; see kolmscan\n"},
      {{"--port", "1", "--device", "/nonexistent/tty", "-o", "run.csv"},
       "kolmrec: port 255 (/nonexistent/tty): cannot open: ENOENT (2, No such file or directory)\n",
       ""},
      {{"--port", "1", "-o", "/nonexistent/run.csv"}, "kolmrec: cannot create /nonexistent/run.csv: No such file", ""},
      {{"--port", "1", "--samples", "5", "-o", "/dev/full"}, "kolmrec: cannot write to /dev/full: No space left", ""},
  };
  for (const Case& c : cases) {
    ProgramRun run(kolmrec, c.args);
    const auto result = run.finish();
    EXPECT_EQ(result.status, 1) << c.message;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("port numbers:") == std::string::npos, c.mapping.empty()) << result.err;
    if (!c.mapping.empty()) {
      EXPECT_NE(result.err.find(c.message + c.mapping), std::string::npos) << result.err;
    }
    EXPECT_FALSE(std::filesystem::exists(run.folder() + "/run.csv")) << c.message;
  }
  // Port 1 was released each time.
  EXPECT_EQ(first_->activate(), 0);
  Kolmrelease(1);
}

// A device by its path gets the highest free number, through links in a folder of kolmrec's own, which
// must not change where a number given beside it leads, nor stay behind.
TEST_F(Recorder, RecordsADeviceGivenByItsPathBesideANumberedPort) {
  ScratchFolder tmp("kolmrec-tmpdir");
  // A relative path, as typed in the folder it names a device of.
  ProgramRun run("/bin/sh", {"-c",
                             "export TMPDIR=\"$2\"; ln -s \"$1\" amp && exec \"$0\" --device amp --baud 230400 "
                             "--port 2 --samples 5 -o run.csv",
                             kolmrec, port_dir() + "/com1", tmp.path().string()});
  const auto result = run.finish();
  ASSERT_EQ(result.status, 0) << result.err;
  const std::string amp = std::filesystem::canonical(run.folder()).string() + "/amp";
  const Recording recording = parse(file_text(run.folder() + "/run.csv"));
  for (const std::string& line :
       std::vector<std::string>{"port 255 device: " + amp, "port 255 baud: 230400", "port 255 serial number: 00012345",
                                "port 2 device: " + port_dir() + "/com2", "port 2 baud: 115200"}) {
    EXPECT_TRUE(recording.has(line)) << line;
  }
  EXPECT_EQ(recording.of(255).size(), 5u);
  EXPECT_EQ(recording.of(2).size(), 5u);
  EXPECT_NE(result.err.find("(port 255 (" + amp + "): "), std::string::npos) << result.err;
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}

// What only the file system tells: a device given twice under two names, and paths no device can have.
TEST_F(Recorder, ADeviceGivenTwiceOrABadPathIsAUsageError) {
  first_->forget_commands();
  ScratchFolder links("kolmrec-links");
  const std::string first = port_dir() + "/com1";
  std::filesystem::create_symlink(first, links.at("amp"));
  std::vector<std::string> every_number;
  for (int port = 1; port <= 255; ++port) every_number.insert(every_number.end(), {"--port", std::to_string(port)});
  every_number.insert(every_number.end(), {"--device", "/dev/ttyUSB0"});
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--port", "1", "--device", first}, "port 1 and " + first + " are the same device"},
      {{"--port", first, "--port", "2", "--device", links.at("amp")},
       first + " and " + links.at("amp") + " are the same device"},
      {{"--device", "/dev/ttyUSB0", "--port", "/dev/ttyUSB0"}, "/dev/ttyUSB0 given twice"},
      {{"--device", "/dev/tty\nUSB0"}, "a device path with a control character"},
      {{"--device", "/dev/" + std::string(5000, 'x')}, "device path too long: /dev/xxx"},
      {every_number, "no port number is left for /dev/ttyUSB0"},
  };
  for (const auto& [args, message] : cases) {
    const auto result = testing_support::run_program(kolmrec, args);
    EXPECT_EQ(result.status, 2) << message;
    EXPECT_EQ(result.err.rfind("kolmrec: " + message, 0), 0u) << result.err;
    EXPECT_NE(result.err.find("\nTry 'kolmrec --help'.\n"), std::string::npos) << result.err;
  }
  EXPECT_TRUE(first_->sim().received_bytes().empty()) << "the amplifier heard of it";
}

// The rows go into a pipe that takes nothing for a while: kolmrec's writes block while the library goes
// on receiving, until the value buffers overflow. The rows after the gap keep the host's time.
TEST_F(Recorder, AfterAStalledReaderTheIndicesFollowTheHostsClock) {
  SimulatedAmplifier fast(4, kolmsim::Options{.rate_code = 0xAE});  // 3750 Hz: the buffers hold 1.1 s at 9600
  ProgramRun run("/bin/sh", {"-c", "\"$0\" \"$@\" | { sleep 2.5; cat > run.csv; }", kolmrec, "--port", "4", "--baud",
                             "9600", "--seconds", "3.5", "--host-time"});
  const auto result = run.finish();
  EXPECT_EQ(result.status, 0) << result.err;  // the shell's: the pipe's last command
  EXPECT_NE(result.err.find("value buffer found full"), std::string::npos) << result.err;
  const Recording recording = parse(file_text(run.folder() + "/run.csv"));
  ASSERT_FALSE(recording.notes.empty());
  std::uint64_t gap_at = 0, lost = 0;
  ASSERT_EQ(std::sscanf(recording.notes[0].c_str(),
                        "port 4: values may be missing before index %lu (estimated %lu lost)", &gap_at, &lost),
            2)
      << recording.notes[0];
  EXPECT_GT(lost, 0u);
  // How far the block's host time lies behind the last sample's time, before the gap and after it.
  std::vector<double> before, after;
  for (std::size_t k = 0; k + 1 < recording.rows.size(); ++k) {
    const Row& row = recording.rows[k];
    if (row.notes_before == 0) {
      EXPECT_EQ(row.index, k);
    }
    if (row.index + 1 == gap_at) {
      EXPECT_EQ(recording.rows[k + 1].index, gap_at);
    }
    if (recording.rows[k + 1].host != row.host) (row.notes_before == 0 ? before : after).push_back(row.host - row.time);
  }
  ASSERT_FALSE(before.empty() || after.empty());
  const auto median = [](std::vector<double> lags) {
    std::nth_element(lags.begin(), lags.begin() + lags.size() / 2, lags.end());
    return lags[lags.size() / 2];
  };
  // Without the estimate the rows after the gap would stand early by the time lost, most of a second here.
  EXPECT_NEAR(median(after), median(before), 0.3) << lost;
  EXPECT_EQ(recording.rows.back().index, 3.5 * 3750 - 1);
}

// Started with a standard descriptor closed, as "<&-" or ">&-" in a shell start it: the rows must not go
// to whatever the library opened under the free number.
TEST_F(Recorder, AClosedStandardOutputIsRefusedAndTheOthersDoNoHarm) {
  struct Case {
    std::string closing;  // the shell's redirections
    std::vector<std::string> args;
    int status;
    std::string where;  // of the rows
  };
  const std::vector<Case> cases = {
      {">&-", {"--port", "1", "--samples", "3"}, 1, ""},
      {">&-", {"--port", "1", "--samples", "3", "-o", "run.csv"}, 0, "run.csv"},
      {"<&- 2>&-", {"--port", "1", "--samples", "3"}, 0, "out"},
  };
  for (const Case& c : cases) {
    first_->forget_commands();
    std::vector<std::string> args{"-c", "exec \"$0\" \"$@\" " + c.closing, kolmrec};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProgramRun run("/bin/sh", args);
    const auto result = run.finish();
    EXPECT_EQ(result.status, c.status) << c.closing << result.err;
    if (c.where.empty()) {
      EXPECT_EQ(result.err, "kolmrec: standard output is closed; give a file with -o FILE\n");
      EXPECT_TRUE(first_->sim().received_bytes().empty()) << "the amplifier heard of it";
    } else {
      EXPECT_EQ(parse(file_text(run.folder() + "/" + c.where)).rows.size(), 3u) << c.closing;
    }
  }
}

}  // namespace
