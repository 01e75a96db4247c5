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
using testing::ReferenceBlendPixel;

uint8_t* Bytes(std::vector<uint32_t>& v) { return reinterpret_cast<uint8_t*>(v.data()); }

TEST(BlendRow, MatchesTheFormulaForEveryFrameBytePictureByteAndAlpha) {
  // One row per picture alpha and frame kind: pixel k pairs frame byte
  // k >> 8 with picture byte k & 255 in every colour channel (each permuted
  // differently). Over opaque frames that is the whole table; over the
  // others the frame alpha runs through all 256 values for every frame
  // byte and picture alpha.
  constexpr uint32_t kPixels = 65536;
  std::vector<uint32_t> src(kPixels), frame(kPixels), out, want(kPixels);
  for (uint32_t a = 0; a < 256; ++a)
    for (bool opaque : {true, false}) {
      for (uint32_t k = 0; k < kPixels; ++k) {
        const uint32_t d = k >> 8, s = k & 255, f = opaque ? 255 : (d * 7 + s * 13 + a) & 255;
        src[k] = a << 24 | (255 - s) << 16 | (s ^ 0x5A) << 8 | s;
        frame[k] = f << 24 | (255 - d) << 16 | (d ^ 0xA5) << 8 | d;
        want[k] = ReferenceBlendPixel(frame[k], src[k]);
      }
      ForEachSimdLevel([&] {
        out = frame;
        BlendRow(Bytes(out), Bytes(src), kPixels);
        ASSERT_EQ(out, want) << "picture alpha " << a << (opaque ? " over opaque" : "");
      });
      if (HasFatalFailure()) return;
    }
}

TEST(BlendRow, GivesTheFiguresOfTheBlendRule) {
  const struct { const char* name; uint32_t frame, picture, want; } rows[] = {
      // (10*127 + 200*128)/255 = 26870/255 = 105, (20*127 + 100*128)/255 = 60,
      // (30*127 + 50*128)/255 = 40; alpha 255 - (0*127)/255 = 255.
      {"alpha 128 over opaque", 0xFF1E140Au, 0x803264C8u, 0xFF283C69u},
      // Half-covered white over a transparent frame stays white, alpha
      // 255 - (255*127)/255 = 128.
      {"alpha 128 over transparent", 0x00000000u, 0x80FFFFFFu, 0x80FFFFFFu},
      // White at 128 over black at 128: weights 255*128 = 32640 and
      // 128*127 = 16256, colour 255*32640/48896 = 170; alpha
      // 255 - (127*127)/255 = 255 - 63 = 192.
      {"alpha 128 over half-covered black", 0x80000000u, 0x80FFFFFFu, 0xC0AAAAAAu},
      {"alpha 0 leaves the frame", 0x7B112233u, 0x00FFFFFFu, 0x7B112233u},
      {"alpha 0 over transparent keeps its colour", 0x00112233u, 0x00FFFFFFu, 0x00112233u},
      {"alpha 255 replaces and makes opaque", 0x00112233u, 0xFF445566u, 0xFF445566u},
  };
  ForEachSimdLevel([&] {
    for (const auto& row : rows) {
      // Seventeen copies so that every vector kernel sees the pixel too.
      std::vector<uint32_t> frame(17, row.frame), picture(17, row.picture);
      BlendRow(Bytes(frame), Bytes(picture), 17);
      EXPECT_EQ(frame, std::vector<uint32_t>(17, row.want)) << row.name;
    }
  });
}

TEST(MapBytes, MapsEveryByteThroughTheRangeTableAndAnyOtherTable) {
  // The range table (its figures: picture_buffer_test), a random one and
  // one a single entry away from it (which must not take the range
  // arithmetic), each against plain lookups.
  std::array<uint8_t, 256> range = MakeRangeTable(), random{}, nearRange = range;
  const std::vector<uint8_t> r = RandomBytes(256, 99);
  std::copy(r.begin(), r.end(), random.begin());
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

// Eight rows at once against the row-by-row way (level 0, held against libspng in load_file_test.cpp).
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
