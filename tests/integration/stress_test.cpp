// Many threads on one streaming port while the line carries garbage and broken frames; a port released
// and opened again many times. Nothing may crash, leak descriptors or threads, or hand one thread's
// answer to another.
#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "pekolm.h"
#include "simulated_amplifier.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

TEST(Stress, ConcurrentReadersAndQueriersOnANoisyStreamingPort) {
  SimulatedAmplifier amplifier(50);
  amplifier.sim().update_state([](kolmsim::AmplifierState& s) { s.rate_code = 0xAC; });  // 937.5 Hz
  // Noise between frames, but no start byte: a stray ';' or 0xA5 would shift the framing, and then no
  // protocol could tell an answer from the values around it.
  amplifier.sim().garbage_between_frames(bytes({0x00, 0x17, 0x0D, 0x0A, 0xFF}), 3);
  amplifier.activate_or_fail(230400, 4096);
  ASSERT_EQ(KolmstartTX(50), 0);

  std::atomic<bool> stop{false};
  std::atomic<int> wrong_answers{0}, failed_queries{0}, values_taken{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      double block[400];
      int count;
      while (!stop) {
        int result = KolmreadMultiple(50, 0, block, 400, &count);
        if (result == 1) values_taken += count;
        if (result == -1) KolmgetLastError(50);
        std::this_thread::sleep_for(1ms);
      }
    });
  }
  // Queries with distinct answers: each thread must get its own.
  threads.emplace_back([&] {
    while (!stop) {
      int version = KolmfirmwareVersion(50);
      if (version == -1)
        ++failed_queries;
      else if (version != 12)
        ++wrong_answers;
    }
  });
  threads.emplace_back([&] {
    while (!stop) {
      int baud = KolmgetBaudSerial(50);
      if (baud == -1)
        ++failed_queries;
      else if (baud != 115200)
        ++wrong_answers;
    }
  });
  threads.emplace_back([&] {
    while (!stop) {
      char serial[9];
      if (KolmreadSerialNo(50, serial) == -1)
        ++failed_queries;
      else if (std::string(serial) != "00012345")
        ++wrong_answers;
    }
  });
  for (int i = 0; i < 6; ++i) {
    std::this_thread::sleep_for(500ms);
    amplifier.sim().break_terminators(2);
  }
  stop = true;
  for (auto& t : threads) t.join();

  EXPECT_EQ(wrong_answers, 0);
  EXPECT_EQ(failed_queries, 0);
  EXPECT_GT(values_taken, 1000);
}

TEST(Stress, ReleaseAndActivateAgainLeaksNothing) {
  kolmsim::Options options;
  options.rate_code = 0xAE;  // 3750 Hz: the port is busy while it closes
  SimulatedAmplifier amplifier(51, options);
  ASSERT_EQ(amplifier.activate(), 0);
  ASSERT_EQ(Kolmrelease(51), 0);
  const int descriptors = count_entries("/proc/self/fd");
  const int threads = count_entries("/proc/self/task");

  for (int round = 0; round < 12; ++round) {
    ASSERT_EQ(amplifier.activate(230400, 64), 0) << round;
    double value;
    Kolmread(51, 1, &value);
    ASSERT_EQ(Kolmrelease(51), 0);
  }
  EXPECT_EQ(count_entries("/proc/self/fd"), descriptors);
  EXPECT_EQ(count_entries("/proc/self/task"), threads);
}

TEST(Stress, ManyPortsAtOnce) {
  std::vector<std::unique_ptr<SimulatedAmplifier>> amplifiers;
  for (int port = 200; port < 208; ++port) {
    kolmsim::Options options;
    options.transmitting = false;
    amplifiers.push_back(std::make_unique<SimulatedAmplifier>(port, options));
  }
  std::vector<std::thread> openers;
  std::atomic<int> opened{0};
  for (auto& amplifier : amplifiers) {
    openers.emplace_back([&opened, a = amplifier.get()] { opened += a->activate() == 0; });
  }
  for (auto& t : openers) t.join();
  EXPECT_EQ(opened, 8);
  for (int port = 200; port < 208; ++port) EXPECT_EQ(KolmgetMode(port), 1);
}

}  // namespace
