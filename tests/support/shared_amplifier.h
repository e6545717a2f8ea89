// A test suite that shares one activated amplifier (activation costs half a second of settling). Each case
// starts with no faults, no recorded commands and no pending error.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pekolm.h"
#include "simulated_amplifier.h"

namespace testing_support {

template <int Port>
class SharedAmplifier : public ::testing::Test {
 protected:
  static constexpr int port = Port;

  static void SetUpTestSuite() { open(); }
  // For suites whose amplifier starts otherwise: call from their own SetUpTestSuite.
  static void open(const kolmsim::Options& options = {}, int baud = 115200, int buffer_size = 1024) {
    amplifier = new SimulatedAmplifier(Port, options);
    amplifier->activate_or_fail(baud, buffer_size);
  }
  static void TearDownTestSuite() {
    delete amplifier;
    amplifier = nullptr;
  }
  void SetUp() override {
    amplifier->sim().clear_faults();
    amplifier->forget_commands();
    KolmgetLastError(Port);
  }

  static std::vector<std::string> sent(std::size_t count) { return amplifier->sent_hex(count); }
  // The next answer to `command` carries this payload.
  static void answer_with(std::uint8_t command, Bytes payload) { amplifier->answer_once(command, std::move(payload)); }
  // The call failed with this code.
  static void failed(int result, int code, int on_port = Port) {
    EXPECT_EQ(result, -1);
    EXPECT_EQ(KolmgetLastError(on_port), code);
  }
  // The call failed with the argument code.
  static void refused(int result, int on_port = Port) { failed(result, 0x30000100, on_port); }

  static inline SimulatedAmplifier* amplifier = nullptr;
};

// A suite's amplifier that sends measured values only when told to, at 57600 baud: for the commands on
// the wire.
template <int Port>
class QuietAmplifier : public SharedAmplifier<Port> {
 protected:
  static void SetUpTestSuite() { SharedAmplifier<Port>::open(kolmsim::Options{.transmitting = false}, 57600); }
};

}  // namespace testing_support
