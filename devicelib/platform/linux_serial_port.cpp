// Serial ports on Linux: termios for the line, flock() for exclusive use, and two open descriptions of the
// tty: a non-blocking one for writes and everything else, and a blocking one on which the receive thread
// sleeps in read(). A blocked read costs one system call per burst of bytes, where poll() and then read()
// cost two.
//
// A blocked tty read can be ended without a signal: it gives up with EAGAIN when it wakes and finds its
// description non-blocking, and setting the line's termios (to what it already is) wakes every reader.
//
// Port n is $PEKOLM_PORT_DIR/com<n> when that variable is set (usually a link to a pty slave, as the
// simulator makes), otherwise /dev/pekolm/com<n> where that exists (the directory is a build option), and
// /dev/ttyS<n-1> where it does not.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <new>
#include <string>

#include "platform/serial_port.h"

#ifndef PEKOLM_DEFAULT_PORT_DIR
#define PEKOLM_DEFAULT_PORT_DIR "/dev/pekolm"
#endif

namespace pekolm::platform {
namespace {

constexpr const char* default_port_dir = PEKOLM_DEFAULT_PORT_DIR;

speed_t speed_for(int baud) {
  switch (baud) {
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    default:
      return B0;
  }
}

}  // namespace

std::string device_path(int port_number) {
  const std::string name = "/com" + std::to_string(port_number);
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the library never writes the environment; callers set it first
  if (const char* dir = std::getenv("PEKOLM_PORT_DIR"); dir != nullptr && *dir != '\0') return dir + name;
  // Links that udev rules make for USB adapters, so that an adapter keeps its number whatever order the
  // system finds them in. A link left dangling (the adapter unplugged) is still taken: its open then fails
  // with ENOENT rather than reaching another device.
  struct stat link {};
  if (std::string linked = default_port_dir + name; ::lstat(linked.c_str(), &link) == 0) return linked;
  return "/dev/ttyS" + std::to_string(port_number - 1);
}

namespace {

// Errors after which the port will never deliver again: an unplugged adapter, a pty whose other side
// closed.
bool went_away(int os_error) { return os_error == EIO || os_error == ENXIO || os_error == ENODEV || os_error == EBADF; }

// The exclusive mode belongs to the tty, not to the descriptor: left on, it keeps every other non-root
// opener out for as long as anything else holds the device open, this process's next activation included.
// The lock belongs to the open description, which a forked child may share until it lets go: unlocked
// here, the device is free when the release returns.
void release_tty(int fd) {
  ::ioctl(fd, TIOCNXCL);
  ::flock(fd, LOCK_UN);
  ::close(fd);
}

class PosixSerialPort final : public SerialPort {
 public:
  PosixSerialPort(int fd, int receive_fd) : fd_(fd), receive_fd_(receive_fd) {}
  ~PosixSerialPort() override {
    ::close(receive_fd_);
    release_tty(fd_);
  }

  IoResult read(std::uint8_t* destination, std::size_t max) override {
    for (;;) {
      ssize_t n = ::read(fd_, destination, max);
      if (n > 0) return {static_cast<std::size_t>(n), 0};
      if (n == 0) return {0, EIO, true};  // end of file: the device was hung up
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return {0, 0};
      return {0, errno, went_away(errno)};
    }
  }

  IoResult write(const std::uint8_t* source, std::size_t count) override {
    using namespace std::chrono;
    // The same limit as a port whose write time-out is 100 ms plus 2 ms per byte.
    const auto deadline = steady_clock::now() + milliseconds(100 + 2 * static_cast<long>(count));
    std::size_t done = 0;
    while (done < count) {
      ssize_t n = ::write(fd_, source + done, count - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) return {done, errno};
      auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
      if (left <= 0) break;
      pollfd p{fd_, POLLOUT, 0};
      if (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) return {done, errno};
      if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return {done, EIO};
    }
    // A short write is past its deadline here: what it queued is dropped now rather than leaving later.
    const std::size_t unsent = std::min(done, wait_until_sent(deadline));
    return {done - unsent, 0};
  }

