#include "mqtt_publisher.h"

#include <mosquitto.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <system_error>
#include <thread>

namespace kolmrec {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Messages of values handed to libmosquitto and not yet acknowledged: enough to keep a broker across a
// network busy, few enough that the bounded queue, not libmosquitto's own, holds what waits.
constexpr std::size_t send_window = 64;
constexpr int keepalive_seconds = 30;
// Beyond a slow broker's answer, for one reached within the wait.
constexpr auto connack_wait = 10s;
// At the end of a recording that failed: time for the broker to take the status offline.
constexpr auto offline_wait = 1s;

std::once_flag library_initialised;

// Errors of a connection that may go away by themselves: no broker yet, or a network not yet up.
bool worth_retrying(int error_number) {
  return error_number == ECONNREFUSED || error_number == ETIMEDOUT || error_number == EHOSTUNREACH ||
         error_number == ENETUNREACH || error_number == ECONNRESET || error_number == EAGAIN ||
         error_number == EINPROGRESS;
}

// "OpenSSL Error[0]: error:0A000086:SSL routines::certificate verify failed" says "certificate verify
// failed"; empty for a log line that is not OpenSSL's.
std::string tls_failure(const std::string& logged) {
  if (logged.rfind("OpenSSL Error", 0) != 0) return {};
  const std::size_t reason = logged.rfind(':');
  return reason == std::string::npos ? logged : logged.substr(reason + 1);
}

std::string seconds_text(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", seconds);
  return text;
}

// "Connection Refused: not authorised." says "not authorised".
std::string refusal_text(int result) {
  std::string text = mosquitto_connack_string(result);
  if (const std::size_t colon = text.find(": "); colon != std::string::npos) text.erase(0, colon + 2);
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

}  // namespace

MqttPublisher::MqttPublisher(BrokerSettings settings, std::vector<std::uint64_t> bounds)
    : settings_(std::move(settings)), queue_(std::move(bounds)) {
  std::call_once(library_initialised, [] { mosquitto_lib_init(); });
}

MqttPublisher::~MqttPublisher() {
  if (client_ == nullptr) return;
  if (loop_started_) {
    // A recording that ended in a failure, without finish(): a clean disconnect keeps the broker from
    // publishing the will, so the status says offline here.
    set_retained(settings_.address.prefix + "/status", "offline");
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, offline_wait, [&] { return retained_in_flight_.empty() || !connected_; });
    lock.unlock();
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
  }
  mosquitto_destroy(client_);
}

