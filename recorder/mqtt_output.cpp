#include "mqtt_output.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace kolmrec {
namespace {

std::string host_name() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

std::string topic_of(const BrokerAddress& address, int port, const char* leaf) {
  return address.prefix + "/com" + std::to_string(port) + "/" + leaf;
}

}  // namespace

std::unique_ptr<MqttOutput> MqttOutput::make(const Options& options, std::string& error) {
  const MqttOptions& mqtt = options.mqtt;
  if (mqtt.url.empty()) return nullptr;
  std::string url_error;
  std::optional<BrokerAddress> address = parse_broker_url(mqtt.url, url_error);
  if (!address) {
    error = "bad MQTT URL: " + url_error;
    return nullptr;
  }
  if (!address->tls && (!mqtt.ca_file.empty() || !mqtt.cert_file.empty())) {
    error = "'--mqtt-ca', '--mqtt-cert' and '--mqtt-key' need an mqtts:// URL";
    return nullptr;
  }
  BrokerSettings settings;
  if (!mqtt.user.empty()) address->username = mqtt.user;
  settings.password = address->password;
  if (!mqtt.password_file.empty()) {
    std::ifstream file(mqtt.password_file);
    std::string line;
    if (!file || !std::getline(file, line)) {
      error = "cannot read the password from '" + mqtt.password_file + "'";
      return nullptr;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    settings.password = line;
  } else if (!settings.password) {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): read before any thread starts
    if (const char* password = std::getenv("PEKOLM_MQTT_PASSWORD"); password != nullptr) settings.password = password;
  }
  if (settings.password && address->username.empty()) {
    error = "a password for the broker, but no user name (--mqtt-user or mqtt://USER@HOST/...)";
    return nullptr;
  }
  settings.ca_file = mqtt.ca_file;
  settings.cert_file = mqtt.cert_file;
  settings.key_file = mqtt.key_file;
  settings.wait_seconds = mqtt.wait_seconds;
  const std::string node = mqtt.node.empty() ? host_name() : mqtt.node;
  settings.client_id = "kolmrec-" + node + "-" + std::to_string(getpid());
  std::string destination = (address->tls ? "mqtts://" : "mqtt://") +
                            (address->username.empty() ? std::string() : address->username + "@") +
                            (address->host.find(':') != std::string::npos ? "[" + address->host + "]" : address->host) +
                            ":" + std::to_string(address->port) + "/" + address->prefix;
  settings.address = std::move(*address);
  return std::unique_ptr<MqttOutput>(new MqttOutput(options, std::move(settings), node, std::move(destination)));
}

MqttOutput::MqttOutput(const Options& options, BrokerSettings settings, std::string node, std::string destination)
    : options_(options), settings_(std::move(settings)), node_(std::move(node)), destination_(std::move(destination)) {}

bool MqttOutput::connect(const std::vector<PortDescription>& ports, const std::function<bool()>& give_up) {
  std::vector<std::uint64_t> bounds;
  ports_.assign(256, -1);
  for (std::size_t i = 0; i < ports.size(); ++i) {
    ports_.at(static_cast<std::size_t>(ports[i].port)) = static_cast<int>(i);
    // At least one block, so that a short bound still lets the newest through.
    const double samples = std::ceil(ports[i].rate_hz * options_.mqtt.queue_seconds);
    bounds.push_back(std::max<std::uint64_t>(block_samples_for(ports[i].rate_hz, options_.mqtt.block_seconds),
                                             static_cast<std::uint64_t>(samples)));
  }
  publisher_ = std::make_unique<MqttPublisher>(settings_, std::move(bounds));
  return publisher_->connect(give_up);
}

void MqttOutput::start(const RecordingDescription& recording, std::int64_t start_us) {
  blocks_ = std::make_unique<MqttBlocks>(options_.mqtt.block_seconds, recording.normalised, start_us);
  RecordingFacts facts;
  facts.node = node_;
  facts.library = library_version_text(recording.library_version);
  facts.start = iso8601_utc(start_us);
  facts.normalised = recording.normalised;
  for (const PortDescription& port : recording.ports) {
    facts.block_samples = block_samples_for(port.rate_hz, options_.mqtt.block_seconds);
    publisher_->set_retained(topic_of(settings_.address, port.port, "info"), info_json(port, facts));
  }
  publisher_->set_retained(settings_.address.prefix + "/status", "online");
}

void MqttOutput::send_ready() {
  for (auto& [port, block] : blocks_->take_ready()) {
    const auto samples = static_cast<std::uint64_t>(block.channels[0].size());
    publisher_->publish({static_cast<std::size_t>(ports_.at(static_cast<std::size_t>(port))),
                         topic_of(settings_.address, port, "values"), values_json(block), samples});
  }
}

std::uint64_t MqttOutput::finish(const std::function<bool()>& give_up,
                                 const std::function<void(const std::string&)>& say, std::vector<std::string>& notes) {
  if (!publisher_) return 0;
  std::uint64_t undelivered = 0;
  if (blocks_) {
    blocks_->flush();
    send_ready();
  }
  if (const std::size_t unsent = publisher_->unsent(); unsent != 0 && !publisher_->connected()) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", options_.mqtt.wait_seconds);
    say("waiting up to " + std::string(seconds) + " s for the broker to take " + std::to_string(unsent) +
        " blocks (Ctrl-C gives up)");
  }
  const auto [left_blocks, left_samples] = publisher_->finish(give_up);
  for (std::size_t port = 0; port < ports_.size(); ++port) {
    if (ports_[port] < 0) continue;
    const auto stream = static_cast<std::size_t>(ports_[port]);
    if (const std::uint64_t dropped = publisher_->dropped_blocks(stream); dropped != 0) {
      notes.push_back("port " + std::to_string(port) + ": " + std::to_string(dropped) + " blocks (" +
                      std::to_string(publisher_->dropped_samples(stream)) +
                      " samples) dropped from the MQTT queue while the broker could not be reached");
      undelivered += dropped;
    }
  }
  if (left_blocks != 0) {
    notes.push_back(std::to_string(left_blocks) + " blocks (" + std::to_string(left_samples) +
                    " samples) may not have reached the broker at the end");
    undelivered += left_blocks;
  }
  return undelivered;
}

}  // namespace kolmrec
