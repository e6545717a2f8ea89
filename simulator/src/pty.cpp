// Pseudo-terminal and wake-up descriptors.
#include "pty.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace kolmsim {
namespace {

[[noreturn]] void throw_errno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

void make_raw(int fd, const char* what) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) throw_errno(what);
  cfmakeraw(&tio);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) throw_errno(what);
}

}  // namespace

Pty::Pty() {
  try {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) throw_errno("posix_openpt");
    if (grantpt(master_) != 0) throw_errno("grantpt");
    if (unlockpt(master_) != 0) throw_errno("unlockpt");
    char name[128];
    if (const int err = ptsname_r(master_, name, sizeof name); err != 0) {
      throw std::system_error(err, std::generic_category(), "ptsname_r");
    }
    slave_path_ = name;
    slave_keeper_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_keeper_ < 0) throw_errno("open pty slave");
    // The settings are the pair's; setting them on both ends costs nothing and does not depend on
    // which end the kernel forwards to.
    make_raw(master_, "raw mode on pty master");
    make_raw(slave_keeper_, "raw mode on pty slave");
    const int flags = fcntl(master_, F_GETFL);
    if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) throw_errno("non-blocking pty master");
  } catch (...) {
    close();
    throw;
  }
}

Pty::~Pty() { close(); }

bool Pty::runs_at(int baud) const {
  if (baud == 0) return true;
  termios tio{};
  if (slave_keeper_ < 0 || tcgetattr(slave_keeper_, &tio) != 0) return false;
  static constexpr std::pair<int, speed_t> speeds[] = {{9600, B9600},   {19200, B19200},   {38400, B38400},
                                                       {57600, B57600}, {115200, B115200}, {230400, B230400}};
  for (const auto& [rate, speed] : speeds) {
    if (rate == baud) return cfgetospeed(&tio) == speed;
  }
  return false;
}

void Pty::close() {
  if (slave_keeper_ >= 0) ::close(slave_keeper_);
  if (master_ >= 0) ::close(master_);
  slave_keeper_ = -1;
  master_ = -1;
}

Wakeup::Wakeup() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (fd_ < 0) throw_errno("eventfd");
}

Wakeup::~Wakeup() { ::close(fd_); }

void Wakeup::notify() {
  const std::uint64_t one = 1;
  // Can only fail when the counter is saturated, and then a wake-up is pending anyway.
  [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}

void Wakeup::drain() {
  std::uint64_t count;
  [[maybe_unused]] const ssize_t n = ::read(fd_, &count, sizeof count);
}

}  // namespace kolmsim
