// The kolmsim tool as people and scripts run it.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "load_switch.h"
#include "program_run.h"
#include "scratch_folder.h"
#include "simulated_amplifier.h"  // eventually()
#include "tool_options.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

using ToolResult = testing_support::ProgramResult;
using testing_support::ProgramRun;

// kolmsim as a program, with a scratch folder for port links and marker files.
class ToolRunner {
 public:
  std::string scratch() const { return scratch_.path().string(); }

  std::unique_ptr<ProgramRun> start(const std::vector<std::string>& args) const {
    return std::make_unique<ProgramRun>(KOLMSIM_TOOL_PATH, args);
  }
  ToolResult run(const std::vector<std::string>& args) const {
    return testing_support::run_program(KOLMSIM_TOOL_PATH, args);
  }

 private:
  testing_support::ScratchFolder scratch_{"kolmsim-tool-test"};
};

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  return testing_support::eventually(condition, timeout);
}

TEST(KolmsimTool, PassesOnTheCommandsExitStatus) {
  ToolRunner tool;
  EXPECT_EQ(tool.run({"--quiet", "--", "sh", "-c", "exit 7"}).status, 7);
  EXPECT_EQ(tool.run({"--quiet", "--", "sh", "-c", "kill -TERM $$"}).status, 128 + SIGTERM);
  const ToolResult missing = tool.run({"--quiet", "--", "/nonexistent/program"});
  EXPECT_EQ(missing.status, 127);
  EXPECT_NE(missing.err.find("/nonexistent/program"), std::string::npos);
}

TEST(KolmsimTool, CommandFindsThePortAndTheTemporaryDirectoryIsRemovedAfterwards) {
  ToolRunner tool;
  const ToolResult r = tool.run({"--com", "4", "--", "sh", "-c",
                                 "test -c \"$PEKOLM_PORT_DIR/com4\" && test -L \"$PEKOLM_PORT_DIR/com4\" && "
                                 "printf %s \"$PEKOLM_PORT_DIR\""});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.out.rfind("/tmp/kolmsim.", 0), 0u) << r.out;
  EXPECT_FALSE(fs::exists(r.out));
  EXPECT_NE(r.err.find("as port 4 (" + r.out + "/com4); PEKOLM_PORT_DIR=" + r.out), std::string::npos) << r.err;
}

TEST(KolmsimTool, GivenPortDirectoryIsCreatedAndCleanedUp) {
  ToolRunner tool;
  const std::string existing = tool.scratch() + "/ports";
  fs::create_directory(existing);
  EXPECT_EQ(tool.run({"--quiet", "--port-dir", existing, "--", "test", "-L", existing + "/com1"}).status, 0);
  EXPECT_TRUE(fs::exists(existing));
  EXPECT_FALSE(fs::exists(fs::symlink_status(existing + "/com1")));

  const std::string fresh = tool.scratch() + "/new";
  EXPECT_EQ(tool.run({"--quiet", "--port-dir=" + fresh, "--com=9", "--", "test", "-L", fresh + "/com9"}).status, 0);
  EXPECT_FALSE(fs::exists(fresh));
}

