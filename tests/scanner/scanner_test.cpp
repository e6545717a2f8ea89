// kolmscan run as a program: its command line, and --probe on simulated amplifiers beside a silent pty, a
// pty another opener holds and a link that leads nowhere.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "kolmsim/simulator.h"
#include "probe.h"
#include "program_run.h"
#include "scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using testing_support::run_program;

class Scratch {
 public:
  Scratch() {
    fs::create_directories(folder_.path() / "sys" / "class" / "tty");
    // Nothing of the machine the tests run on: its own ttyS ports would be listed and probed.
    setenv("KOLMSCAN_SYSFS", folder_.at("sys").c_str(), 1);
    setenv("KOLMSCAN_DEV", folder_.at("dev").c_str(), 1);
  }
  ~Scratch() {
    unsetenv("KOLMSCAN_SYSFS");
    unsetenv("KOLMSCAN_DEV");
  }
  std::string at(const std::string& relative) const { return folder_.at(relative); }

 private:
  testing_support::ScratchFolder folder_{"kolmscan-run"};
};

// A pty whose other side nobody plays, or that sends back whatever it gets.
class Pty {
 public:
  explicit Pty(bool echo = false) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master_, 0);
    EXPECT_EQ(grantpt(master_), 0);
    EXPECT_EQ(unlockpt(master_), 0);
    name_ = ptsname(master_);
    if (echo) echo_ = std::thread([this] { echo_until_closed(); });
  }
  ~Pty() {
    stop_ = true;
    if (echo_.joinable()) echo_.join();
    ::close(master_);
  }
  const std::string& name() const { return name_; }
  std::string heard() const {
    std::lock_guard lock(mu_);
    return heard_;
  }

 private:
  void echo_until_closed() {
    while (!stop_) {
      pollfd ready{master_, POLLIN, 0};
      if (::poll(&ready, 1, 50) <= 0 || (ready.revents & POLLIN) == 0) continue;
      char bytes[256];
      const ssize_t n = ::read(master_, bytes, sizeof bytes);
      if (n <= 0) continue;
      {
        std::lock_guard lock(mu_);
        heard_.append(bytes, static_cast<std::size_t>(n));
      }
      (void)!::write(master_, bytes, static_cast<std::size_t>(n));
    }
  }
  int master_ = -1;
  std::string name_;
  std::thread echo_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mu_;
  std::string heard_;
};

// The line of the JSON array that describes the device.
std::string object_of(const std::string& json, const std::string& device) {
  std::istringstream lines(json);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.find("\"device\": \"" + device + "\"") != std::string::npos) return line;
  }
  return {};
}

