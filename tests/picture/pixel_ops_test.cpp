// Row kernels against plain references, over their whole input space where
// that is feasible, at every SIMD level.
#include "pixel_ops.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "picture_test_support.h"
#include "png_unfilter.h"
#include "simd_level.h"

namespace plombix {
namespace {

using testing::ForEachSimdLevel;
using testing::RandomBytes;

// The blend as written, with the compiler's own division by 255.
void ReferenceBlend(uint8_t* d, const uint8_t* s) {
  const int a = s[3], b = 255 - a;
  for (int c = 0; c < 3; ++c) d[c] = uint8_t((d[c] * b + s[c] * a) / 255);
  d[3] = uint8_t(255 - ((255 - d[3]) * b) / 255);
}

TEST(BlendRow, MatchesTheFormulaForEveryFrameBytePictureByteAndAlpha) {
  // One row per picture alpha: pixel k pairs frame byte k >> 8 with picture
  // byte k & 255 in every colour channel (each permuted differently) and
  // has frame alpha k >> 8, so the alpha formula sees every pair too.
  constexpr size_t kPixels = 65536;
  std::vector<uint8_t> src(kPixels * 4), frame(kPixels * 4), out, want;
  for (int a = 0; a < 256; ++a) {
    for (size_t k = 0; k < kPixels; ++k) {
      const uint8_t d = uint8_t(k >> 8), s = uint8_t(k);
      const uint8_t sp[4] = {s, uint8_t(s ^ 0x5A), uint8_t(255 - s), uint8_t(a)};
      const uint8_t dp[4] = {d, uint8_t(d ^ 0xA5), uint8_t(255 - d), d};
      std::memcpy(&src[k * 4], sp, 4);
      std::memcpy(&frame[k * 4], dp, 4);
    }
    want = frame;
    for (size_t k = 0; k < kPixels; ++k) ReferenceBlend(&want[k * 4], &src[k * 4]);
    ForEachSimdLevel([&] {
      out = frame;
      BlendRow(out.data(), src.data(), kPixels);
      ASSERT_EQ(out, want) << "picture alpha " << a;
    });
    if (HasFatalFailure()) return;
  }
}

TEST(BlendRow, EveryLengthAndAlignmentInPlaceAndOntoAnotherRow) {
  // Lengths 0..70 at byte offsets that break every alignment; alphas come
  // in runs of 0, of 255 and of anything, so the whole-group shortcuts meet
  // their neighbours and the scalar tails. Onto another row, the row below
  // must stay as it was and the bytes around the output untouched.
  constexpr uint32_t kSeed = 20261206;
  std::mt19937 rng(kSeed);
  ForEachSimdLevel([&] {
    for (size_t length = 0; length <= 70; ++length) {
      const size_t offset = length % 4, bytes = length * 4 + offset + 1;
      std::vector<uint8_t> src = RandomBytes(bytes, rng());
      const std::vector<uint8_t> under = RandomBytes(bytes, rng());
      for (size_t i = 0; i < length;) {
        const int kind = int(rng() % 3);
        for (size_t run = 1 + rng() % 20; run > 0 && i < length; --run, ++i)
          if (kind < 2) src[offset + i * 4 + 3] = kind == 0 ? 0 : 255;
      }
      std::vector<uint8_t> want = under;
      for (size_t i = 0; i < length; ++i) ReferenceBlend(&want[offset + i * 4], &src[offset + i * 4]);

      std::vector<uint8_t> inPlace = under;
      BlendRow(inPlace.data() + offset, src.data() + offset, length);
      ASSERT_EQ(inPlace, want) << "in place, length " << length << " seed " << kSeed;

      std::vector<uint8_t> below = under, out = under;
      for (size_t i = 0; i < length * 4; ++i) out[offset + i] = 0xEE;
      BlendRowOnto(out.data() + offset, below.data() + offset, src.data() + offset, length);
      ASSERT_EQ(out, want) << "onto, length " << length << " seed " << kSeed;
      ASSERT_EQ(below, under) << "length " << length;
    }
  });
}

TEST(BlendRow, GivesTheFiguresOfTheBlendRule) {
  struct Row {
    const char* name;
    uint32_t frame, picture, want;
  };
  const Row rows[] = {
      // (10*127 + 200*128)/255 = 26870/255 = 105, (20*127 + 100*128)/255 = 60,
      // (30*127 + 50*128)/255 = 40; alpha 255 - (0*127)/255 = 255.
      {"alpha 128 over opaque", 0xFF1E140Au, 0x803264C8u, 0xFF283C69u},
      // alpha 255 - (255*127)/255 = 128; colour (0*127 + 200*128)/255 = 100.
      {"alpha 128 over transparent", 0x00000000u, 0x80C8C8C8u, 0x80646464u},
      {"alpha 0 leaves the frame", 0x7B112233u, 0x00FFFFFFu, 0x7B112233u},
      {"alpha 255 replaces and makes opaque", 0x00112233u, 0xFF445566u, 0xFF445566u},
  };
  ForEachSimdLevel([&] {
    for (const Row& row : rows) {
      // Seventeen copies so that every vector kernel sees the pixel too.
      std::vector<uint32_t> frame(17, row.frame), picture(17, row.picture);
      BlendRow(reinterpret_cast<uint8_t*>(frame.data()),
               reinterpret_cast<const uint8_t*>(picture.data()), 17);
      for (uint32_t p : frame) EXPECT_EQ(p, row.want) << row.name;
    }
  });
}

TEST(SetAlphaRow, SetsOnlyTheFourthByteOfEachPixel) {
  ForEachSimdLevel([&] {
    for (size_t length : {0, 1, 3, 4, 5, 17, 67}) {
      const std::vector<uint8_t> before = RandomBytes(length * 4 + 8, 7 + uint32_t(length));
      std::vector<uint8_t> after = before;
      SetAlphaRow(after.data() + 1, length, 0xC3);
      for (size_t i = 0; i < after.size(); ++i) {
        const bool alphaByte = i >= 1 && i < 1 + length * 4 && (i - 1) % 4 == 3;
        ASSERT_EQ(after[i], alphaByte ? 0xC3 : before[i]) << "byte " << i << " length " << length;
      }
    }
  });
}

TEST(MapBytes, MapsEveryByteThroughTheRangeTableAndAnyOtherTable) {
  // The range table from its definition, not from the kernel's arithmetic;
  // a random table; and one a single entry away from the range table, which
  // must not take the range arithmetic.
  std::array<uint8_t, 256> range{}, random{}, nearRange{};
  const std::vector<uint8_t> r = RandomBytes(256, 99);
  for (int i = 0; i < 256; ++i) {
    range[i] = i < 16 ? 0 : i > 235 ? 255 : uint8_t(((i - 16) * 255) / 219);
    random[i] = r[i];
  }
  ASSERT_EQ(MakeRangeTable(), range);
  nearRange = range;
  nearRange[200] ^= 1;
  ForEachSimdLevel([&] {
    for (const auto* table : {&range, &random, &nearRange})
      for (size_t length : {0, 1, 15, 16, 17, 33, 257, 4099}) {
        std::vector<uint8_t> data(length + 1), want(length + 1);
        for (size_t i = 0; i <= length; ++i) data[i] = uint8_t(i * 7 + i / 256);
        for (size_t i = 0; i <= length; ++i) want[i] = i >= 1 ? (*table)[data[i]] : data[i];
        MapBytes(data.data() + 1, length, *table);
        ASSERT_EQ(data, want) << "length " << length;
      }
  });
}

TEST(SimdLevel, SelectionIsClampedToWhatTheMachineOffers) {
  const SimdLevel before = CurrentSimdLevel();
  EXPECT_EQ(SetSimdLevel(SimdLevel::Scalar), SimdLevel::Scalar);
  EXPECT_EQ(CurrentSimdLevel(), SimdLevel::Scalar);
  EXPECT_EQ(SetSimdLevel(SimdLevel(99)), BestSimdLevel());
  EXPECT_EQ(SetSimdLevel(SimdLevel(-3)), SimdLevel::Scalar);
  SetSimdLevel(before);
}

// Unfiltering RGB and RGBA rows eight at a time against the row-by-row way
// (level 0, itself held against libspng in load_file_test.cpp).
TEST(PngUnfilter, EightRowsAtOnceMatchTheRowByRowWayForEveryFilter) {
  std::mt19937 random(7);
  for (int channels : {3, 4})
    for (int filter = -1; filter <= 5; ++filter)  // -1: a random one each row; 5 (last row): none
      for (int width : {1, 3, 8, 11, 12, 13, 50})
        for (int count : {1, 8, 13, 24})
          for (bool above : {false, true}) {
            SCOPED_TRACE(::testing::Message() << channels << filter << "/" << width << "/" << count << above);
            const size_t stride = 1 + size_t(width) * size_t(channels);
            std::vector<uint8_t> in(size_t(count) * stride + kUnfilterSlackBytes);
            std::vector<uint8_t> prior(size_t(width) * 4), expected;
            for (auto* bytes : {&in, &prior})
              for (uint8_t& b : *bytes) b = uint8_t(random() % 3 ? random() : 0x40);  // many ties
            for (int y = 0; y < count; ++y)
              in[size_t(y) * stride] =
                  uint8_t(filter < 0 ? random() % 5 : filter == 5 && y < count - 1 ? 4 : filter);
            ForEachSimdLevel([&] {  // level 0 first
              std::vector<uint8_t> out(size_t(count) * size_t(width) * 4, 0xCD);
              const uint8_t* top = above ? prior.data() : nullptr;
              EXPECT_EQ(UnfilterRowsToBgra(in.data(), width, channels, count, top, out.data()), filter != 5);
              if (CurrentSimdLevel() == SimdLevel::Scalar) expected = out;
              EXPECT_TRUE(filter == 5 || out == expected);
            });
          }
}

}  // namespace
}  // namespace plombix
