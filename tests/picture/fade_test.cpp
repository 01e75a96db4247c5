// The cross-fade weights and kernel.
#include "fade.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kernel_test_support.h"
#include "scale_rules.h"

namespace plombix {
namespace {

using testing::ForEachSimdLevel;
using testing::RandomBytes;

TEST(FadeWeight, TwelveStepsAt25pRunFrom234DownTo0) {
  // 25p fades in (25/1)/2 = 12 steps. After the first decrement 11 are left:
  // (11*256)/12 = 2816/12 = 234; after the last, 0.
  const int steps = FadeStepCount(true, 25, 1);
  ASSERT_EQ(steps, 12);
  EXPECT_EQ(FadeWeight(11, steps), 234);
  EXPECT_EQ(FadeWeight(6, steps), 128);  // 1536/12
  EXPECT_EQ(FadeWeight(1, steps), 21);   // 256/12 = 21.3
  EXPECT_EQ(FadeWeight(0, steps), 0);
  // The weights only fall, and every one lies in 0..256.
  int previous = 257;
  for (int left = steps; left >= 0; --left) {
    const int w = FadeWeight(left, steps);
    EXPECT_LT(w, previous) << left;
    EXPECT_GE(w, 0);
    previous = w;
  }
}

TEST(FadeWeight, OutOfRangeArgumentsAreClampedNotTrusted) {
  struct Row {
    const char* name;
    int stepsLeft, steps, want;
  };
  const Row rows[] = {
      {"no steps", 3, 0, 0},
      {"negative steps", 3, -4, 0},
      {"negative steps left", -1, 12, 0},
      {"more left than steps", 13, 12, 256},
      {"all left", 12, 12, 256},
      {"huge counts do not overflow", 2000000000, 2100000000, int((int64_t(2000000000) * 256) / 2100000000)},
  };
  for (const Row& row : rows) EXPECT_EQ(FadeWeight(row.stepsLeft, row.steps), row.want) << row.name;
}

// The fade as written, with an ordinary shift.
uint8_t ReferenceFade(int previous, int composed, int w) {
  return uint8_t((previous * w + composed * (256 - w)) >> 8);
}

TEST(FadeBlend, MatchesTheFormulaForEveryPairOfBytesAndEveryWeight) {
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

TEST(FadeBlend, EndWeightsGiveEachFrameExactly) {
  const std::vector<uint8_t> previous = RandomBytes(1003, 1), composed = RandomBytes(1003, 2);
  std::vector<uint8_t> out(1003);
  ForEachSimdLevel([&] {
    FadeBlend(out.data(), previous.data(), composed.data(), out.size(), 256);
    EXPECT_EQ(out, previous);
    FadeBlend(out.data(), previous.data(), composed.data(), out.size(), 0);
    EXPECT_EQ(out, composed);
  });
}

TEST(FadeBlend, HandlesEveryLengthAndMisalignment) {
  ForEachSimdLevel([&] {
    for (size_t length = 0; length <= 80; ++length)
      for (size_t offset : {0, 1, 3, 17}) {
        const std::vector<uint8_t> p = RandomBytes(length + offset, 11), c = RandomBytes(length + offset, 12);
        std::vector<uint8_t> out(length + offset + 1, 0xEE), want = out;
        for (size_t i = 0; i < length; ++i) want[offset + i] = ReferenceFade(p[offset + i], c[offset + i], 77);
        FadeBlend(out.data() + offset, p.data() + offset, c.data() + offset, length, 77);
        ASSERT_EQ(out, want) << "length " << length << " offset " << offset;
      }
  });
}

TEST(FadeBlend, LargeOutputsTakingTheStreamingPathStayExact) {
  // A 4096 x 2160 frame is past the streaming threshold; start it one byte
  // off alignment so the aligned head and the tail are both exercised.
  const size_t bytes = size_t(4096) * 2160 * 4 + 5;
  const std::vector<uint8_t> p = RandomBytes(bytes, 31), c = RandomBytes(bytes, 32);
  std::vector<uint8_t> out(bytes + 1);
  ForEachSimdLevel([&] {
    FadeBlend(out.data() + 1, p.data(), c.data(), bytes, 234);
    for (size_t i = 0; i < bytes; i += 4093)  // a prime stride samples every phase
      ASSERT_EQ(out[i + 1], ReferenceFade(p[i], c[i], 234)) << "byte " << i;
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
  // In place over the composed frame.
  std::vector<uint8_t> inPlace = c;
  FadeBlend(inPlace.data(), p.data(), inPlace.data(), 40, 128);
  EXPECT_EQ(inPlace, std::vector<uint8_t>(40, ReferenceFade(200, 100, 128)));
}

}  // namespace
}  // namespace plombix
