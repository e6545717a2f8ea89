// The shared library unloaded with a port still open and streaming: dlclose releases the port (the device
// can be locked again at once), ends the receive thread and returns.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

#include "kolmsim/simulator.h"

namespace {

int count_threads() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/task")) {
    while (::readdir(d) != nullptr) ++n;
    ::closedir(d);
  }
  return n;
}

TEST(Unload, DlcloseReleasesOpenPorts) {
  char dir[] = "/tmp/pekolm-unload.XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  ::setenv("PEKOLM_PORT_DIR", dir, 1);
  kolmsim::Options options;
  options.rate_code = 0xAE;  // streaming fast while it unloads
  kolmsim::Simulator simulator(options);
  simulator.link_port(dir, 3);
  const int threads_before = count_threads();

  void* library = ::dlopen(PEKOLM_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();
  auto activate = reinterpret_cast<int (*)(int, int, int, int)>(::dlsym(library, "KolmactivateExtended"));
  ASSERT_NE(activate, nullptr);
  ASSERT_EQ(activate(3, 115200, 100, 0), 0);
  EXPECT_EQ(count_threads(), threads_before + 1);
  ASSERT_EQ(::dlclose(library), 0);

  EXPECT_EQ(count_threads(), threads_before);
  const std::string device = std::string(dir) + "/com3";
  int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
  ::unlink(device.c_str());
  ::rmdir(dir);
}

}  // namespace
