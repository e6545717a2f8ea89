// A scripted run: standard input and output are pipes, every key read takes the next byte of the script,
// and the whole transcript is fixed.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "console_session.h"
#include "pekolm.h"
#include "program_run.h"

extern char** environ;

namespace console_testing {
namespace {

constexpr int port = 16;

struct ScriptRun {
  std::string output;
  int status = -1;
};

// Runs kolmconsole with the script as its standard input and collects what it prints.
ScriptRun run_script(const std::string& script) {
  const std::string work_dir = testing_support::port_dir() + "/scripted";
  std::filesystem::create_directories(work_dir);
  int input[2];
  int output[2];
  if (::pipe(input) != 0 || ::pipe(output) != 0) return {};
  char program[] = KOLMCONSOLE_PATH;
  char* argv[] = {program, nullptr};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(input[0], STDIN_FILENO);
    ::dup2(output[1], STDOUT_FILENO);
    ::close(input[1]);
    ::close(output[0]);
    if (::chdir(work_dir.c_str()) != 0) ::_exit(126);
    ::execve(program, argv, environ);  // PEKOLM_PORT_DIR is set in this process already
    ::_exit(127);
  }
  ::close(input[0]);
  ::close(output[1]);
  // The script is small enough for the pipe; closing it is the end of input.
  if (::write(input[1], script.data(), script.size()) != static_cast<ssize_t>(script.size())) ADD_FAILURE();
  ::close(input[1]);
  ScriptRun run;
  char chunk[4096];
  for (ssize_t got; (got = ::read(output[0], chunk, sizeof chunk)) > 0;) run.output.append(chunk, got);
  ::close(output[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

std::string without_samples(const std::string& text) {
  std::istringstream lines(text);
  std::string result;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("W1: ", 0) != 0) result += line + "\n";
  }
  return result;
}

TEST(Scripted, AScriptFromAPipeRunsEveryAnswerInTurn) {
  kolmsim::Simulator sim{kolmsim::Options{.rate_code = 0xA4}};
  link(sim, port);
  const std::string script =
      "16\n115200\n"                        // port and baud; the line end is the key after start-up
      "x."                                  // stop; any byte ends the pause
      "gabc def\nn\n"                       // no number: channel 0, and the line is gone
      "n2\nj\nxyz\n."                       // no number as the new norm: 0, refused
      "u1\ne abcdefghijklmnopqrstuvwxyz\n"  // a word too long for the unit text
      "v."                                  // the rest of that word answered nothing
      "q.";
  const ScriptRun run = run_script(script);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(without_samples(run.output),
            "\nDLL-Version: 65545\n"
            "ComNr. eingeben: \n"
            "Baudrate eingeben: \n"
            "Ergebnis: 0\n"
            "\nKolmgetMode: 1\n"
            "KolmgetAnalogueType: 0"
            "\nChannel 1 has Bridge-input of 2mV/V."
            "\nChannel 2 has Bridge-input of 2mV/V."
            "\nChannel 3 has Bridge-input of 2mV/V."
            "\nChannel 4 has Bridge-input of 2mV/V."
            "KolmreadSerialNo: 0 No: 00012345\n"
            "KolmDispGetNorm(1): 1\nKolmDispGetNorm(2): 1\nKolmDispGetNorm(3): 1\nKolmDispGetNorm(4): 1\n"
            "\nFW-Version: 12\n"
            " Beliebige Taste...\n\n"
            "xKolmstopTX: 0\n Beliebige Taste...\n\n"
            "g Kanal (1..4): \nKolmgetGain: 16843009\nGain aendern? (j / n):  Beliebige Taste...\n\n"
            "n Kanal (1..4): \nKolmDispGetNorm: 1\nNorm aendern? (j / n): \nNeue Norm: \n"
            "KolmDispSetNorm: -1\n KolmDispGetNorm: 1\n Beliebige Taste...\n\n"
            "ukanal (1..4): \nKolmgetUnitText: 0Unittext: kg Aendern? (j) oder Text eingeben: (e): "
            "Text: KolmsetUnitText: -1\n      Beliebige Taste...\n\n"
            "vKolmgetValue: 0\n Beliebige Taste...\n\n"
            "q Beliebige Taste...\n\n");

  // The console may end before the simulator has read its last command off the line.
  std::vector<std::string> sent;
  EXPECT_TRUE(testing_support::eventually([&] {
    sent = commands(sim, 0);
    return std::find(sent.begin(), sent.end(), "3B") != sent.end();
  }));
  for (const std::string& command : sent) {
    EXPECT_NE(command.substr(0, 2), "BA") << "a norm of 0 is refused by the library";
    EXPECT_NE(command.substr(0, 2), "BC") << "an overlong unit text is refused by the library";
  }
}

TEST(Scripted, EndOfInputAtStartUpEndsTheConsole) {
  // No baud rate: it reads as 0, the activation fails, and the pause finds the end of input.
  const ScriptRun run = run_script("16\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("Ergebnis: -1\n"), std::string::npos) << run.output;
  const std::string pause = "KolmgetLastError: 805306624\n Beliebige Taste...\n\n";  // the baud rate refused
  ASSERT_GE(run.output.size(), pause.size());
  EXPECT_EQ(run.output.substr(run.output.size() - pause.size()), pause) << "nothing after the pause";
}

TEST(Scripted, EndOfInputInTheDisplayLoopEndsTheConsoleAsQWould) {
  kolmsim::Simulator sim{kolmsim::Options{.rate_code = 0xA4}};
  link(sim, port);
  const ScriptRun run = run_script("16\n115200\nx.");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("xKolmstopTX: 0\n Beliebige Taste...\n\n"), std::string::npos) << run.output;
  // The port was let go: it can be opened again at once.
  EXPECT_EQ(KolmactExt(port, 115200, 16), 0);
  EXPECT_EQ(Kolmrelease(port), 0);
}

// Started as "<&-" and ">&-" in a shell start it: without input it ends as at the end of a script, and
// without output it refuses before it touches the amplifier.
TEST(Scripted, ClosedStandardStreams) {
  kolmsim::Simulator sim;
  link(sim, port);
  testing_support::ProgramRun no_input("/bin/sh", {"-c", "exec \"$0\" <&- 2>&-", KOLMCONSOLE_PATH});
  const testing_support::ProgramResult ended = no_input.finish(30s);
  EXPECT_EQ(ended.status, 0);
  EXPECT_NE(ended.out.find("ComNr. eingeben: \n"), std::string::npos) << ended.out;
  const std::string pause = " Beliebige Taste...\n\n";
  ASSERT_GE(ended.out.size(), pause.size()) << ended.out;
  EXPECT_EQ(ended.out.substr(ended.out.size() - pause.size()), pause) << ended.out;

  testing_support::ProgramRun no_output("/bin/sh", {"-c", "printf '16\\n115200\\nq.' | \"$0\" >&-", KOLMCONSOLE_PATH});
  const testing_support::ProgramResult refused = no_output.finish(30s);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "kolmconsole: standard output is closed; nothing could be shown\n");
  EXPECT_TRUE(sim.received_bytes().empty()) << "the amplifier heard of it";
}

}  // namespace
}  // namespace console_testing
