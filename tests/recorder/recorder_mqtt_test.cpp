// kolmrec publishing to a real broker (mosquitto, where installed): the connection's failures and a broker
// that goes away and comes back, under the sanitizers too. What subscribers receive is checked by the Python
// package's tests, whose collector reads it.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <memory>

#include "loopback_port.h"
#include "program_run.h"
#include "simulated_amplifier.h"

namespace {

using namespace std::chrono_literals;
using testing_support::eventually;
using testing_support::file_text;
using testing_support::ProgramRun;
using testing_support::SimulatedAmplifier;

constexpr const char* kolmrec = KOLMREC_PATH;
constexpr const char* mosquitto = "/usr/sbin/mosquitto";

class RecorderMqtt : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(mosquitto, X_OK) != 0) GTEST_SKIP() << mosquitto << " is not installed";
    port_ = testing_support::free_loopback_port();
    config_ = testing::TempDir() + "/mosquitto-" + std::to_string(port_) + ".conf";
    std::ofstream(config_) << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\n";
  }
  void TearDown() override { std::remove(config_.c_str()); }
  std::unique_ptr<ProgramRun> start_broker() const {
    auto broker = std::make_unique<ProgramRun>(mosquitto, std::vector<std::string>{"-c", config_});
    EXPECT_TRUE(eventually([&] {
      const int socket_fd = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<std::uint16_t>(port_));
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      const bool listening = ::connect(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
      ::close(socket_fd);
      return listening;
    }));
    return broker;
  }
  std::string url() const { return "mqtt://127.0.0.1:" + std::to_string(port_) + "/lab/rig7"; }

  int port_ = 0;
  std::string config_;
};

TEST_F(RecorderMqtt, ABrokerThatCannotBeUsedIsAClearErrorAndOneLateAtTheStartIsWaitedFor) {
  SimulatedAmplifier amplifier(1);
  const std::vector<std::pair<std::string, std::string>> failures = {
      {"mqtt://127.0.0.1:" + std::to_string(port_) + "/a", "kolmrec: no broker at 127.0.0.1:"},
      {"mqtt://no-such-host.invalid/a", "kolmrec: unknown broker host 'no-such-host.invalid'"},
      {"mqtt://h/a/#", "kolmrec: bad MQTT URL: the topic prefix has an empty level or a wildcard"},
  };
  for (const auto& [broker_url, message] : failures) {
    ProgramRun run(kolmrec, {"--port", "1", "--seconds", "1", "--mqtt", broker_url, "--mqtt-wait", "1"});
    const auto result = run.finish();
    EXPECT_EQ(result.status, 1) << broker_url << ": " << result.err;
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
  }

  ProgramRun late(kolmrec, {"--port", "1", "--seconds", "0.5", "--mqtt", url(), "--mqtt-wait", "20"});
  std::this_thread::sleep_for(1500ms);
  const auto broker = start_broker();
  const auto result = late.finish();
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.err.find("samples from 1 port in 0.5 s (port 1 (" + testing_support::port_dir() + "/com1): "),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find(" into mqtt://127.0.0.1:" + std::to_string(port_) + "/lab/rig7, no possible losses"),
            std::string::npos)
      << result.err;
}

TEST_F(RecorderMqtt, ABrokerThatGoesAwayIsReconnectedAndTheCsvBesideItGoesOn) {
  SimulatedAmplifier amplifier(1);
  auto broker = start_broker();
  ProgramRun run(kolmrec, {"--port", "1", "--seconds", "4", "--mqtt", url(), "-o", "run.csv"});
  const std::string path = run.folder() + "/run.csv";
  ASSERT_TRUE(eventually([&] { return file_text(path).find("\n1,10,") != std::string::npos; }));
  broker->signal(SIGTERM);
  broker->finish();
  std::this_thread::sleep_for(500ms);
  broker = start_broker();
  const auto result = run.finish();
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.err.find("kolmrec: lost the broker at 127.0.0.1:"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("kolmrec: connected to the broker again"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("into run.csv and mqtt://127.0.0.1:"), std::string::npos) << result.err;
  EXPECT_NE(file_text(path).find("\n1,99,"), std::string::npos);  // 4 s at 25 Hz
}

}  // namespace