std::string MqttPublisher::broker_name() const {
  const BrokerAddress& address = settings_.address;
  const bool ipv6 = address.host.find(':') != std::string::npos;
  return (ipv6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

bool MqttPublisher::connect(const std::function<bool()>& give_up) {
  const BrokerAddress& address = settings_.address;
  client_ = mosquitto_new(settings_.client_id.c_str(), true, this);
  if (client_ == nullptr) {
    error_ = "cannot make an MQTT client: " + std::generic_category().message(errno);
    return false;
  }
  mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_connect_callback_set(client_, on_connect);
  mosquitto_disconnect_callback_set(client_, on_disconnect);
  mosquitto_publish_callback_set(client_, on_publish);
  mosquitto_log_callback_set(client_, on_log);
  mosquitto_max_inflight_messages_set(client_, 0);  // the window is ours
  mosquitto_reconnect_delay_set(client_, 1, 30, true);
  const std::string status_topic = address.prefix + "/status";
  // A node that crashes or loses its network shows as offline: the broker publishes this in its stead.
  mosquitto_will_set(client_, status_topic.c_str(), 7, "offline", 1, true);
  if (!address.username.empty()) {
    mosquitto_username_pw_set(client_, address.username.c_str(),
                              settings_.password ? settings_.password->c_str() : nullptr);
  }
  if (address.tls) {
    const char* ca_file = settings_.ca_file.empty() ? nullptr : settings_.ca_file.c_str();
    const int set = mosquitto_tls_set(client_, ca_file, ca_file == nullptr ? "/etc/ssl/certs" : nullptr,
                                      settings_.cert_file.empty() ? nullptr : settings_.cert_file.c_str(),
                                      settings_.key_file.empty() ? nullptr : settings_.key_file.c_str(), nullptr);
    if (set != MOSQ_ERR_SUCCESS) {
      error_ = "cannot use the TLS files: " + std::string(mosquitto_strerror(set));
      return false;
    }
    // The broker's certificate is checked against the CA, and its name against the URL's host.
    mosquitto_tls_opts_set(client_, 1, nullptr, nullptr);
    mosquitto_tls_insecure_set(client_, false);
  }

  // The first connection in this thread, so that a broker that cannot be used is told apart from one
  // that is not there yet; after it, libmosquitto's thread reconnects by itself.
  const auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(settings_.wait_seconds));
  auto pause = 250ms;
  for (;;) {
    {
      std::lock_guard lock(log_mutex_);
      last_log_error_.clear();
    }
    const int result = mosquitto_connect(client_, address.host.c_str(), address.port, keepalive_seconds);
    if (result == MOSQ_ERR_SUCCESS) break;
    const int error_number = errno;
    if (result == MOSQ_ERR_EAI) {
      error_ = "unknown broker host '" + address.host + "'";
      return false;
    }
    if (result == MOSQ_ERR_TLS) {
      const std::string failure = tls_failure(last_log_error());
      error_ = "TLS with the broker at " + broker_name() + " failed" + (failure.empty() ? "" : ": " + failure);
      return false;
    }
    if (result != MOSQ_ERR_ERRNO || !worth_retrying(error_number)) {
      error_ = "cannot connect to the broker at " + broker_name() + ": " +
               (result == MOSQ_ERR_ERRNO ? std::generic_category().message(error_number)
                                         : std::string(mosquitto_strerror(result)));
      return false;
    }
    if (Clock::now() + pause > deadline || give_up()) {
      error_ = "no broker at " + broker_name() + " (" + std::generic_category().message(error_number) + ")";
      return false;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min<std::chrono::milliseconds>(pause * 2, 4s);
  }
  if (const int started = mosquitto_loop_start(client_); started != MOSQ_ERR_SUCCESS) {
    error_ = "cannot start the MQTT client's thread: " + std::string(mosquitto_strerror(started));
    return false;
  }
  loop_started_ = true;
  // Only a broker on this machine answers the connection at once; elsewhere the connection, the TLS handshake
  // and the broker's answer complete in libmosquitto's thread, which retries a broker not up yet. A failed TLS
  // check shows only in its log.
  const auto connack_deadline = std::max(deadline, Clock::now() + connack_wait);
  std::unique_lock lock(mutex_);
  while (!connected_ && !refused_ && Clock::now() < connack_deadline && !give_up()) {
    if (const std::string failure = tls_failure(last_log_error()); !failure.empty()) {
      error_ = "TLS with the broker at " + broker_name() + " failed: " + failure;
      return false;
    }
    changed_.wait_for(lock, 20ms);
  }
  if (refused_) {
    error_ = "the broker at " + broker_name() + " refused the connection: " + refusal_text(*refused_);
    return false;
  }
  if (!connected_ && give_up()) {
    error_ = "interrupted while waiting for the broker at " + broker_name();
    return false;
  }
  if (!connected_) {
    const std::string logged = last_log_error();
    error_ = "no answer from a broker at " + broker_name() + " within " + seconds_text(settings_.wait_seconds) +
             (logged.empty() ? std::string() : " (" + logged + ")");
    return false;
  }
  return true;
}

void MqttPublisher::set_retained(const std::string& topic, const std::string& payload) {
  std::lock_guard lock(mutex_);
  bool replaced = false;
  for (auto& [known_topic, known_payload] : retained_) {
    if (known_topic == topic) {
      known_payload = payload;
      replaced = true;
    }
  }
  if (!replaced) retained_.emplace_back(topic, payload);
  if (!connected_) return;
  int message_id = 0;
  if (mosquitto_publish(client_, &message_id, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                        true) == MOSQ_ERR_SUCCESS) {
    retained_in_flight_[message_id] = true;
  }
}

void MqttPublisher::send_retained() {
  for (const auto& [topic, payload] : retained_) {
    int message_id = 0;
    if (mosquitto_publish(client_, &message_id, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                          true) == MOSQ_ERR_SUCCESS) {
      retained_in_flight_[message_id] = true;
    }
  }
}

void MqttPublisher::publish(QueuedMessage message) {
  std::lock_guard lock(mutex_);
  queue_.push(std::move(message));
  send_waiting();
}

void MqttPublisher::send_waiting() {
  while (connected_ && queue_.in_flight() < send_window) {
    std::optional<QueuedMessage> message = queue_.next();
    if (!message) return;
    int message_id = 0;
    const int result = mosquitto_publish(client_, &message_id, message->topic.c_str(),
                                         static_cast<int>(message->payload.size()), message->payload.data(), 1, false);
    // A QoS 1 message refused for want of a connection is kept by libmosquitto all the same, and sent
    // after the reconnection under its id: it is in flight.
    if (result != MOSQ_ERR_SUCCESS && result != MOSQ_ERR_NO_CONN) {
      queue_.put_back(std::move(*message));
      return;
    }
    in_flight_[message_id] = {message->stream, message->samples};
    if (result == MOSQ_ERR_NO_CONN) return;
  }
}

std::pair<std::uint64_t, std::uint64_t> MqttPublisher::finish(const std::function<bool()>& give_up) {
  if (client_ == nullptr || !loop_started_) return {0, 0};
  const auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(settings_.wait_seconds));
  std::unique_lock lock(mutex_);
  // The values first: a subscriber that takes offline for the end must have had them all.
  while (!(queue_.empty() && connected_) && Clock::now() < deadline && !give_up()) changed_.wait_for(lock, 50ms);
  lock.unlock();
  set_retained(settings_.address.prefix + "/status", "offline");
  lock.lock();
  while (!(retained_in_flight_.empty() && connected_) && Clock::now() < deadline && !give_up()) {
    changed_.wait_for(lock, 50ms);
  }
  // What is still queued, or handed on without an acknowledgement, may not have reached the broker.
  std::pair<std::uint64_t, std::uint64_t> left{0, 0};
  while (std::optional<QueuedMessage> message = queue_.next()) {
    ++left.first;
    left.second += message->samples;
  }
  for (const auto& [message_id, stream_samples] : in_flight_) {
    ++left.first;
    left.second += stream_samples.second;
  }
  lock.unlock();
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, false);
  loop_started_ = false;
  return left;
}