  // A tty write returns once the bytes are in the kernel's buffer, even while flow control holds the line.
  // A write counts as done when the bytes have left; what is still queued at the deadline is dropped and
  // counts as not written. Returns the bytes left over.
  std::size_t wait_until_sent(std::chrono::steady_clock::time_point deadline) {
    for (;;) {
      int queued = 0;
      if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return 0;
      if (std::chrono::steady_clock::now() >= deadline) {
        ::tcflush(fd_, TCOFLUSH);
        return static_cast<std::size_t>(queued);
      }
      struct timespec pause = {0, 200000};  // 0.2 ms: a byte at 230400 baud takes 0.04 ms
      ::nanosleep(&pause, nullptr);
    }
  }

  IoResult receive(std::uint8_t* destination, std::size_t max) override {
    for (;;) {
      const ssize_t n = ::read(receive_fd_, destination, max);
      if (n > 0) return {static_cast<std::size_t>(n), 0};
      if (n == 0) return {0, EIO, true};  // end of file: the device was hung up
      if (errno == EINTR) continue;
      if (errno != EAGAIN) return {0, errno, went_away(errno)};
      // An interrupt made the description non-blocking. Blocking again before looking at the request, so
      // that one coming after the look ends the next read in turn. Without a request (an interrupt whose
      // request an earlier look took) this is only a read more.
      ::fcntl(receive_fd_, F_SETFL, 0);
      if (interrupt_requested_.exchange(false)) return {0, 0, false, true};
    }
  }

  void wait_for_interrupt() override {
    while (!interrupt_requested_.exchange(false)) interrupt_requested_.wait(false);
  }

  void interrupt_wait() override {
    interrupt_requested_ = true;
    interrupt_requested_.notify_all();
    ::fcntl(receive_fd_, F_SETFL, O_NONBLOCK);
    termios line{};
    if (::tcgetattr(fd_, &line) == 0) ::tcsetattr(fd_, TCSANOW, &line);
  }

  int purge_input() override { return ::tcflush(fd_, TCIFLUSH) == 0 ? 0 : errno; }
  // Nothing of ours is queued for output here: every write that went through waited until its bytes had
  // left, and dropped what could not leave by its deadline. Flushing the output as well would only reach
  // bytes already on their way, which on a pty are still in the kernel until the other side's read: the
  // last command before a release would be lost.
  int purge_all() override { return purge_input(); }

  // The child's descriptors share the parent's open descriptions, and with them the exclusive lock: closed
  // here, the lock goes with the parent's release. No TIOCNXCL: the exclusive mode is the tty's, the
  // parent's still.
  void forget_in_forked_child() override {
    ::close(receive_fd_);
    ::close(fd_);
  }

  bool read_cts(bool& cts_on) override {
    int status = 0;
    if (::ioctl(fd_, TIOCMGET, &status) != 0) return false;
    cts_on = (status & TIOCM_CTS) != 0;
    return true;
  }

