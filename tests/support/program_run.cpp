#include "program_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace testing_support {

ProgramRun::ProgramRun(const std::string& path, const std::vector<std::string>& args) {
  char folder[] = "/tmp/pekolm-program.XXXXXX";
  if (::mkdtemp(folder) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
    return;
  }
  folder_ = folder;
  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (folder_ + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (folder_ + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  // Relative output names land in the scratch folder.
  posix_spawn_file_actions_addchdir_np(&actions, folder_.c_str());
  EXPECT_EQ(posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ), 0) << path;
  posix_spawn_file_actions_destroy(&actions);
}

ProgramRun::~ProgramRun() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (!folder_.empty()) std::filesystem::remove_all(folder_);
}

void ProgramRun::signal(int number) const {
  if (pid_ > 0) ::kill(pid_, number);
}

ProgramResult ProgramRun::finish() {
  ProgramResult result;
  int status = 0;
  if (pid_ <= 0 || ::waitpid(pid_, &status, 0) != pid_) return result;
  pid_ = -1;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = file_text(folder_ + "/out");
  result.err = file_text(folder_ + "/err");
  return result;
}

ProgramResult ProgramRun::finish(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (pid_ > 0) {
    // WNOWAIT only looks: finish() collects the status.
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      break;
    }
    ::usleep(10000);
  }
  return finish();
}

ProgramResult run_program(const std::string& path, const std::vector<std::string>& args) {
  return ProgramRun(path, args).finish();
}

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace testing_support