std::size_t MqttPublisher::unsent() const {
  std::lock_guard lock(mutex_);
  return queue_.waiting() + queue_.in_flight();
}

bool MqttPublisher::connected() const {
  std::lock_guard lock(mutex_);
  return connected_;
}

std::vector<std::string> MqttPublisher::take_events() {
  std::lock_guard lock(mutex_);
  return std::exchange(events_, {});
}

std::uint64_t MqttPublisher::dropped_blocks(std::size_t stream) const {
  std::lock_guard lock(mutex_);
  return queue_.dropped_blocks(stream);
}

std::uint64_t MqttPublisher::dropped_samples(std::size_t stream) const {
  std::lock_guard lock(mutex_);
  return queue_.dropped_samples(stream);
}

void MqttPublisher::on_connect(mosquitto* /*client*/, void* self, int result) {
  auto& publisher = *static_cast<MqttPublisher*>(self);
  std::lock_guard lock(publisher.mutex_);
  if (result != 0) {
    if (!publisher.ever_connected_) {
      publisher.refused_ = result;
    } else {
      publisher.events_.push_back("the broker refused to take the connection again: " + refusal_text(result));
    }
    publisher.changed_.notify_all();
    return;
  }
  if (publisher.ever_connected_) publisher.events_.push_back("connected to the broker again");
  publisher.ever_connected_ = true;
  publisher.connected_ = true;
  publisher.retained_in_flight_.clear();
  publisher.send_retained();
  publisher.send_waiting();
  publisher.changed_.notify_all();
}

void MqttPublisher::on_disconnect(mosquitto* /*client*/, void* self, int reason) {
  auto& publisher = *static_cast<MqttPublisher*>(self);
  std::lock_guard lock(publisher.mutex_);
  const bool was_connected = std::exchange(publisher.connected_, false);
  if (reason != 0 && was_connected) {
    const std::string logged = publisher.last_log_error();
    publisher.events_.push_back("lost the broker at " + publisher.broker_name() + " (" +
                                (logged.empty() ? std::string(mosquitto_strerror(reason)) : logged) +
                                "); the values wait for it");
  }
  publisher.changed_.notify_all();
}

void MqttPublisher::on_publish(mosquitto* /*client*/, void* self, int message_id) {
  auto& publisher = *static_cast<MqttPublisher*>(self);
  std::lock_guard lock(publisher.mutex_);
  if (const auto found = publisher.in_flight_.find(message_id); found != publisher.in_flight_.end()) {
    publisher.queue_.acknowledged(found->second.first, found->second.second);
    publisher.in_flight_.erase(found);
    publisher.send_waiting();
  } else {
    publisher.retained_in_flight_.erase(message_id);
  }
  publisher.changed_.notify_all();
}

void MqttPublisher::on_log(mosquitto* /*client*/, void* self, int level, const char* text) {
  if ((level & MOSQ_LOG_ERR) == 0 || text == nullptr) return;
  auto& publisher = *static_cast<MqttPublisher*>(self);
  std::lock_guard lock(publisher.log_mutex_);
  publisher.last_log_error_ = text;
}

std::string MqttPublisher::last_log_error() const {
  std::lock_guard lock(log_mutex_);
  return last_log_error_;
}

}  // namespace kolmrec
