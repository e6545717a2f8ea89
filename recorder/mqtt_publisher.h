// kolmrec's connection to an MQTT broker (libmosquitto): the first connection, the retained status and
// info, the values through a bounded queue at QoS 1, reconnection with backoff, and the end. The network
// runs in libmosquitto's thread; everything here may be called from the recording's thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "block_queue.h"
#include "mqtt_url.h"

struct mosquitto;

namespace kolmrec {

struct BrokerSettings {
  BrokerAddress address;
  std::optional<std::string> password;
  std::string ca_file, cert_file, key_file;  // mqtts:// only
  std::string client_id;
  double wait_seconds = 30;  // how long the broker may be unreachable at the start, and at the end
};

class MqttPublisher {
 public:
  // `bounds`: per stream (port), the samples it may keep while the broker cannot be reached.
  MqttPublisher(BrokerSettings settings, std::vector<std::uint64_t> bounds);
  ~MqttPublisher();  // without finish(): publishes the status offline, waiting a second at the most
  MqttPublisher(const MqttPublisher&) = delete;
  MqttPublisher& operator=(const MqttPublisher&) = delete;

  // Connects, and retries for as long as the broker cannot be reached, up to the settings' wait. False with
  // error() set for a broker that cannot be used: an unknown host, a failed TLS check, a refused login, no
  // broker within the wait, or `give_up` (Ctrl-C).
  bool connect(const std::function<bool()>& give_up);
  // A retained message (status, info), sent now or once connected, and again after every reconnection:
  // a broker restarted without persistence has forgotten it.
  void set_retained(const std::string& topic, const std::string& payload);
  // Values: queued, sent as the broker takes them.
  void publish(QueuedMessage message);
  // Publishes the status `offline`, waits up to the settings' wait for what is queued to be acknowledged
  // (less where `give_up` says so), and disconnects. Returns the blocks and samples not delivered.
  std::pair<std::uint64_t, std::uint64_t> finish(const std::function<bool()>& give_up);

  // What happened to the connection since the last call ("lost the broker: ...", "connected again"), for
  // the user.
  std::vector<std::string> take_events();
  const std::string& error() const { return error_; }
  std::size_t unsent() const;  // blocks queued or not yet acknowledged
  bool connected() const;
  std::uint64_t dropped_blocks(std::size_t stream) const;
  std::uint64_t dropped_samples(std::size_t stream) const;

 private:
  static void on_connect(mosquitto* client, void* self, int result);
  static void on_disconnect(mosquitto* client, void* self, int reason);
  static void on_publish(mosquitto* client, void* self, int message_id);
  static void on_log(mosquitto* client, void* self, int level, const char* text);
  void send_waiting();   // with mutex_ held
  void send_retained();  // with mutex_ held
  std::string broker_name() const;
  std::string last_log_error() const;

  BrokerSettings settings_;
  mosquitto* client_ = nullptr;
  bool loop_started_ = false;
  std::string error_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  BlockQueue queue_;
  std::map<int, std::pair<std::size_t, std::uint64_t>> in_flight_;  // message id: stream, samples
  std::vector<std::pair<std::string, std::string>> retained_;       // topic, payload
  std::map<int, bool> retained_in_flight_;                          // ids of retained messages not acknowledged
  bool connected_ = false;
  bool ever_connected_ = false;
  std::optional<int> refused_;  // the broker's answer to a connection it refused
  // libmosquitto logs from inside the calls made under mutex_: its last error has a lock of its own.
  mutable std::mutex log_mutex_;
  std::string last_log_error_;
  std::vector<std::string> events_;
};

}  // namespace kolmrec
