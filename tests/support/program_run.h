// Runs one of our programs as people and scripts do: a child process with arguments, its standard output
// and error collected in files of a scratch folder, its exit status or signal as one number.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace testing_support {

struct ProgramResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

class ProgramRun {
 public:
  // Starts `path` with `args` in a scratch folder of its own (working directory and output files), standard
  // input from /dev/null, the environment of this process.
  ProgramRun(const std::string& path, const std::vector<std::string>& args);
  ~ProgramRun();  // kills a program still running, removes the scratch folder
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  const std::string& folder() const { return folder_; }
  pid_t pid() const { return pid_; }
  void signal(int number) const;
  // Waits for the end.
  ProgramResult finish();
  // Waits for the end; a program still running after `limit` is killed (status 128 + SIGKILL).
  ProgramResult finish(std::chrono::milliseconds limit);

 private:
  std::string folder_;
  pid_t pid_ = -1;
};

// Starts, waits, returns.
ProgramResult run_program(const std::string& path, const std::vector<std::string>& args);

std::string file_text(const std::string& path);

}  // namespace testing_support
