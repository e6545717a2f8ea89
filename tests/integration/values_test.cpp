// Taking measured values out of the library: frames injected on the simulated line, read back through
// every read operation. One port for the whole binary, emptied before each case.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "pekolm.h"
#include "shared_amplifier.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

class Values : public SharedAmplifier<31> {
 protected:
  static void SetUpTestSuite() { open(kolmsim::Options{.transmitting = false}, 115200, 3); }
  void SetUp() override {
    SharedAmplifier::SetUp();
    ASSERT_EQ(KolmclearDLLbuffer(port), 0);
  }

  // Injects frames and waits until the library holds `expected` complete sets.
  static void arrive(std::initializer_list<Bytes> frames, int expected) {
    for (const Bytes& frame : frames) amplifier->sim().inject(frame);
    ASSERT_TRUE(eventually([&] { return Kolmreceived(port, 0) == expected; })) << Kolmreceived(port, 0);
  }
};

TEST_F(Values, NothingThereRightAfterAClear) {
  EXPECT_EQ(Kolmreceived(port, 0), 0);
  EXPECT_EQ(Kolmreceived(port, 5), 0);
  double value = 42.0;
  EXPECT_EQ(Kolmread(port, 1, &value), 0);
  EXPECT_EQ(value, 42.0);
  int count = -1;
  double block[4];
  EXPECT_EQ(KolmreadMultiple(port, 0, block, 4, &count), 0);
  EXPECT_EQ(count, 0);
}

TEST_F(Values, ReadAllNormalisesEachChannel) {
  arrive({value_frame(32768, 65535, 0, 49152)}, 1);
  double a, b, c, d;
  ASSERT_EQ(KolmreadAll(port, &a, &b, &c, &d), 1);
  EXPECT_EQ(a, 0.0);
  EXPECT_NEAR(b, 1.0499839780, 1e-9);
  EXPECT_NEAR(c, -1.0500160219, 1e-9);
  EXPECT_NEAR(d, 0.5250080109, 1e-9);
  EXPECT_EQ(KolmreadAll(port, &a, &b, &c, &d), 0);
}

TEST_F(Values, SingleChannelReadsMoveCountsApart) {
  arrive({value_frame(1, 2, 3, 4), value_frame(5, 6, 7, 8), value_frame(9, 10, 11, 12)}, 3);
  double value;
  ASSERT_EQ(Kolmread(port, 3, &value), 1);
  EXPECT_DOUBLE_EQ(value, (3.0 - 32768) * 1.05 / 32767.5);  // oldest first
  ASSERT_EQ(Kolmread(port, 3, &value), 1);
  EXPECT_EQ(Kolmreceived(port, 3), Kolmreceived(port, 5) - 2);
  EXPECT_EQ(Kolmreceived(port, 0), Kolmreceived(port, 3));
  // A set is only complete while every channel has a value.
  ASSERT_EQ(Kolmread(port, 3, &value), 1);
  double a, b, c, d;
  EXPECT_EQ(KolmreadAll(port, &a, &b, &c, &d), 0);
  EXPECT_EQ(Kolmreceived(port, 1), 3);
}

TEST_F(Values, FullRingKeepsTheNewestOldestFirst) {
  for (std::uint16_t v = 1; v <= 5; ++v) amplifier->sim().inject(value_frame(v, v, v, v));
  ASSERT_TRUE(eventually([] { return Kolmreceived(port, 0) == 3; }));
  std::this_thread::sleep_for(100ms);
  double values[12];
  int count = 0;
  ASSERT_EQ(KolmreadMultiple(port, 1, values, 12, &count), 1);
  ASSERT_EQ(count, 3);
  EXPECT_DOUBLE_EQ(values[0], (3.0 - 32768) * 1.05 / 32767.5);
  EXPECT_DOUBLE_EQ(values[2], (5.0 - 32768) * 1.05 / 32767.5);
  EXPECT_EQ(Kolmreceived(port, 1), 0);
  EXPECT_EQ(Kolmreceived(port, 2), 3);
}

