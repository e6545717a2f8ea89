// Test support: see simulated_amplifier.h.
#include "simulated_amplifier.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <thread>

#include "pekolm.h"

namespace testing_support {

namespace {
struct PortDir {
  std::string path;
  PortDir() {
    char pattern[] = "/tmp/pekolm-test.XXXXXX";
    path = ::mkdtemp(pattern);
    ::setenv("PEKOLM_PORT_DIR", path.c_str(), 1);
  }
  ~PortDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};
}  // namespace

const std::string& port_dir() {
  static PortDir dir;
  return dir.path;
}

SimulatedAmplifier::SimulatedAmplifier(int port, const kolmsim::Options& options) : port_(port), simulator_(options) {
  simulator_.link_port(port_dir(), port);
}

SimulatedAmplifier::~SimulatedAmplifier() {
  Kolmrelease(port_);
  KolmgetLastError(port_);
}

int SimulatedAmplifier::activate(int baud, int buffer_size, int flags) {
  return KolmactivateExtended(port_, baud, buffer_size, flags);
}

void SimulatedAmplifier::activate_or_fail(int baud, int buffer_size, int flags) {
  ASSERT_EQ(activate(baud, buffer_size, flags), 0) << "error " << std::hex << KolmgetLastError(port_);
  forget_commands();
}

std::vector<Bytes> SimulatedAmplifier::commands() const {
  std::vector<Bytes> result;
  for (const kolmsim::CommandRecord& record : simulator_.commands()) result.push_back(record.bytes);
  return result;
}

std::vector<Bytes> SimulatedAmplifier::wait_for_commands(std::size_t count, std::chrono::milliseconds timeout) const {
  simulator_.wait_for_commands(count, timeout);
  return commands();
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

int count_entries(const char* dir) {
  int n = 0;
  if (DIR* d = ::opendir(dir)) {
    while (::readdir(d) != nullptr) ++n;
    ::closedir(d);
  }
  return n;
}

long elapsed_ms(std::chrono::steady_clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

std::vector<std::string> SimulatedAmplifier::sent_hex(std::size_t count) const {
  std::vector<std::string> text;
  for (const Bytes& command : wait_for_commands(count)) text.push_back(hex(command));
  return text;
}

void SimulatedAmplifier::answer_once(std::uint8_t command, Bytes payload) {
  simulator_.set_fault(command, kolmsim::AnswerFault{.payload = std::move(payload), .once = true});
}

Bytes bytes(std::initializer_list<int> values) {
  Bytes result;
  for (int v : values) result.push_back(static_cast<std::uint8_t>(v));
  return result;
}

std::string hex(const Bytes& data) {
  std::string text;
  char piece[4];
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::snprintf(piece, sizeof piece, i == 0 ? "%02X" : " %02X", data[i]);
    text += piece;
  }
  return text;
}

}  // namespace testing_support
