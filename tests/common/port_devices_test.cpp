// Where port numbers lead, and the links that give a device given by its path a number.
#include "port_devices.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ScratchFolder;

std::string device_of(int port) {
  char device[port_device_size];
  return port_device(port, device, sizeof device);
}

std::string numbers_line(int port) {
  char line[port_device_size];
  return port_numbers_line(port, line, sizeof line);
}

// Sets or unsets a variable for one test and puts back what it was.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = ::getenv(name)) old_ = old;
    set(value);
  }
  ~ScopedVariable() { set(old_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  void set(const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name_, value->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  const char* name_;
  std::optional<std::string> old_;
};

TEST(PortDevices, AWordNamesADeviceWhenItIsNoNumberAndHoldsASlash) {
  const std::pair<const char*, bool> words[] = {{"3", false}, {"255", false},         {"ttyUSB0", false},
                                                {"", false},  {"/dev/ttyUSB0", true}, {"./com1", true},
                                                {"3/", true}, {"-3", false}};
  for (const auto& [word, device] : words) EXPECT_EQ(names_a_device(word) != 0, device) << word;
}

// The library's rule, and the line that says which part of it applied.
TEST(PortDevices, ANumberLeadsWhereTheLibraryOpensIt) {
  ScratchFolder ports("port-devices-test");
  {
    ScopedVariable dir("PEKOLM_PORT_DIR", ports.path().string());
    EXPECT_EQ(device_of(7), ports.at("com7"));
    EXPECT_EQ(numbers_line(7), "port numbers: N is $PEKOLM_PORT_DIR/comN, and PEKOLM_PORT_DIR is " +
                                   ports.path().string() + "; see kolmscan");
  }
  ScopedVariable empty("PEKOLM_PORT_DIR", "");  // as good as unset
  EXPECT_NE(device_of(7), "/com7");
  EXPECT_EQ(device_of(0), "");
  EXPECT_EQ(device_of(256), "");
#ifdef PEKOLM_TEST_DEFAULT_PORT_DIR
  const std::string link = PEKOLM_TEST_DEFAULT_PORT_DIR "/com201";
  fs::create_directories(PEKOLM_TEST_DEFAULT_PORT_DIR);
  fs::remove(link);
  fs::create_symlink(ports.at("unplugged"), link);  // a link left dangling still takes the number
  EXPECT_EQ(device_of(201), link);
  EXPECT_NE(numbers_line(201).find("comN where that link exists (as for 201), else"), std::string::npos);
  fs::remove(link);
  EXPECT_EQ(device_of(201), "/dev/ttyS200");
  EXPECT_NE(numbers_line(201).find("else /dev/ttyS(N-1) (as for 201); see kolmscan"), std::string::npos);
#endif
}

// The links, the numbers, the variable, and nothing left behind.
TEST(PortDevices, DevicesGivenByPathAreLinkedBesideTheNumberedPorts) {
  ScratchFolder tmp("port-devices-tmp");
  ScratchFolder ports("port-devices-ports");
  ScopedVariable tmpdir("TMPDIR", tmp.path().string());
  ScopedVariable dir("PEKOLM_PORT_DIR", ports.path().string());
  port_choice choices[] = {{"/dev/ttyUSB0", 0}, {nullptr, 255}, {"relative/tty", 0}, {nullptr, 3}};
  char error[port_device_size] = "";
  ASSERT_EQ(choose_port_numbers(choices, 4, error, sizeof error), port_numbers_chosen) << error;
  EXPECT_EQ(choices[0].port, 254);
  EXPECT_EQ(choices[2].port, 253);
  const fs::path folder = ::getenv("PEKOLM_PORT_DIR");
  EXPECT_EQ(folder.parent_path(), tmp.path());
  const std::string here = fs::current_path().string();
  const std::pair<int, std::string> links[] = {
      {254, "/dev/ttyUSB0"}, {255, ports.at("com255")}, {253, here + "/relative/tty"}, {3, ports.at("com3")}};
  for (const auto& [port, target] : links) {
    EXPECT_EQ(fs::read_symlink(folder / ("com" + std::to_string(port))), target) << port;
    EXPECT_EQ(device_of(port), target) << port;
  }
  // The messages keep telling the rule as the user knows it.
  EXPECT_NE(numbers_line(3).find("PEKOLM_PORT_DIR is " + ports.path().string() + ";"), std::string::npos);
  remove_port_folder();
  EXPECT_TRUE(fs::is_empty(tmp.path()));
  EXPECT_EQ(device_of(254), "/dev/ttyUSB0");
}

}  // namespace
