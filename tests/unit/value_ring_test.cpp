// The channel rings and the conversion of raw values.
#include "protocol/value_ring.h"

#include <gtest/gtest.h>

#include "activation.h"

namespace pekolm {
namespace {

TEST(ValueRing, FullRingOverwritesTheOldest) {
  ValueRing ring;
  ASSERT_TRUE(ring.allocate(3));
  for (std::uint16_t v = 1; v <= 5; ++v) ring.push(v);
  EXPECT_EQ(ring.count(), 3u);
  EXPECT_EQ(ring.pop(), 3);
  EXPECT_EQ(ring.pop(), 4);
  ring.push(6);
  EXPECT_EQ(ring.pop(), 5);
  EXPECT_EQ(ring.pop(), 6);
  EXPECT_EQ(ring.count(), 0u);
}

TEST(ValueRing, SizeOneKeepsTheNewest) {
  ValueRing ring;
  ASSERT_TRUE(ring.allocate(1));
  ring.push(7);
  ring.push(8);
  EXPECT_EQ(ring.count(), 1u);
  EXPECT_EQ(ring.pop(), 8);
}

TEST(ValueRing, NormalisedValues) {
  EXPECT_EQ(normalise(32768), 0.0);
  EXPECT_DOUBLE_EQ(normalise(65535), 32767 * 3.2043945983062484e-05);
  EXPECT_NEAR(normalise(65535), 1.0499839780, 1e-9);
  EXPECT_NEAR(normalise(0), -1.0500160219, 1e-9);
  EXPECT_NEAR(normalise(49152), 0.5250080109, 1e-9);
  EXPECT_EQ(1.05 / 32767.5, 3.2043945983062484e-05);
}

TEST(BufferSize, ClampedToOneAndTheFrameLimit) {
  EXPECT_EQ(clamp_buffer_size(0), 1u);
  EXPECT_EQ(clamp_buffer_size(-5), 1u);
  EXPECT_EQ(clamp_buffer_size(512), 512u);
  EXPECT_EQ(clamp_buffer_size(390451572), 390451572u);
  EXPECT_EQ(clamp_buffer_size(2000000000), 390451572u);
}

}  // namespace
}  // namespace pekolm
