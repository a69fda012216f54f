#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sound/snd_unit.h"

namespace tavo {
namespace {

std::int16_t expectedSine(int lev, int freq, double t, int i) {
  return static_cast<std::int16_t>(std::nearbyint(lev * std::sin(kTwoPi * freq * (t + i / 44100.0))));
}

TEST(ToneSynthesis, FirstBlocksOfTheToneAreTheRoundedSineAndRunOnAcrossBlocks) {
  ToneState state = startTone();
  std::vector<std::int16_t> left(kBlockFrames), right(kBlockFrames), out(2 * kBlockFrames);
  nextToneBlock(state, left.data(), right.data(), out.data());
  EXPECT_EQ(out[0], 0);
  int maxMagnitude = 0;
  for (int i = 0; i < kBlockFrames; ++i) {
    ASSERT_EQ(out[2 * i], expectedSine(20000, 1000, 0.0, i)) << "left sample " << i;
    ASSERT_EQ(out[2 * i + 1], out[2 * i]) << "right differs at " << i;
    maxMagnitude = std::max(maxMagnitude, std::abs(int(out[2 * i])));
  }
  EXPECT_LE(maxMagnitude, 20000);
  EXPECT_EQ(maxMagnitude, 20000);
  // Worked out by hand: 20000 sin(2 pi 1000 i / 44100) = 2839.89 (i = 1), 13072.73 (i = 5).
  EXPECT_EQ(out[2 * 1], 2840);
  EXPECT_EQ(out[2 * 5], 13073);

  nextToneBlock(state, left.data(), right.data(), out.data());
  // The 8193rd sample continues the wave: time 8192 / 44100, not 0.
  const auto first = static_cast<std::int16_t>(
      std::nearbyint(20000 * std::sin(kTwoPi * 1000 * (8192 / 44100.0))));
  EXPECT_EQ(out[0], first);
  EXPECT_EQ(out[1], first);
  EXPECT_EQ(first, -19963);  // 20000 sin(2 pi 1000 * 8192 / 44100) = -19963.35
  EXPECT_DOUBLE_EQ(state.tPred[0], 2 * 8192 / 44100.0);
  EXPECT_DOUBLE_EQ(state.tPred[1], state.tPred[0]);
}

TEST(ToneSynthesis, SquareSilenceAndUnknownTypes) {
  std::vector<std::int16_t> buf(kBlockFrames, 7);
  double t = 0.0;
  Generator(buf.data(), kWaveSquare, 1000, 1500, kChannelBlockBytes, t);
  EXPECT_DOUBLE_EQ(t, 8192 / 44100.0);
  EXPECT_EQ(buf[0], 1500);  // sin(0) = 0 counts as positive
  EXPECT_EQ(buf[11], 1500);
  EXPECT_EQ(buf[30], -1500);  // second half of the first period (22.05 .. 44.1 samples)
  int high = 0;
  for (std::int16_t v : buf) {
    ASSERT_TRUE(v == 1500 || v == -1500) << v;
    high += v > 0;
  }
  EXPECT_NEAR(high, kBlockFrames / 2, 200);

  // Silence clears the block and starts the time again.
  Generator(buf.data(), kWaveSilence, 1000, 1500, kChannelBlockBytes, t);
  EXPECT_EQ(t, 0.0);
  for (std::int16_t v : buf) ASSERT_EQ(v, 0);

  // Any other type touches nothing.
  std::vector<std::int16_t> junk(kBlockFrames, 123);
  t = 1.25;
  Generator(junk.data(), 3, 1000, 1500, kChannelBlockBytes, t);
  Generator(junk.data(), -1, 1000, 1500, kChannelBlockBytes, t);
  EXPECT_EQ(t, 1.25);
  for (std::int16_t v : junk) ASSERT_EQ(v, 123);

}

TEST(ToneSynthesis, MixInterleavesLeftThenRight) {
  const std::int16_t left[3] = {1, 2, 3};
  const std::int16_t right[3] = {-1, -2, -3};
  std::int16_t out[7] = {0, 0, 0, 0, 0, 0, 99};
  Mix(out, left, right, 6);
  EXPECT_EQ(std::vector<std::int16_t>(out, out + 7),
            (std::vector<std::int16_t>{1, -1, 2, -2, 3, -3, 99}));
}

}  // namespace
}  // namespace tavo
