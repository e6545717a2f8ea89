// kolmrec's MQTT pieces that need no broker: the URL, the payloads, the blocks and the bounded queue.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "block_queue.h"
#include "mqtt_blocks.h"
#include "mqtt_payload.h"
#include "mqtt_url.h"
#include "options.h"

namespace {

using kolmrec::parse_broker_url;

TEST(MqttUrl, PartsAreTakenApartAndDefaultsApply) {
  std::string error;
  const auto plain = parse_broker_url("mqtt://broker.lab:1884/lab/rig7", error);
  ASSERT_TRUE(plain) << error;
  EXPECT_FALSE(plain->tls);
  EXPECT_EQ(plain->host, "broker.lab");
  EXPECT_EQ(plain->port, 1884);
  EXPECT_EQ(plain->prefix, "lab/rig7");
  EXPECT_TRUE(plain->username.empty());
  EXPECT_FALSE(plain->password);

  // Reserved characters of a user name or password come escaped; an IPv6 address in brackets.
  const auto secure = parse_broker_url("mqtts://rig%40lab:p%3Aw@[::1]/a", error);
  ASSERT_TRUE(secure) << error;
  EXPECT_TRUE(secure->tls);
  EXPECT_EQ(secure->port, 8883);
  EXPECT_EQ(secure->host, "::1");
  EXPECT_EQ(secure->username, "rig@lab");
  EXPECT_EQ(secure->password, "p:w");
  EXPECT_EQ(parse_broker_url("mqtt://h/p", error)->port, 1883);
}

TEST(MqttUrl, MalformedOnesSayWhatIsWrong) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"http://h/p", "must begin with mqtt:// or mqtts://"},
      {"mqtt://h", "names no topic prefix"},
      {"mqtt://h/", "names no topic prefix"},
      {"mqtt://h/a//b", "empty level or a wildcard"},
      {"mqtt://h/a/#", "empty level or a wildcard"},
      {"mqtt://h/a/+/b", "empty level or a wildcard"},
      {"mqtt://h/a/", "empty level or a wildcard"},
      {"mqtt:///p", "names no host"},
      {"mqtt://h st/p", "characters no host name has"},
      {"mqtt://h:0/p", "port is not a number from 1 to 65535"},
      {"mqtt://h:65536/p", "port is not a number from 1 to 65535"},
      {"mqtt://h:/p", "port is not a number"},
      {"mqtt://h:1x/p", "port is not a number"},
      {"mqtt://[::1/p", "lacks its closing ]"},
      {"mqtt://[::1]x/p", "not a port"},
      {"mqtt://@h/p", "user name is empty"},
      {"mqtt://u%zz@h/p", "badly escaped"},
      {"mqtt://u:%4@h/p", "password is badly escaped"},
  };
  for (const auto& [url, message] : cases) {
    std::string error;
    EXPECT_FALSE(parse_broker_url(url, error)) << url;
    EXPECT_NE(error.find(message), std::string::npos) << url << ": " << error;
  }
}

TEST(MqttPayload, TimesAreUtcWithMicroseconds) {
  const std::vector<std::pair<std::int64_t, std::string>> cases = {
      {0, "1970-01-01T00:00:00.000000Z"},
      {1796832600123456, "2026-12-09T16:10:00.123456Z"},
      {-1, "1969-12-31T23:59:59.999999Z"},
      {951782400000000, "2000-02-29T00:00:00.000000Z"},
  };
  for (const auto& [microseconds, text] : cases) EXPECT_EQ(kolmrec::iso8601_utc(microseconds), text);
}

// A subscriber must read back the very doubles the library handed out.
TEST(MqttPayload, NumbersReadBackExactlyAndTextsAreEscaped) {
  for (const double value : {0.1, 1.0 / 3, -2.5e-300, 1e21, 123456789.0, -0.0}) {
    EXPECT_EQ(std::stod(kolmrec::json_number(value)), value) << kolmrec::json_number(value);
  }
  EXPECT_EQ(kolmrec::json_number(std::nan("")), "null");
  EXPECT_EQ(kolmrec::json_number(std::numeric_limits<double>::infinity()), "null");

  kolmrec::ValuesBlock block;
  block.sequence = 7;
  block.first_index = 1400;
  block.rate_hz = 1875;
  block.first_time_us = 0;
  block.channels = {{{0.5, 2}, {0.25, -1}, {0, 1e-5}, {3, 4}}};
  EXPECT_EQ(kolmrec::values_json(block),
            "{\"seq\":7,\"first_index\":1400,\"rate_hz\":1875,\"time\":\"1970-01-01T00:00:00.000000Z\","
            "\"normalised\":false,\"ch1\":[0.5,2],\"ch2\":[0.25,-1],\"ch3\":[0,1e-05],\"ch4\":[3,4]}");

  kolmrec::PortDescription port;
  port.port = 3;
  port.baud = 230400;
  port.rate_hz = 1875;
  port.norms = {0.1, 1, 2, 3};
  port.units = {"\xC2\xB5m/m", "a\"b", "c\\d", "\x01"};
  port.unit_codes = {6, -1, 0, 29};
  const std::string info = kolmrec::info_json(port, {"rig7", "1.9", "2026-12-09T16:10:00.000000Z", true, 188});
  for (const char* part : {"\"port\":3", "\"norms\":[0.1,1,2,3]", "\"units\":[6,null,0,29]",
                           "\"unit_texts\":[\"\xC2\xB5m/m\",\"a\\\"b\",\"c\\\\d\",\"\\u0001\"]",
                           "\"values\":\"normalised\"", "\"block_samples\":188", "\"node\":\"rig7\""}) {
    EXPECT_NE(info.find(part), std::string::npos) << part << " in " << info;
  }
}

