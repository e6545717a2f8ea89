// Where kolmrec publishes: mqtt://[user[:password]@]host[:port]/prefix, or mqtts:// for TLS. The prefix is
// the topic under which every node's status and every port's info and values go.
#pragma once

#include <optional>
#include <string>

namespace kolmrec {

struct BrokerAddress {
  bool tls = false;      // mqtts://: nothing goes to the broker in the clear
  std::string username;  // empty: none
  std::optional<std::string> password;
  std::string host;  // a name, an IPv4 address, or an IPv6 address without its brackets
  int port = 1883;   // 8883 for mqtts:// unless given
  std::string prefix;
};

// Parses `url`; on a malformed one returns nothing and sets `error` to a phrase that completes
// "bad MQTT URL: ...".
std::optional<BrokerAddress> parse_broker_url(const std::string& url, std::string& error);

// Whether `topic` may stand in a topic name we publish to: levels separated by '/', none empty, no
// wildcard ('+', '#') and no NUL.
bool valid_topic_prefix(const std::string& topic);

}  // namespace kolmrec