TEST(Kolmscan, AnswersItsCommandLine) {
  Scratch scratch;
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
  } cases[] = {
      {{"--version"}, 0, "kolmscan " PEKOLM_RELEASE "\n", ""},
      {{"--bogus"}, 2, "", "kolmscan: unknown option '--bogus'\nTry 'kolmscan --help'.\n"},
      {{"ttyS0"}, 2, "", "kolmscan: unexpected argument 'ttyS0'\nTry 'kolmscan --help'.\n"},
      {{"--json"}, 0, "[]\n", ""},
      {{"--probe", "--json"}, 1, "[]\n", ""},  // no amplifier where there is no port
      {{"--udev", "--first", "0"},
       2,
       "",
       "kolmscan: bad port number '0' for '--first' (1..255)\nTry 'kolmscan --help'.\n"},
      {{"--device"}, 2, "", "kolmscan: option '--device' needs a path\nTry 'kolmscan --help'.\n"},
      {{"--udev", "--json"}, 2, "", "kolmscan: '--udev' and '--json' exclude each other\nTry 'kolmscan --help'.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    const auto r = run_program(KOLMSCAN_PATH, c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_EQ(run_program(KOLMSCAN_PATH, {"--help"}).out.rfind("Usage: kolmscan", 0), 0U);
}

TEST(Kolmscan, ProbesEveryPort) {
  Scratch scratch;
  const std::string ports = scratch.at("ports");
  fs::create_directories(ports);
  Pty silent;
  Pty held;
  fs::create_symlink(silent.name(), ports + "/com3");
  fs::create_symlink(held.name(), ports + "/com4");
  fs::create_symlink(scratch.at("nothing"), ports + "/com5");
  Pty echoing(true);
  fs::create_symlink(echoing.name(), ports + "/com7");
  // An older amplifier on a slower line.
  kolmsim::Options older;
  older.firmware_version = 9;
  older.line_baud = 57600;
  kolmsim::Simulator slow(older);
  slow.link_port(ports, 6);
  const int holder = ::open(held.name().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  // A USB adapter that no port number reaches: its device node leads to an amplifier of this process.
  kolmsim::Simulator on_usb;
  const fs::path usb = scratch.at("sys/devices/usb1/1-1");
  fs::create_directories(usb / "1-1:1.0" / "ttyUSB0");
  for (const auto& [name, value] : {std::pair{"idVendor", "0403"}, {"idProduct", "6001"}, {"serial", "FT42"}}) {
    std::ofstream(usb / name) << value << "\n";
  }
  fs::create_directories(scratch.at("sys/class/tty/ttyUSB0"));
  fs::create_directory_symlink(usb / "1-1:1.0" / "ttyUSB0", scratch.at("sys/class/tty/ttyUSB0/device"));
  fs::create_directories(scratch.at("dev"));
  fs::create_symlink(on_usb.slave_path(), scratch.at("dev/ttyUSB0"));
  fs::create_symlink(scratch.at("dev/ttyUSB0"), ports + "/com8");  // the adapter once more, by a link

  const auto started = std::chrono::steady_clock::now();
  const auto r = run_program(KOLMSIM_PATH, {"--quiet", "--port-dir", ports, "--com", "1", "--com", "2", "--serial",
                                            "00000042", "--firmware", "10", "--", KOLMSCAN_PATH, "--probe", "--json"});
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("probing 9 ports, two of them silent at all 6 rates, took %.1f s\n", seconds);
  ::close(holder);
  ASSERT_EQ(r.status, 0) << r.out << r.err;

  const struct {
    std::string device;
    std::vector<std::string> fields;
  } expected[] = {
      {"com1",
       {"\"port\": 1,", "\"probe\": \"amplifier\"", "\"serial_number\": \"00000042\"", "\"firmware\": 10,",
        "\"mode\": 1,", "\"baud\": 115200,"}},
      {"com2", {"\"port\": 2,", "\"probe\": \"amplifier\"", "\"serial_number\": \"00000043\""}},
      {"com3", {"\"port\": 3,", "\"target\": \"" + silent.name() + "\"", "\"probe\": \"silent\"", "\"baud\": null"}},
      {"com4", {"\"port\": 4,", "\"probe\": \"busy\""}},
      {"com5", {"\"port\": 5,", "\"probe\": \"error\"", "\"error\": 2,", "ENOENT (2, "}},
      {"com6", {"\"probe\": \"amplifier\"", "\"firmware\": 9,", "\"baud\": 57600,"}},
      {"com7", {"\"probe\": \"silent\""}},
      // Probed under its number, and its tty told the same.
      {"com8", {"\"port\": 8,", "\"probe\": \"amplifier\"", "\"serial_number\": \"00012345\""}},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.device);
    const std::string object = object_of(r.out, ports + "/" + e.device);
    for (const std::string& field : e.fields)
      EXPECT_NE(object.find(field), std::string::npos) << field << "\n" << r.out;
  }
  const std::string adapter = object_of(r.out, scratch.at("dev/ttyUSB0"));
  for (const std::string field : {"\"port\": null,", "\"vid_pid\": \"0403:6001\"", "\"probe\": \"amplifier\"",
                                  "\"serial_number\": \"00012345\""}) {
    EXPECT_NE(adapter.find(field), std::string::npos) << field << "\n" << r.out;
  }
  // Nothing but the start-up's mode query (0x27) at each rate reaches a line that is no amplifier.
  EXPECT_EQ(echoing.heard(), std::string(std::size(kolmscan::probe_bauds), '\x27'));
}

}  // namespace
