// Publishing a recording to an MQTT broker, as kolmrec's main loop sees it: made from the command line,
// connected once the ports are open, fed by the same reads as the CSV, and ended with an account of what
// could not be delivered.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "csv_format.h"
#include "mqtt_blocks.h"
#include "mqtt_publisher.h"
#include "options.h"

namespace kolmrec {

class MqttOutput {
 public:
  // Nothing where no URL was given; else the output, or nothing with `error` set (a bad URL, TLS files
  // with a plain mqtt:// URL, a password file that cannot be read).
  static std::unique_ptr<MqttOutput> make(const Options& options, std::string& error);

  // Connects; the ports' descriptions set each port's bound of queued values. False with error().
  bool connect(const std::vector<PortDescription>& ports, const std::function<bool()>& give_up);
  // The recording starts: sample 0 of every port is at `start_us` (UTC, microseconds since 1970).
  void start(const RecordingDescription& recording, std::int64_t start_us);
  SampleSink& sink() { return *blocks_; }
  // Publishes the blocks that the reads completed.
  void send_ready();
  std::vector<std::string> take_events() { return publisher_->take_events(); }
  // Sends what is left and disconnects. Appends to `notes` what could not be delivered, and returns the
  // number of blocks it was.
  // `say` tells the user when it has to wait for the broker.
  std::uint64_t finish(const std::function<bool()>& give_up, const std::function<void(const std::string&)>& say,
                       std::vector<std::string>& notes);

  const std::string& error() const { return publisher_->error(); }
  // The URL without its password, for messages.
  const std::string& destination() const { return destination_; }

 private:
  MqttOutput(const Options& options, BrokerSettings settings, std::string node, std::string destination);

  Options options_;
  BrokerSettings settings_;
  std::string node_;
  std::string destination_;
  std::vector<int> ports_;  // the stream of each port number: its place in the recording
  std::unique_ptr<MqttPublisher> publisher_;
  std::unique_ptr<MqttBlocks> blocks_;
};

}  // namespace kolmrec