 private:
  int fd_;
  int receive_fd_;
  std::atomic<bool> interrupt_requested_{false};
};

// Modem lines and low latency are wishes: a pty has no modem lines, and only some drivers have a latency
// timer. Neither refusing is an error.
void set_modem_lines(int fd, bool dtr, bool rts) {
  int dtr_bit = TIOCM_DTR, rts_bit = TIOCM_RTS;
  ::ioctl(fd, dtr ? TIOCMBIS : TIOCMBIC, &dtr_bit);
  ::ioctl(fd, rts ? TIOCMBIS : TIOCMBIC, &rts_bit);
}

void ask_for_low_latency(int fd) {
  // USB-serial adapters otherwise hold received bytes for their 16 ms latency timer.
  serial_struct serial{};
  if (::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
    serial.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &serial);
  }
}

int configure_line(int fd, const LineSettings& settings) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return errno;
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CREAD | CLOCAL;
  if (settings.hardware_handshake) tio.c_cflag |= CRTSCTS;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | PARMRK | IGNPAR);
  // With O_NONBLOCK, VMIN 1 makes an empty read say EAGAIN, so that a read of 0 bytes means hang-up.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  const speed_t speed = speed_for(settings.baud);
  if (speed == B0) return EINVAL;
  if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0) return errno;
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) return errno;
  // Without handshake DTR stays off and RTS on; with it DTR is on and RTS follows the flow control.
  set_modem_lines(fd, settings.hardware_handshake, true);
  ask_for_low_latency(fd);
  // The driver's queue sizes cannot be chosen on Linux: the tty layer buffers 4 KiB and more on its own.
  return 0;
}

// Opened close-on-exec and never as descriptor 0, 1 or 2: in a program started with one of those closed,
// the port would take its number and receive what the program writes to standard output or error.
int open_port_descriptor(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  const int saved_errno = errno;
  ::close(fd);
  errno = saved_errno;
  return moved;
}

// Both descriptors must lead to one tty: the wake of the receive thread sets the line through the one and
// ends the read on the other. A path that gives every open a new tty of its own (a pty multiplexer such as
// /dev/ptmx) or another tty each time fails here instead of leaving the receive thread asleep for good.
// Returns 0 or an OS error code.
int check_one_line(int fd, int receive_fd) {
  unsigned pty_number = 0;
  if (::ioctl(fd, TIOCGPTN, &pty_number) == 0) return ENOTTY;  // the master side of a pty, not a line
  struct stat first {};
  struct stat second {};
  if (::fstat(fd, &first) != 0 || ::fstat(receive_fd, &second) != 0) return errno;
  if (first.st_dev != second.st_dev || first.st_ino != second.st_ino || first.st_rdev != second.st_rdev) {
    return EBUSY;
  }
  // The tty behind the node: a multiplexing node (the console, say) may lead each open elsewhere. Kernels
  // without the request are left to the node's identity above.
  unsigned first_tty = 0;
  unsigned second_tty = 0;
  if (::ioctl(fd, TIOCGDEV, &first_tty) == 0 && ::ioctl(receive_fd, TIOCGDEV, &second_tty) == 0 &&
      first_tty != second_tty) {
    return EBUSY;
  }
  return 0;
}

}  // namespace

std::unique_ptr<SerialPort> open_system_serial_port(int port_number, const LineSettings& settings, int& os_error) {
  const std::string path = device_path(port_number);
  int fd = open_port_descriptor(path);
  if (fd < 0) {
    os_error = errno;
    return nullptr;
  }
  // TIOCEXCL keeps other non-root openers out; root ignores it, so an exclusive flock makes sure.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    os_error = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    return nullptr;
  }
  // The receive thread's description: opened before TIOCEXCL would keep this opener out too, and before the
  // line is configured, since every open raises the modem lines again. The path must still lead to the
  // same tty.
  const int receive_fd = open_port_descriptor(path);
  int error = 0;
  if (receive_fd < 0 || ::fcntl(receive_fd, F_SETFL, 0) != 0) {
    error = errno;
  } else {
    error = check_one_line(fd, receive_fd);
    if (error == 0) error = configure_line(fd, settings);
  }
  std::unique_ptr<SerialPort> port;
  if (error == 0) port.reset(new (std::nothrow) PosixSerialPort(fd, receive_fd));
  if (!port) {
    os_error = error != 0 ? error : ENOMEM;
    if (receive_fd >= 0) ::close(receive_fd);
    release_tty(fd);  // unlocked: a child forked meanwhile may share the description
    return nullptr;
  }
  ::ioctl(fd, TIOCEXCL);
  return port;
}

}  // namespace pekolm::platform
