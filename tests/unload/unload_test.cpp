// The shared library at the edges of a process's life: unloaded with a port still open and streaming
// (dlclose releases the port, ends the receive thread and returns), and carried into a forked child.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>

#include "kolmsim/simulator.h"

namespace {

using namespace std::chrono_literals;

// The forked child has none of the parent's threads, and what they held is out of its reach: not a leak.
bool in_forked_child = false;
extern "C" int __lsan_is_turned_off() { return in_forked_child ? 1 : 0; }

int count_threads() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/task")) {
    while (::readdir(d) != nullptr) ++n;
    ::closedir(d);
  }
  return n;
}

// A streaming simulated amplifier linked as port 3 and the library loaded at run time.
class LoadedLibrary : public ::testing::Test {
 protected:
  static constexpr int port = 3;
  void SetUp() override {
    ASSERT_NE(::mkdtemp(dir), nullptr);
    ::setenv("PEKOLM_PORT_DIR", dir, 1);
    simulator.link_port(dir, port);
    threads_before = count_threads();
    library = ::dlopen(PEKOLM_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
  }
  void TearDown() override {
    if (library != nullptr) ::dlclose(library);
    ::unlink(device().c_str());
    ::rmdir(dir);
  }
  template <typename Function>
  Function* function(const char* name) {
    return reinterpret_cast<Function*>(::dlsym(library, name));
  }
  int activate() { return function<int(int, int, int, int)>("KolmactivateExtended")(port, 115200, 100, 0); }
  std::string device() const { return std::string(dir) + "/com" + std::to_string(port); }

  char dir[32] = "/tmp/pekolm-unload.XXXXXX";
  kolmsim::Simulator simulator{kolmsim::Options{.rate_code = 0xAE}};  // streaming fast
  int threads_before = 0;
  void* library = nullptr;
};

TEST_F(LoadedLibrary, DlcloseReleasesOpenPorts) {
  ASSERT_EQ(activate(), 0);
  EXPECT_EQ(count_threads(), threads_before + 1);
  ASSERT_EQ(::dlclose(std::exchange(library, nullptr)), 0);

  EXPECT_EQ(count_threads(), threads_before);
  int fd = ::open(device().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
}

// Descriptors of this process that lead to `path`.
int descriptors_leading_to(const std::string& path) {
  int n = 0;
  for (int fd = 0; fd < 1024; ++fd) {
    char target[256];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    if (length > 0 && path.compare(0, std::string::npos, target, static_cast<std::size_t>(length)) == 0) ++n;
  }
  return n;
}

// Blocks until the parent closes its end of the pipe.
void wait_for_parent(const int pipe[2]) {
  ::close(pipe[1]);
  char byte = 0;
  [[maybe_unused]] const ssize_t ignored = ::read(pipe[0], &byte, 1);
}

// A child shares the port's open descriptions with the parent, but none of its threads. A forked one lets
// go of the device, and its exit neither waits for the parent's receive thread and calls nor touches the
// line the parent goes on using. Even a child that skipped the fork's handlers (a raw clone) must not keep
// a released device busy.
TEST_F(LoadedLibrary, ChildrenLeaveThePortsToTheParent) {
  auto release = function<int(int)>("Kolmrelease");
  auto last_error = function<int(int)>("KolmgetLastError");
  ASSERT_EQ(activate(), 0);
  for (const bool forked : {true, false}) {
    SCOPED_TRACE(forked ? "forked" : "cloned without the fork's handlers");
    // A call inside the port at the fork: a query that gets no answer.
    simulator.set_fault(0xB1, kolmsim::AnswerFault{.silent = true});
    std::thread caller([&] { function<int(int)>("KolmgetBaudSerial")(port); });
    std::this_thread::sleep_for(200ms);
    const int without_the_port = descriptors_leading_to(simulator.slave_path()) - 2;

    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t child = forked ? ::fork() : static_cast<pid_t>(::syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0));
    if (child == 0 && forked) {
      in_forked_child = true;
      const bool let_go = descriptors_leading_to(simulator.slave_path()) == without_the_port;
      wait_for_parent(go);
      std::exit(let_go ? 0 : 3);  // runs the library's unload, as any program's end does
    }
    if (child == 0) {
      // Nothing of the C library's here: the clone shares none of its bookkeeping.
      char byte = 0;
      ::syscall(SYS_close, go[1]);
      ::syscall(SYS_read, go[0], &byte, 1);
      ::syscall(SYS_exit_group, 0);
    }
    ASSERT_GT(child, 0);
    ::close(go[0]);
    EXPECT_EQ(release(port), 0);
    caller.join();
    simulator.clear_faults();
    EXPECT_EQ(activate(), 0) << "the child kept the device: error " << last_error(port);

    ::close(go[1]);
    const auto told = std::chrono::steady_clock::now();
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() - told < 10s) {
      std::this_thread::sleep_for(10ms);
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - told);
    if (::kill(child, 0) == 0) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      FAIL() << "the child's exit hung";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "3: the child kept the port's descriptors";
    EXPECT_LT(took.count(), 1500) << "the child's exit waited for threads it does not have";
  }
  EXPECT_EQ(release(port), 0);
}

}  // namespace