TEST_F(Values, ReadMultipleOfAllChannelsTakesWholeSets) {
  arrive({value_frame(1, 2, 3, 4), value_frame(5, 6, 7, 8)}, 2);
  double values[8] = {};
  int count = 0;
  EXPECT_EQ(KolmreadMultiple(port, 0, values, 6, &count), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000100);
  EXPECT_EQ(KolmreadMultiple(port, 0, values, 4, &count), 1);
  EXPECT_EQ(count, 4);
  EXPECT_DOUBLE_EQ(values[3], (4.0 - 32768) * 1.05 / 32767.5);
  EXPECT_EQ(KolmreadMultiple(port, 0, values, 8, &count), 1);
  EXPECT_EQ(count, 4);
  EXPECT_DOUBLE_EQ(values[0], (5.0 - 32768) * 1.05 / 32767.5);
  EXPECT_EQ(Kolmreceived(port, 5), 0);
}

TEST_F(Values, ArgumentChecks) {
  double value;
  int count;
  EXPECT_EQ(Kolmreceived(port, 6), -1);
  EXPECT_EQ(KolmgetLastError(port), 0);  // Kolmreceived records nothing for a bad channel
  EXPECT_EQ(Kolmread(port, 0, &value), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000100);
  EXPECT_EQ(Kolmread(port, 1, nullptr), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000100);
  EXPECT_EQ(KolmreadAll(port, &value, nullptr, &value, &value), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000100);
  EXPECT_EQ(KolmreadMultiple(port, 5, &value, 1, &count), -1);
  EXPECT_EQ(KolmreadMultiple(port, 1, &value, 0, &count), -1);
  EXPECT_EQ(KolmreadMultiple(port, 1, &value, 1, nullptr), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000100);
  EXPECT_EQ(Kolmread(99, 1, &value), -1);
  EXPECT_EQ(KolmgetLastError(99), 0x30000101);
}

TEST_F(Values, BadTerminatorIsReportedOnceThenReadsGoOn) {
  Bytes bad = value_frame(1, 1, 1, 1);
  bad[9] = 0;
  amplifier->sim().inject(bad);
  arrive({value_frame(32768, 32768, 32768, 32768)}, 1);
  double value = 7;
  EXPECT_EQ(Kolmread(port, 1, &value), -1);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(Kolmreceived(port, 1), 1);  // nothing was taken
  EXPECT_EQ(KolmgetLastError(port), 0x30000061);
  EXPECT_EQ(Kolmread(port, 1, &value), 1);
  EXPECT_EQ(value, 0.0);
}

TEST_F(Values, ReceiveErrorIsReportedBeforeTheLastOperationsError) {
  Bytes bad = value_frame(1, 1, 1, 1);
  bad[9] = 0;
  amplifier->sim().inject(bad);
  arrive({value_frame(1, 2, 3, 4)}, 1);
  EXPECT_EQ(KolmsetZero(port, 7), -1);
  EXPECT_EQ(KolmgetLastError(port), 0x30000061);
  EXPECT_EQ(KolmgetLastError(port), 0x30000100);
  EXPECT_EQ(KolmgetLastError(port), 0);
}

TEST_F(Values, ReadMultipleTakesValuesEvenWhileAnErrorIsPending) {
  Bytes bad = value_frame(1, 1, 1, 1);
  bad[10] = 0;
  amplifier->sim().inject(bad);
  arrive({value_frame(1, 2, 3, 4)}, 1);
  double values[4];
  int count = 0;
  EXPECT_EQ(KolmreadMultiple(port, 2, values, 4, &count), -1);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(Kolmreceived(port, 2), 0);
  EXPECT_EQ(KolmgetLastError(port), 0x30000061);
}

TEST_F(Values, ClearEmptiesAtOnceAndDropsAnyPendingError) {
  Bytes bad = value_frame(1, 1, 1, 1);
  bad[10] = 0;
  amplifier->sim().inject(bad);
  arrive({value_frame(1, 2, 3, 4), value_frame(1, 2, 3, 4)}, 2);
  ASSERT_EQ(KolmclearDLLbuffer(port), 0);
  EXPECT_EQ(Kolmreceived(port, 5), 0);
  EXPECT_EQ(KolmgetLastError(port), 0);
}

