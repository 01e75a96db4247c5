// The cross-fade weights and kernel.
#include "fade.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "picture_test_support.h"
#include "scale_rules.h"

namespace plombix {
namespace {

using testing::ForEachSimdLevel;
using testing::RandomBytes;

TEST(FadeWeight, TwelveStepsAt25pRunFrom234DownTo0AndBadCountsAreClamped) {
  // 25p fades in (25/1)/2 = 12 steps. After the first decrement 11 are left:
  // (11*256)/12 = 2816/12 = 234; 6 left: 1536/12 = 128; 1 left: 256/12 = 21.
  const int steps = FadeStepCount(true, 25, 1);
  ASSERT_EQ(steps, 12);
  EXPECT_EQ(FadeWeight(11, steps), 234);
  EXPECT_EQ(FadeWeight(6, steps), 128);
  EXPECT_EQ(FadeWeight(1, steps), 21);
  EXPECT_EQ(FadeWeight(0, steps), 0);
  const struct { int stepsLeft, steps, want; } clamped[] = {
      {3, 0, 0}, {3, -4, 0}, {-1, 12, 0}, {13, 12, 256}, {12, 12, 256},
      {2000000000, 2100000000, 243}};  // 2e9 * 256 / 2.1e9 = 243.8, no overflow
  for (const auto& row : clamped)
    EXPECT_EQ(FadeWeight(row.stepsLeft, row.steps), row.want) << row.stepsLeft << "/" << row.steps;
}

// The fade as written, with an ordinary shift.
uint8_t ReferenceFade(int previous, int composed, int w) {
  return uint8_t((previous * w + composed * (256 - w)) >> 8);
}

TEST(FadeBlend, MatchesTheFormulaForEveryPairOfBytesAndEveryWeight) {
  // Weight 256 gives the old frame and 0 the new one exactly, as a part of
  // the formula.
  constexpr size_t kPairs = 65536;
  std::vector<uint8_t> previous(kPairs), composed(kPairs), out(kPairs), want(kPairs);
  for (size_t k = 0; k < kPairs; ++k) {
    previous[k] = uint8_t(k >> 8);
    composed[k] = uint8_t(k);
  }
  for (int w = 0; w <= 256; ++w) {
    for (size_t k = 0; k < kPairs; ++k) want[k] = ReferenceFade(previous[k], composed[k], w);
    ForEachSimdLevel([&] {
      FadeBlend(out.data(), previous.data(), composed.data(), kPairs, w);
      ASSERT_EQ(out, want) << "weight " << w;
    });
    if (HasFatalFailure()) return;
  }
}

TEST(FadeBlend, EveryLengthAndAlignmentAndTheStreamedLargestFrame) {
  // Small buffers of every length at odd offsets, then a 4096 x 2160 frame
  // (past the streaming threshold) one byte off alignment, checked at a
  // prime stride and at its last byte.
  ForEachSimdLevel([&] {
    for (size_t length = 0; length <= 80; ++length) {
      const size_t offset = length % 5;
      const std::vector<uint8_t> p = RandomBytes(length + offset, 11), c = RandomBytes(length + offset, 12);
      std::vector<uint8_t> out(length + offset + 1, 0xEE), want = out;
      for (size_t i = offset; i < offset + length; ++i) want[i] = ReferenceFade(p[i], c[i], 77);
      FadeBlend(out.data() + offset, p.data() + offset, c.data() + offset, length, 77);
      ASSERT_EQ(out, want) << "length " << length;
    }
  });
  const size_t bytes = size_t(4096) * 2160 * 4 + 5;
  const std::vector<uint8_t> p = RandomBytes(bytes, 31), c = RandomBytes(bytes, 32);
  std::vector<uint8_t> out(bytes + 1);
  ForEachSimdLevel([&] {
    FadeBlend(out.data() + 1, p.data(), c.data(), bytes, 234);
    for (size_t i = 0; i < bytes; i += 4093) ASSERT_EQ(out[i + 1], ReferenceFade(p[i], c[i], 234)) << i;
    ASSERT_EQ(out[bytes], ReferenceFade(p[bytes - 1], c[bytes - 1], 234));
  });
}

TEST(FadeBlend, BadArgumentsAreHandledWithoutHarm) {
  std::vector<uint8_t> p(40, 200), c(40, 100), out(40, 7);
  FadeBlend(out.data(), p.data(), c.data(), 0, 128);
  FadeBlend(nullptr, p.data(), c.data(), 40, 128);
  FadeBlend(out.data(), nullptr, c.data(), 40, 128);
  EXPECT_EQ(out, std::vector<uint8_t>(40, 7));
  FadeBlend(out.data(), p.data(), c.data(), 40, 999);  // clamped to 256: previous
  EXPECT_EQ(out, p);
  FadeBlend(out.data(), p.data(), c.data(), 40, -5);  // clamped to 0: composed
  EXPECT_EQ(out, c);
  std::vector<uint8_t> inPlace = c;  // in place over the composed frame
  FadeBlend(inPlace.data(), p.data(), inPlace.data(), 40, 128);
  EXPECT_EQ(inPlace, std::vector<uint8_t>(40, ReferenceFade(200, 100, 128)));
}

}  // namespace
}  // namespace plombix
