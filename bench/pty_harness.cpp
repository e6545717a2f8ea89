// The benchmarks' harness: see pty_harness.h.
#include "pty_harness.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace bench {

namespace {

[[noreturn]] void throw_errno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

bool make_raw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

std::string task_file(pid_t tid, const char* name) { return "/proc/self/task/" + std::to_string(tid) + "/" + name; }

}  // namespace

void raise_descriptor_limit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

PortDir::PortDir() {
  char name[] = "/tmp/pekolm-bench.XXXXXX";
  if (mkdtemp(name) == nullptr) throw_errno("mkdtemp");
  path_ = name;
  // NOLINTNEXTLINE(concurrency-mt-unsafe): set before any thread is started
  setenv("PEKOLM_PORT_DIR", path_.c_str(), 1);
}

PortDir::~PortDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void PortDir::link(int port, const std::string& target) const {
  const std::string name = path_ + "/com" + std::to_string(port);
  std::filesystem::remove(name);
  std::filesystem::create_symlink(target, name);
}

Pty::Pty() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) throw_errno("posix_openpt");
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
    const int error = errno;
    ::close(master_);
    throw std::system_error(error, std::generic_category(), "pty slave");
  }
  slave_path_ = name;
  held_slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  // Raw before the first byte, or the slave's line discipline would echo and translate it.
  const bool configured = held_slave_ >= 0 && make_raw(held_slave_) && make_raw(master_) &&
                          fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) == 0;
  if (!configured) {
    const int error = errno;
    if (held_slave_ >= 0) ::close(held_slave_);
    ::close(master_);
    throw std::system_error(error, std::generic_category(), "pty setup");
  }
}

Pty::~Pty() {
  ::close(held_slave_);
  ::close(master_);
}

void Pty::flush() const { tcflush(held_slave_, TCIOFLUSH); }

int open_raw(const std::string& path, bool nonblocking) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | (nonblocking ? O_NONBLOCK : 0));
  if (fd >= 0 && !make_raw(fd)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

Bytes query_answer(std::uint8_t command, std::uint8_t channel) {
  switch (command) {
    case 0x27:  // operating mode
      return answer_frame({1});
    case 0x29:  // transmission mode: continuous
      return answer_frame({0x02});
    case 0x2B:  // firmware version
      return answer_frame({12});
    case 0x1F:  // serial number
      return answer_frame({'0', '0', '0', '0', '0', '0', '0', '1'});
    case 0x16:  // data rate: 1875 Hz, the table's rate nearest to what the harness sends
      return answer_frame({0xAD});
    case 0xBB:  // display norm 1.0f
      return answer_frame({channel, 0x3F, 0x80, 0x00, 0x00});
    case 0xB5:  // unit kg
      return answer_frame({channel, 1});
    case 0xBD:  // free unit text, empty
      return answer_frame({' ', ' ', ' ', ' ', ' '});
    default:
      return {};
  }
}

bool takes_channel(std::uint8_t command) { return command == 0xBB || command == 0xB5; }

std::array<std::uint16_t, 4> counter_values(std::uint32_t counter, int port) {
  const auto high = static_cast<std::uint16_t>(counter >> 16);
  const auto low = static_cast<std::uint16_t>(counter);
  return {high, low, static_cast<std::uint16_t>(~(high ^ low) ^ port),
          static_cast<std::uint16_t>(high * 31u + low * 7u + static_cast<unsigned>(port))};
}

void encode_frame(const std::array<std::uint16_t, 4>& raw, std::uint8_t out[frame_length]) {
  out[0] = 0xA5;
  for (int c = 0; c < 4; ++c) {
    out[1 + 2 * c] = static_cast<std::uint8_t>(raw[c] >> 8);
    out[2 + 2 * c] = static_cast<std::uint8_t>(raw[c]);
  }
  out[9] = '\r';
  out[10] = '\n';
}

std::uint16_t raw_of(double value) { return static_cast<std::uint16_t>(std::lround(value * (32767.5 / 1.05)) + 32768); }

void CounterCheck::frame(const std::array<std::uint16_t, 4>& raw, int port) {
  const std::uint32_t counter = static_cast<std::uint32_t>(raw[0]) << 16 | raw[1];
  if (counter_values(counter, port) != raw) {
    ++corrupted;
    return;
  }
  ++received;
  if (counter < expected) {
    ++duplicated;
    return;
  }
  lost += counter - expected;
  expected = counter + 1;
}

void CounterCheck::add(const CounterCheck& other) {
  received += other.received;
  lost += other.lost;
  duplicated += other.duplicated;
  corrupted += other.corrupted;
}

pid_t this_tid() { return gettid(); }

std::vector<pid_t> task_ids() {
  std::vector<pid_t> tids;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
    tids.push_back(static_cast<pid_t>(std::stol(entry.path().filename().string())));
  }
  return tids;
}

TaskUsage& TaskUsage::operator+=(const TaskUsage& other) {
  cpu_seconds += other.cpu_seconds;
  read_calls = read_calls < 0 || other.read_calls < 0 ? -1 : read_calls + other.read_calls;
  return *this;
}

TaskUsage TaskUsage::operator-(const TaskUsage& earlier) const {
  return {cpu_seconds - earlier.cpu_seconds,
          read_calls < 0 || earlier.read_calls < 0 ? -1 : read_calls - earlier.read_calls};
}

namespace {

// CPU time from schedstat, in nanoseconds, where the kernel keeps it: stat counts in clock ticks and cuts
// each thread's time down to whole ticks, which loses up to a tick per thread and, over hundreds of mostly
// idle threads, most of their time.
double cpu_seconds_of(pid_t tid) {
  static const double ticks_per_second = static_cast<double>(sysconf(_SC_CLK_TCK));
  std::ifstream schedstat(task_file(tid, "schedstat"));
  if (unsigned long long ns = 0; schedstat >> ns) return static_cast<double>(ns) / 1e9;
  std::ifstream stat(task_file(tid, "stat"));
  std::string line;
  std::getline(stat, line);
  // The name in parentheses may hold blanks; utime and stime are the 12th and 13th fields after it.
  unsigned long long utime = 0, stime = 0;
  if (const auto close = line.rfind(')'); close != std::string::npos) {
    std::sscanf(line.c_str() + close + 1, " %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu %llu", &utime, &stime);
  }
  return static_cast<double>(utime + stime) / ticks_per_second;
}

long long read_calls_of(pid_t tid) {
  std::ifstream io(task_file(tid, "io"));
  std::string line;
  while (std::getline(io, line)) {
    if (line.rfind("syscr:", 0) == 0) return std::atoll(line.c_str() + 6);
  }
  return -1;
}

}  // namespace

TaskUsage usage_of(const std::vector<pid_t>& tids) {
  TaskUsage total{0, 0};
  for (pid_t tid : tids) total += TaskUsage{cpu_seconds_of(tid), read_calls_of(tid)};
  return total;
}

double percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(samples.size())));
  return samples[std::clamp<std::size_t>(rank, 1, samples.size()) - 1];
}

double microseconds(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

}  // namespace bench