TEST_F(Values, PartialFrameIsDroppedByAClear) {
  const Bytes frame = value_frame(100, 100, 100, 100);
  amplifier->sim().inject(Bytes(frame.begin(), frame.begin() + 5));
  // On the line before the clear: whether still in the port's queue or already read, the clear drops it.
  ASSERT_TRUE(eventually([] { return amplifier->sim().all_sent(); }));
  ASSERT_EQ(KolmclearDLLbuffer(port), 0);
  // The rest of the cut frame is skipped as noise; the next whole frame is stored.
  amplifier->sim().inject(Bytes(frame.begin() + 5, frame.end()));
  arrive({value_frame(200, 200, 200, 200)}, 1);
  double value;
  ASSERT_EQ(Kolmread(port, 1, &value), 1);
  EXPECT_DOUBLE_EQ(value, (200.0 - 32768) * 1.05 / 32767.5);
}

TEST_F(Values, ValuesRequestedOneByOne) {
  amplifier->sim().set_channel_raw(1, 40000);
  ASSERT_EQ(KolmgetValue(port), 0);
  ASSERT_TRUE(eventually([] { return Kolmreceived(port, 0) == 1; }));
  double value;
  ASSERT_EQ(Kolmread(port, 1, &value), 1);
  EXPECT_DOUBLE_EQ(value, (40000.0 - 32768) * 1.05 / 32767.5);
  amplifier->sim().clear_signals();
}

}  // namespace

// Blocks of many values, taken across the ring's end and across the blocks the library copies them in.
class ManyValues : public SharedAmplifier<30> {
 protected:
  static void SetUpTestSuite() { open(kolmsim::Options{.transmitting = false}, 115200, 1024); }
};

TEST_F(ManyValues, LargeBlocksComeOldestFirstAndWholeSetsStayTogether) {
  auto arrive = [](int first, int count) {
    Bytes frames;
    for (int i = first; i < first + count; ++i) {
      const auto n = static_cast<std::uint16_t>(i);
      const Bytes frame = value_frame(n, 10000 + n, 20000 + n, 30000 + n);
      frames.insert(frames.end(), frame.begin(), frame.end());
    }
    amplifier->sim().inject(frames);
  };
  auto normalised = [](int raw) { return (raw - 32768) * 1.05 / 32767.5; };
  std::vector<double> values(4 * 1024);
  int count = 0;
  // 600 sets in, 500 out: the ring's oldest value now sits at index 500 of its memory.
  arrive(0, 600);
  ASSERT_TRUE(eventually([] { return Kolmreceived(port, 0) == 600; })) << Kolmreceived(port, 0);
  ASSERT_EQ(KolmreadMultiple(port, 0, values.data(), 4 * 500, &count), 1);
  ASSERT_EQ(count, 4 * 500);
  // 900 more fill it to 1000 and run past the end of its memory.
  arrive(600, 900);
  ASSERT_TRUE(eventually([] { return Kolmreceived(port, 0) == 1000; })) << Kolmreceived(port, 0);
  ASSERT_EQ(KolmreadMultiple(port, 0, values.data(), 4 * 450, &count), 1);
  ASSERT_EQ(count, 4 * 450);
  for (int set = 0; set < 450; ++set) {
    for (int c = 0; c < 4; ++c) ASSERT_DOUBLE_EQ(values[4 * set + c], normalised(10000 * c + 500 + set)) << set;
  }
  // Across the end of the ring's memory, in blocks.
  ASSERT_EQ(KolmreadMultiple(port, 3, values.data(), 4 * 1024, &count), 1);
  ASSERT_EQ(count, 550);
  for (int i = 0; i < count; ++i) ASSERT_DOUBLE_EQ(values[i], normalised(20000 + 950 + i)) << i;
  EXPECT_EQ(Kolmreceived(port, 3), 0);
  EXPECT_EQ(Kolmreceived(port, 1), 550);
}