// Blocks hold a fixed number of samples, carry their first sample's time by the index, and never span a
// jump of the index (a value buffer found full).
TEST(MqttBlocks, BlocksAreWholeInOrderAndSplitWhereValuesAreMissing) {
  EXPECT_EQ(kolmrec::block_samples_for(1875, 0.1), 188u);
  EXPECT_EQ(kolmrec::block_samples_for(25, 0.01), 1u);

  kolmrec::MqttBlocks blocks(0.1, false, 1'000'000);
  kolmrec::PortDescription port;
  port.port = 2;
  port.rate_hz = 40;  // four samples per block
  const std::array<double, 4> factors{1, 2, 1, 1};
  std::vector<double> values;
  for (int k = 0; k < 10; ++k) values.insert(values.end(), {double(k), double(k), 0, 0});
  blocks.samples({port, 0, values.data(), 6, factors, std::nullopt});
  blocks.samples({port, 6, values.data() + 24, 1, factors, std::nullopt});
  blocks.loss(2, 20, 13);
  blocks.samples({port, 20, values.data() + 28, 3, factors, std::nullopt});
  blocks.flush();
  const auto ready = blocks.take_ready();
  ASSERT_EQ(ready.size(), 3u);
  const std::vector<std::tuple<std::uint64_t, std::uint64_t, std::size_t, std::int64_t>> expected = {
      {0, 0, 4, 1'000'000}, {1, 4, 3, 1'100'000}, {2, 20, 3, 1'500'000}};
  for (std::size_t i = 0; i < ready.size(); ++i) {
    const auto& [sequence, first, size, time] = expected[i];
    const kolmrec::ValuesBlock& block = ready[i].second;
    EXPECT_EQ(ready[i].first, 2);
    EXPECT_EQ(block.sequence, sequence);
    EXPECT_EQ(block.first_index, first);
    EXPECT_EQ(block.channels[1].size(), size);
    EXPECT_EQ(block.first_time_us, time);
  }
  EXPECT_EQ(ready[1].second.channels[0][0], 4);
  EXPECT_EQ(ready[1].second.channels[1][2], 12);  // sample 6, times the factor 2
}

TEST(BlockQueue, OverTheBoundTheOldestAreDroppedAndCounted) {
  kolmrec::BlockQueue queue({10, 100});
  auto message = [](std::size_t stream, int number, std::uint64_t samples) {
    return kolmrec::QueuedMessage{stream, "t", std::to_string(number), samples};
  };
  for (int number = 0; number < 5; ++number) queue.push(message(0, number, 4));
  queue.push(message(1, 100, 4));
  // Stream 0 keeps its newest two (8 of 10 samples); stream 1 is untouched.
  EXPECT_EQ(queue.dropped_blocks(0), 3u);
  EXPECT_EQ(queue.dropped_samples(0), 12u);
  EXPECT_EQ(queue.dropped_blocks(1), 0u);
  // The streams take turns; a message in flight counts against its bound but is never dropped.
  EXPECT_EQ(queue.next()->payload, "3");
  EXPECT_EQ(queue.next()->payload, "100");
  queue.push(message(0, 5, 4));
  queue.push(message(0, 6, 4));
  EXPECT_EQ(queue.dropped_blocks(0), 5u);
  EXPECT_EQ(queue.next()->payload, "6");
  EXPECT_FALSE(queue.next());
  // A message refused on its way out waits again, first.
  queue.push(message(1, 101, 4));
  queue.put_back(*queue.next());
  EXPECT_EQ(queue.next()->payload, "101");
  EXPECT_EQ(queue.in_flight(), 4u);
  for (const std::size_t stream : {0, 1, 0, 1}) queue.acknowledged(stream, 4);
  EXPECT_TRUE(queue.empty());
  // A message larger than its bound still goes.
  queue.push(message(0, 7, 50));
  EXPECT_EQ(queue.next()->payload, "7");
}

TEST(RecorderOptions, MqttSettingsAreTaken) {
  const auto parsed = kolmrec::parse_arguments({"--port",
                                                "1",
                                                "--mqtt",
                                                "mqtts://h/p",
                                                "--mqtt-user",
                                                "rig",
                                                "--mqtt-password-file",
                                                "pw",
                                                "--mqtt-ca=ca.pem",
                                                "--mqtt-cert",
                                                "c.pem",
                                                "--mqtt-key",
                                                "k.pem",
                                                "--mqtt-node",
                                                "n",
                                                "--mqtt-block",
                                                "0.25",
                                                "--mqtt-queue",
                                                "5",
                                                "--mqtt-wait",
                                                "2"});
  ASSERT_TRUE(parsed.options) << parsed.error;
  const kolmrec::MqttOptions& mqtt = parsed.options->mqtt;
  EXPECT_EQ(mqtt.url, "mqtts://h/p");
  EXPECT_EQ(mqtt.user + mqtt.password_file + mqtt.ca_file + mqtt.cert_file + mqtt.key_file + mqtt.node,
            "rigpwca.pemc.pemk.pemn");
  EXPECT_EQ(mqtt.block_seconds, 0.25);
  EXPECT_EQ(mqtt.queue_seconds, 5);
  EXPECT_EQ(mqtt.wait_seconds, 2);
  EXPECT_FALSE(parsed.options->output_given);
}

}  // namespace