TEST(KolmsimTool, ServesUntilTerminatedThenCleansUp) {
  ToolRunner tool;
  const std::string link = tool.scratch() + "/com1";
  const auto kolmsim = tool.start({"--port-dir", tool.scratch()});
  ASSERT_TRUE(wait_until([&] { return fs::exists(fs::symlink_status(link)); }, 3000ms));
  kolmsim->signal(SIGTERM);
  EXPECT_EQ(kolmsim->finish().status, 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(KolmsimTool, InterruptGoesToTheCommandWhileTheSimulatorStaysUp) {
  ToolRunner tool;
  // The command outlives an interrupt sent to kolmsim alone, and can still use the port afterwards.
  const auto kolmsim = tool.start({"--quiet", "--port-dir", tool.scratch(), "--", "sh", "-c",
                                   "touch \"$PEKOLM_PORT_DIR/ready\"; sleep 0.3; test -c \"$PEKOLM_PORT_DIR/com1\""});
  ASSERT_TRUE(wait_until([&] { return fs::exists(tool.scratch() + "/ready"); }, 3000ms));
  kolmsim->signal(SIGINT);
  EXPECT_EQ(kolmsim->finish().status, 0);
}

TEST(KolmsimTool, ReplacesOnlyALinkThatLeadsNowhere) {
  ToolRunner tool;
  const std::string link = tool.scratch() + "/com1";
  struct InTheWay {
    const char* what;
    std::function<void()> make;
    bool replaced;
  };
  const InTheWay cases[] = {
      {"a file", [&] { std::ofstream(link) << "notes"; }, false},
      {"a directory", [&] { fs::create_directory(link); }, false},
      {"a link to a device", [&] { fs::create_symlink("/dev/null", link); }, false},
      {"a link that leads nowhere", [&] { fs::create_symlink(tool.scratch() + "/gone", link); }, true},
  };
  for (const InTheWay& c : cases) {
    c.make();
    const fs::file_type type = fs::symlink_status(link).type();
    const ToolResult r = tool.run({"--quiet", "--port-dir", tool.scratch(), "--", "test", "-c", link});
    if (c.replaced) {
      EXPECT_EQ(r.status, 0) << c.what << r.err;
      EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "the link made is removed at the end";
    } else {
      EXPECT_EQ(r.status, 1) << c.what;
      EXPECT_EQ(r.err.rfind("kolmsim: " + link + " is in the way (", 0), 0u) << r.err;
      EXPECT_EQ(fs::symlink_status(link).type(), type) << c.what;
      if (type == fs::file_type::regular) {
        EXPECT_EQ(testing_support::file_text(link), "notes");
      }
    }
    fs::remove_all(link);
  }
}

// Several ports in one kolmsim, each amplifier with its own serial number.
TEST(KolmsimTool, PlaysOneAmplifierOnEachPortGiven) {
  ToolRunner tool;
  const ToolResult r = tool.run({"--quiet", "--com", "2", "--com", "5", "--serial", "00000099", "--", "sh", "-c",
                                 "\"$0\" 2 && \"$0\" 5", KOLMDEMO_PATH});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("port 2: mode 1, firmware 12, serial number 00000099,"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("port 5: mode 1, firmware 12, serial number 00000100,"), std::string::npos) << r.out;
}

// The example program on the tool, as its manual page runs it.
TEST(KolmsimTool, TheExampleRefusesABadCommandLineAndAClosedOutput) {
  ToolRunner tool;
  const std::pair<std::string, std::string> usage_errors[] = {{"--bogus", "unknown option '--bogus'"},
                                                              {"abc", "bad port number 'abc'"}};
  for (const auto& [arg, message] : usage_errors) {
    const ToolResult r = tool.run({"--quiet", "--", KOLMDEMO_PATH, arg});
    EXPECT_EQ(r.status, 2) << arg;
    EXPECT_EQ(r.err, "kolmdemo: " + message + "\nTry 'kolmdemo --help'.\n");
  }
  const ToolResult r = tool.run({"--quiet", "--", "sh", "-c", "exec \"$0\" >&-", KOLMDEMO_PATH});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kolmdemo: standard output is closed; nothing could be shown\n");
}

// A device by its path, reached through a link of the example's own, which it removes again.
TEST(KolmsimTool, TheExampleOpensADeviceByItsPath) {
  ToolRunner tool;
  const std::string tmp = tool.scratch() + "/tmp";
  fs::create_directory(tmp);
  const ToolResult r = tool.run({"--quiet", "--com", "5", "--port-dir", tool.scratch() + "/ports", "--", "sh", "-c",
                                 "TMPDIR=\"$1\" \"$0\" \"$PEKOLM_PORT_DIR/com5\"", KOLMDEMO_PATH, tmp});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(tool.scratch() + "/ports/com5 (port 255): mode 1, firmware 12, serial number 00012345,"),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(fs::is_empty(tmp));
}

// Why a port would not open, in words that can be looked up: the library's text and code, the system's name,
// the device tried and, where a number led nowhere, how the numbers map.
TEST(KolmsimTool, TheExampleSaysWhyAPortWouldNotOpen) {
  ToolRunner tool;
  const std::string dir = tool.scratch();
  const std::pair<std::string, std::string> failures[] = {
      {"300", "port 300 could not be opened: the port number is outside 1..255 or the port is not open (0x30000101)"},
      {"2", "port 2 (" + dir +
                "/com2) could not be opened: ENOENT (2, No such file or directory)\n"
                "kolmdemo: port numbers: N is $PEKOLM_PORT_DIR/comN, and PEKOLM_PORT_DIR is " +
                dir + "; see kolmscan"},
      {"/nonexistent/tty", "/nonexistent/tty could not be opened: ENOENT (2, No such file or directory)"}};
  for (const auto& [port, message] : failures) {
    const ToolResult r = tool.run({"--quiet", "--port-dir", dir, "--", KOLMDEMO_PATH, port});
    EXPECT_EQ(r.status, 1) << port;
    EXPECT_EQ(r.err, "kolmdemo: " + message + "\n");
  }
}

TEST(KolmsimTool, RejectsBadOptionsWithStatusTwo) {
  ToolRunner tool;
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--com", "0"},
                                             {"--com", "256"},
                                             {"--com", " 3"},
                                             {"--com", "3 "},
                                             {"--com", "+3"},
                                             {"--com", "0x"},
                                             {"--com", "3", "--com", "3"},
                                             {"--serial", "1234567"},
                                             {"--serial", "1234567x"},
                                             {"--serial", "99999999", "--com", "1", "--com", "2"},
                                             {"--sine", "1:100: 2"},
                                             {"--rate-code", "0x50"},
                                             {"--firmware", "x"},
                                             {"--frobnicate"},
                                             {"--"},
                                             {"program"},
                                             {"--com"},
                                             {"--quiet=yes"}}) {
    const ToolResult r = tool.run(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.err.rfind("kolmsim: ", 0), 0u) << r.err;
  }
}

