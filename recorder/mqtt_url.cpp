// Broker URLs: see mqtt_url.h.
#include "mqtt_url.h"

#include <cctype>

namespace kolmrec {
namespace {

// Undoes %XX escapes, as URLs carry reserved characters of a user name or password; false on a broken one.
bool percent_decode(const std::string& text, std::string& decoded) {
  decoded.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded += text[i];
      continue;
    }
    if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      return false;
    }
    decoded += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
    i += 2;
  }
  return true;
}

bool valid_host_name(const std::string& host) {
  if (host.empty() || host.size() > 253) return false;
  for (char c : host) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '_') return false;
  }
  return true;
}

}  // namespace

bool valid_topic_prefix(const std::string& topic) {
  if (topic.empty() || topic.front() == '/' || topic.back() == '/') return false;
  if (topic.find("//") != std::string::npos) return false;
  return topic.find_first_of(std::string("+#\0", 3)) == std::string::npos;
}

std::optional<BrokerAddress> parse_broker_url(const std::string& url, std::string& error) {
  BrokerAddress address;
  std::string rest;
  if (url.rfind("mqtt://", 0) == 0) {
    rest = url.substr(7);
  } else if (url.rfind("mqtts://", 0) == 0) {
    address.tls = true;
    address.port = 8883;
    rest = url.substr(8);
  } else {
    error = "it must begin with mqtt:// or mqtts://";
    return std::nullopt;
  }
  const std::size_t slash = rest.find('/');
  std::string authority = rest.substr(0, slash);
  address.prefix = slash == std::string::npos ? "" : rest.substr(slash + 1);
  if (!valid_topic_prefix(address.prefix)) {
    error = address.prefix.empty() ? "it names no topic prefix (mqtt://host/prefix)"
                                   : "the topic prefix has an empty level or a wildcard (+, #)";
    return std::nullopt;
  }

  if (const std::size_t at = authority.rfind('@'); at != std::string::npos) {
    const std::string user_info = authority.substr(0, at);
    authority.erase(0, at + 1);
    const std::size_t colon = user_info.find(':');
    std::string decoded;
    if (!percent_decode(user_info.substr(0, colon), decoded) || decoded.empty()) {
      error = "the user name is empty or badly escaped";
      return std::nullopt;
    }
    address.username = decoded;
    if (colon != std::string::npos) {
      if (!percent_decode(user_info.substr(colon + 1), decoded)) {
        error = "the password is badly escaped";
        return std::nullopt;
      }
      address.password = decoded;
    }
  }

  std::string port_text;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string::npos) {
      error = "an IPv6 address lacks its closing ]";
      return std::nullopt;
    }
    address.host = authority.substr(1, close - 1);
    const std::string after = authority.substr(close + 1);
    if (!after.empty() && after.front() != ':') {
      error = "something follows the IPv6 address that is not a port";
      return std::nullopt;
    }
    if (!after.empty()) port_text = after.substr(1);
    if (address.host.empty() || address.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos) {
      error = "the IPv6 address is not one";
      return std::nullopt;
    }
  } else {
    const std::size_t colon = authority.find(':');
    address.host = authority.substr(0, colon);
    if (colon != std::string::npos) port_text = authority.substr(colon + 1);
    if (!valid_host_name(address.host)) {
      error = address.host.empty() ? "it names no host" : "the host name has characters no host name has";
      return std::nullopt;
    }
  }
  if (!port_text.empty() || (!authority.empty() && authority.back() == ':')) {
    int port = 0;
    for (char c : port_text) {
      if (!std::isdigit(static_cast<unsigned char>(c)) || port > 65535) {
        port = -1;
        break;
      }
      port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) {
      error = "the port is not a number from 1 to 65535";
      return std::nullopt;
    }
    address.port = port;
  }
  return address;
}

}  // namespace kolmrec
