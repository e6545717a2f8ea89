// The floor of the streaming benchmarks: see plain_readers.h.
#include "plain_readers.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace bench {
namespace {

using namespace std::chrono_literals;

// Frames out of plain reads, however the reads cut them; a run of bytes that are no frame counts once.
class Assembler {
 public:
  void feed(const std::uint8_t* bytes, std::size_t n, StreamedPort& port) {
    std::memcpy(pending_ + size_, bytes, n);
    size_ += n;
    std::size_t at = 0;
    for (; size_ - at >= frame_length; ++at) {
      const std::uint8_t* f = pending_ + at;
      if (f[0] != 0xA5 || f[9] != '\r' || f[10] != '\n') {
        if (std::exchange(in_step_, false)) ++port.check.corrupted;
        continue;
      }
      in_step_ = true;
      port.check.frame({static_cast<std::uint16_t>(f[1] << 8 | f[2]), static_cast<std::uint16_t>(f[3] << 8 | f[4]),
                        static_cast<std::uint16_t>(f[5] << 8 | f[6]), static_cast<std::uint16_t>(f[7] << 8 | f[8])},
                       port.number);
      at += frame_length - 1;
    }
    std::memmove(pending_, pending_ + at, size_ - at);
    size_ -= at;
    port.seen.store(port.check.expected);
  }

 private:
  std::uint8_t pending_[256 + frame_length] = {};
  std::size_t size_ = 0;
  bool in_step_ = true;
};

void wake(int) {}

}  // namespace

bool read_plainly(const StreamedPorts& ports, double seconds, TaskUsage& used, Pacing& pacing) {
  struct sigaction action {};
  action.sa_handler = wake;  // no SA_RESTART: the signal ends a blocked read
  sigaction(SIGUSR1, &action, nullptr);
  std::atomic<bool> stop{false};
  std::atomic<std::size_t> ready{0}, exited{0}, failed{0};
  std::mutex tids_mutex;
  std::vector<pid_t> tids;
  std::vector<std::thread> readers;
  for (const auto& port : ports) {
    readers.emplace_back([&, p = port.get()] {
      {
        std::lock_guard lock(tids_mutex);
        tids.push_back(this_tid());
      }
      const int fd = open_raw(p->pty.slave_path(), false);
      if (fd < 0) ++failed;
      ++ready;
      Assembler frames;
      std::uint8_t buffer[256];
      while (fd >= 0 && !stop.load()) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
          frames.feed(buffer, static_cast<std::size_t>(n), *p);
        } else if (n == 0 || errno != EINTR) {
          break;
        }
      }
      if (fd >= 0) ::close(fd);
      ++exited;
    });
  }
  while (ready.load() < ports.size()) std::this_thread::sleep_for(1ms);
  const TaskUsage before = usage_of(tids);
  if (failed.load() == 0) {
    pacing = stream(ports, seconds);
    drain(ports);
  }
  used = usage_of(tids) - before;  // while the threads are there to ask
  stop = true;
  // A blocked read ends only by a signal, sent again in case one came just before the read began.
  while (exited.load() < ports.size()) {
    for (std::thread& reader : readers) pthread_kill(reader.native_handle(), SIGUSR1);
    std::this_thread::sleep_for(5ms);
  }
  for (std::thread& reader : readers) reader.join();
  return failed.load() == 0;
}

}  // namespace bench
