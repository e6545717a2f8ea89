// How fast KolmreadMultiple empties a full ring: values per second for complete sets (channel 0) and for a
// single channel, maxCount covering the whole ring. The port is in memory and hands out frames as fast as
// the receive thread asks, so that a ring of a million values per channel fills in a fraction of a second.
//
//   read_multiple_bench [--ring N (1048576)] [--repeats R (5)]
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "pekolm.h"
#include "platform/serial_port.h"
#include "pty_harness.h"

namespace {

using bench::Clock;
using namespace pekolm::platform;

constexpr int port = 1;
constexpr std::uint16_t first_value = 0x8001;

// The amplifier's side: frame bytes still to hand out, and the answers to the commands written.
struct Feed {
  std::mutex mutex;
  std::condition_variable changed;
  std::uint64_t frame_bytes_left = 0;
  std::uint64_t position = 0;  // in the endless stream of one repeated frame
  bench::Bytes answers;
  bool interrupted = false;

  void give_frames(std::uint64_t frames) {
    {
      std::lock_guard lock(mutex);
      frame_bytes_left += frames * bench::frame_length;
    }
    changed.notify_all();
  }
};

class StreamPort final : public SerialPort {
 public:
  explicit StreamPort(Feed& feed) : feed_(feed) { bench::encode_frame({first_value, 0x7FFE, 0x1234, 0xABCD}, frame_); }

  IoResult read(std::uint8_t* destination, std::size_t max) override {
    std::lock_guard lock(feed_.mutex);
    std::size_t n = 0;
    if (feed_.position % bench::frame_length == 0) {  // an answer never cuts a frame in two
      n = std::min(max, feed_.answers.size());
      std::copy_n(feed_.answers.begin(), n, destination);
      feed_.answers.erase(feed_.answers.begin(), feed_.answers.begin() + static_cast<std::ptrdiff_t>(n));
    }
    for (; n < max && feed_.frame_bytes_left > 0; ++n, ++feed_.position, --feed_.frame_bytes_left) {
      destination[n] = frame_[feed_.position % bench::frame_length];
    }
    return {n, 0};
  }

  IoResult write(const std::uint8_t* source, std::size_t count) override {
    {
      std::lock_guard lock(feed_.mutex);
      for (std::size_t i = 0; i < count; ++i) {
        const bench::Bytes answer = bench::query_answer(source[i], 0);
        feed_.answers.insert(feed_.answers.end(), answer.begin(), answer.end());
      }
    }
    feed_.changed.notify_all();
    return {count, 0};
  }

  IoResult receive(std::uint8_t* destination, std::size_t max) override {
    {
      std::unique_lock lock(feed_.mutex);
      feed_.changed.wait(lock,
                         [&] { return feed_.interrupted || feed_.frame_bytes_left > 0 || !feed_.answers.empty(); });
      if (std::exchange(feed_.interrupted, false)) return {0, 0, false, true};
    }
    return read(destination, max);
  }

  void wait_for_interrupt() override {
    std::unique_lock lock(feed_.mutex);
    feed_.changed.wait(lock, [&] { return feed_.interrupted; });
    feed_.interrupted = false;
  }

  void interrupt_wait() override {
    {
      std::lock_guard lock(feed_.mutex);
      feed_.interrupted = true;
    }
    feed_.changed.notify_all();
  }

  int purge_input() override {
    std::lock_guard lock(feed_.mutex);
    feed_.frame_bytes_left = 0;
    feed_.position = 0;
    feed_.answers.clear();
    return 0;
  }
  int purge_all() override { return purge_input(); }
  bool read_cts(bool& cts_on) override {
    cts_on = true;
    return true;
  }

 private:
  Feed& feed_;
  std::uint8_t frame_[bench::frame_length] = {};
};

// Seconds until the receive thread has stored `frames` more frames into rings emptied just before; -1 when
// they are not all there after 30 s.
double fill(Feed& feed, int frames) {
  const auto start = Clock::now();
  feed.give_frames(static_cast<std::uint64_t>(frames));
  while (Kolmreceived(port, 0) < frames) {
    if (Clock::now() - start > std::chrono::seconds(30)) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Rate {
  const char* name;
  std::vector<double> per_second;  // values per second, one per repeat
  double median() const { return bench::percentile(per_second, 50); }
  double best() const { return bench::percentile(per_second, 100); }
};

// Times one KolmreadMultiple over the whole ring; false when it did not deliver all of it, correctly.
bool time_read(int channel, std::vector<double>& values, int wanted, Rate& rate) {
  int count = 0;
  const auto start = Clock::now();
  const int result = KolmreadMultiple(port, channel, values.data(), wanted, &count);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  rate.per_second.push_back(count / seconds);
  std::printf("  %-24s %9d values in %8.3f ms: %7.1f M values/s\n", rate.name, count, seconds * 1e3,
              count / seconds / 1e6);
  return result == 1 && count == wanted && bench::raw_of(values[0]) == first_value;
}

}  // namespace

int main(int argc, char** argv) {
  int ring = 1 << 20, repeats = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--ring") == 0) ring = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--repeats") == 0) repeats = std::atoi(argv[i + 1]);
  }
  if (argc % 2 == 0 || ring < 1 || ring > (1 << 26) || repeats < 1) {
    std::fprintf(stderr, "usage: %s [--ring 1..67108864] [--repeats R]\n", argv[0]);
    return 1;
  }
  Feed feed;
  set_port_opener([&feed](int, const LineSettings&, int&) { return std::make_unique<StreamPort>(feed); });
  if (KolmactivateExtended(port, 230400, ring, 0) != 0) {
    std::fprintf(stderr, "activation failed: 0x%X\n", KolmgetLastError(port));
    return 1;
  }

  std::vector<double> values(static_cast<std::size_t>(ring) * 4);
  Rate sets{"channel 0 (sets of four)", {}}, single{"channel 1", {}};
  std::vector<double> fill_rates;
  bool all_read = true;
  for (int r = 0; r < repeats; ++r) {
    std::printf("repeat %d\n", r + 1);
    for (int channel : {0, 1}) {
      KolmclearDLLbuffer(port);  // after channel 1 the other three are still full
      const double seconds = fill(feed, ring);
      if (seconds < 0) {
        std::fprintf(stderr, "the ring did not fill: %d of %d sets\n", Kolmreceived(port, 0), ring);
        return 2;
      }
      fill_rates.push_back(ring / seconds);
      std::printf("  ring of %d filled in %.3f s (%.2f M frames/s)\n", ring, seconds, ring / seconds / 1e6);
      all_read = time_read(channel, values, channel == 0 ? 4 * ring : ring, channel == 0 ? sets : single) && all_read;
    }
  }
  Kolmrelease(port);
  set_port_opener({});

  const double fill_median = bench::percentile(fill_rates, 50);
  std::printf("median: %s %.1f M values/s, %s %.1f M values/s; receive thread stores %.2f M frames/s\n", sets.name,
              sets.median() / 1e6, single.name, single.median() / 1e6, fill_median / 1e6);
  std::printf(
      "SUMMARY read_multiple ring=%d repeats=%d ch0_mvalues_per_s=%.1f ch0_best=%.1f ch1_mvalues_per_s=%.1f "
      "ch1_best=%.1f fill_mframes_per_s=%.2f complete=%d\n",
      ring, repeats, sets.median() / 1e6, sets.best() / 1e6, single.median() / 1e6, single.best() / 1e6,
      fill_median / 1e6, all_read ? 1 : 0);
  return all_read ? 0 : 2;
}
