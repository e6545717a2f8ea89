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

  static void SetUpTestSuite() {
    amplifier = new SimulatedAmplifier(Port);
    amplifier->activate_or_fail();
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
  // The call failed with the argument code.
  static void refused(int result, int on_port = Port) {
    EXPECT_EQ(result, -1);
    EXPECT_EQ(KolmgetLastError(on_port), 0x30000100);
  }

  static inline SimulatedAmplifier* amplifier = nullptr;
};

}  // namespace testing_support
