// Test side of the pty: open, write, read with a deadline, split into frames.
#include "pty_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace kolmsim::testing {

SlavePort::SlavePort(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  EXPECT_GE(fd_, 0) << "open " << path;
  termios tio{};
  if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(fd_, TCSANOW, &tio);
  }
}

SlavePort::~SlavePort() {
  if (fd_ >= 0) ::close(fd_);
}

void SlavePort::write(const Bytes& bytes) {
  ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

Bytes SlavePort::read_until(const std::function<bool(const Bytes&)>& done, std::chrono::milliseconds timeout) {
  Bytes got;
  const auto deadline = Clock::now() + timeout;
  std::uint8_t buffer[4096];
  while (!done(got)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n <= 0) break;  // the line dropped
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

Bytes SlavePort::read_for(std::chrono::milliseconds span) {
  return read_until([](const Bytes&) { return false; }, span);
}

Stream parse_stream(const Bytes& b) {
  Stream s{};
  std::size_t i = 0;
  while (i < b.size()) {
    const std::size_t left = b.size() - i;
    if (b[i] == 0xA5) {
      if (left < 11) break;
      s.values.emplace_back(b.begin() + static_cast<std::ptrdiff_t>(i),
                            b.begin() + static_cast<std::ptrdiff_t>(i + 11));
      i += 11;
    } else if (b[i] == 0x3B) {
      if (left < 5 || left < std::size_t{b[i + 4]} + 10) break;
      const std::size_t n = std::size_t{b[i + 4]} + 10;
      s.answers.emplace_back(b.begin() + static_cast<std::ptrdiff_t>(i),
                             b.begin() + static_cast<std::ptrdiff_t>(i + n));
      i += n;
    } else {
      s.garbage.push_back(b[i++]);
    }
  }
  s.rest = b.size() - i;
  return s;
}

std::optional<Bytes> answer_to(std::uint8_t command, const Bytes& bytes) {
  for (const Bytes& a : parse_stream(bytes).answers) {
    if (a[1] == command) return a;
  }
  return std::nullopt;
}

}  // namespace kolmsim::testing
