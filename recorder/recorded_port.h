// One amplifier being recorded, through the library's public interface only: activation, the facts for the
// header, taking the samples that arrived, and release.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "csv_format.h"
#include "options.h"
#include "sample_clock.h"
#include "sample_sink.h"

namespace kolmrec {

class RecordedPort {
 public:
  RecordedPort(PortRequest request, bool normalised, bool host_time);
  ~RecordedPort();  // releases the port
  RecordedPort(const RecordedPort&) = delete;
  RecordedPort& operator=(const RecordedPort&) = delete;

  // Activates the port and asks the amplifier what the header tells. False with error() set (the port is
  // then closed). Items the amplifier cannot give are left empty and noted in warnings().
  bool open();
  // Starts the transmission where it is off and empties the value buffers: sample 0 comes after this.
  void start();
  // Hands the samples that have arrived to `sink`, up to the index `limit` at the most; `host_seconds`
  // is now on the host's monotonic clock, since the start. Notes a value buffer found full and damaged frames
  // as possible losses; after a buffer found full the index moves on by the samples the clock says were
  // lost. A port that stopped working ends (ended()).
  void take(SampleSink& sink, std::uint64_t limit, double host_seconds);
  // Stops a transmission that start() started, and releases the port.
  void close();

  const PortDescription& description() const { return description_; }
  const std::string& error() const { return error_; }
  // Beside error(), where the port's number led to a device that is not there or did not answer: how the
  // numbers map. Empty otherwise.
  const std::string& hint() const { return hint_; }
  std::vector<std::string> take_warnings();
  std::uint64_t samples() const { return samples_; }                // rows written
  std::uint64_t next_index() const { return clock_.next_index(); }  // rows written and samples lost
  std::uint64_t estimated_lost() const { return estimated_lost_; }
  std::uint64_t buffer_found_full() const { return buffer_found_full_; }
  std::uint64_t damaged_frames() const { return damaged_frames_; }
  std::uint64_t possible_losses() const { return buffer_found_full_ + damaged_frames_; }
  bool ended() const { return ended_; }

  // Values kept per channel: ten seconds at the most the line carries, against reads every few milliseconds.
  static int buffer_size_for(int baud);

 private:
  std::string failure(const std::string& what) const;

  PortRequest request_;
  bool normalised_;
  bool host_time_;
  bool open_ = false;
  bool started_transmission_ = false;
  bool ended_ = false;
  int buffer_size_;
  PortDescription description_;
  std::array<double, 4> factors_{1, 1, 1, 1};
  std::vector<double> values_;
  SampleClock clock_{0};
  std::uint64_t samples_ = 0, buffer_found_full_ = 0, damaged_frames_ = 0, estimated_lost_ = 0;
  std::string label_;  // "port 3", or "port 255 (/dev/ttyUSB0)"
  std::string error_;
  std::string hint_;
  std::vector<std::string> warnings_;
};

}  // namespace kolmrec