TEST(KolmsimTool, HelpDocumentsEveryOption) {
  ToolRunner tool;
  const ToolResult r = tool.run({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* option :
       {"--com", "--port-dir", "--firmware", "--rate-code", "--not-transmitting", "--mode", "--quiet", "--help",
        "PEKOLM_PORT_DIR", "--offset", "--sine", "--noise", "--load", "--load-at", "SIGUSR1", "SIGUSR2"}) {
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
  }
}

TEST(ToolOptions, SetTheSimulatorsStartingState) {
  const auto parsed =
      kolmsim::tool::parse_arguments({"--firmware", "9", "--rate-code", "0xAF", "--mode", "0", "--not-transmitting",
                                      "--com", "010", "--", "prog", "--com", "3"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  const auto& o = *parsed.options;
  EXPECT_EQ(o.simulator.firmware_version, 9);
  EXPECT_EQ(o.simulator.rate_code, 0xAF);
  EXPECT_EQ(o.simulator.mode, 0);
  EXPECT_FALSE(o.simulator.transmitting);
  EXPECT_EQ(o.simulator.tx_mode & 0x02, 0);
  EXPECT_EQ(o.coms, std::vector<int>{10});  // decimal, not octal; options after "--" belong to the command
  EXPECT_EQ(o.command, (std::vector<std::string>{"prog", "--com", "3"}));
}

TEST(ToolOptions, SignalOptionsSetTheirChannelsInOrder) {
  const auto parsed = kolmsim::tool::parse_arguments({"--offset", "all:-100", "--sine=all:0:0", "--noise", "all:2",
                                                      "--noise", "3:0", "--sine", "2:1000:2.5", "--offset", "4:0x10",
                                                      "--load", "1:3121", "--load=4:-50", "--load-at", "1,2.5,10"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  const auto& o = *parsed.options;
  for (int ch = 0; ch < 4; ++ch) {
    const kolmsim::ChannelSignal& s = o.signals[ch];
    EXPECT_EQ(s.offset, ch == 3 ? 16 : -100) << ch;
    EXPECT_EQ(s.amplitude, ch == 1 ? 1000 : 0) << ch;
    EXPECT_EQ(s.frequency, ch == 1 ? 2.5 : 0.0) << ch;
    EXPECT_EQ(s.noise, ch == 2 ? 0 : 2) << ch;
  }
  EXPECT_EQ(o.loads, (std::array<int, 4>{3121, 0, 0, -50}));
  EXPECT_EQ(o.load_at, (std::vector<kolmsim::Clock::duration>{1s, 2500ms, 10s}));

  // Without these options every channel plays the default signal, and there is no load.
  const auto plain = kolmsim::tool::parse_arguments({});
  ASSERT_TRUE(plain.options);
  for (const kolmsim::ChannelSignal& s : plain.options->signals) {
    EXPECT_EQ(s.amplitude, kolmsim::ChannelSignal{}.amplitude);
    EXPECT_EQ(s.noise, kolmsim::ChannelSignal{}.noise);
  }
  EXPECT_EQ(plain.options->loads, (std::array<int, 4>{}));
}

TEST(ToolOptions, BadSignalValuesAreRejectedWithTheOptionNamed) {
  const std::pair<std::string, std::vector<std::string>> bad[] = {
      {"--offset", {"0:5", "5:5", "ALL:5", "1", "1:5:5", "1:32768", "1:", "1:5x"}},
      {"--sine", {"1:300", "1:-1:1", "1:32769:1", "1:300:-0.1", "1:300:nan", "1:300:inf", "1:300:1Hz"}},
      {"--noise", {"all:-1", "all:32769", "all:1.5"}},
      {"--load", {"1:65536", "1:-65536"}},
      {"--load-at", {"", "2,1", "1,1", "-1", "1,,2", "1000001"}},
  };
  auto rejected = [](const std::vector<std::string>& args, const std::string& option) {
    const auto parsed = kolmsim::tool::parse_arguments(args);
    EXPECT_FALSE(parsed.options) << args.back();
    EXPECT_NE(parsed.error.find("'" + option + "'"), std::string::npos) << parsed.error;
    EXPECT_EQ(parsed.error.find('\n'), std::string::npos) << parsed.error;
  };
  for (const auto& [option, values] : bad) {
    for (const std::string& value : values) rejected({"--load", "1:5", option, value}, option);
  }
  rejected({"--noise"}, "--noise");
  rejected({"--load-at", "1"}, "--load-at");  // nothing to switch
  rejected({"--load", "all:0", "--load-at", "1"}, "--load-at");
}

TEST(LoadSwitch, ScheduleSwitchesOnAndOffInTurnWhateverCameBetween) {
  const kolmsim::Clock::time_point start{};
  std::vector<bool> applied;
  kolmsim::tool::LoadSwitch load([&](bool on) { applied.push_back(on); }, {1s, 2s, 3s}, start);
  EXPECT_EQ(load.follow_schedule(start + 999ms), start + 1s);
  EXPECT_TRUE(applied.empty());
  // A signal in between does not shift the schedule's turns; two times that have come switch in order.
  load.set(true);
  EXPECT_EQ(load.follow_schedule(start + 2s), start + 3s);
  EXPECT_EQ(load.follow_schedule(start + 10s), std::nullopt);
  EXPECT_EQ(applied, (std::vector<bool>{true, true, false, true}));
}

}  // namespace
