// PictureBuffer::ScaleFrom and ScaleTo: the order of their steps and what
// each failure leaves behind.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "picture_buffer.h"
#include "picture_test_support.h"
#include "pixel_alloc.h"

namespace plombix {
namespace {

using testing::PixelAt;

std::shared_ptr<SourceBitmap> Bitmap(int w, int h, int depth, uint32_t seed) {
  auto b = std::make_shared<SourceBitmap>();
  b->width = w;
  b->height = h;
  b->bitsPerPixel = depth;
  b->pixels = std::shared_ptr<uint8_t[]>(new uint8_t[size_t(w) * size_t(h) * 4]);
  std::mt19937 random(seed);
  for (size_t i = 0; i < size_t(w) * size_t(h) * 4; ++i) b->pixels[i] = uint8_t(random());
  return b;
}

// A usable 4 x 2 picture whose pixels are known.
void GiveOldPixels(PictureBuffer& p) {
  ASSERT_TRUE(p.ScaleFrom(4, 2, *Bitmap(4, 2, 32, 99)));
  p.state = 1;
}

TEST(ScaleFrom, TakesTheSourceSizeAndKeepsState) {
  for (int state : {0, 1}) {
    PictureBuffer p;
    p.state = state;
    const auto source = Bitmap(30, 20, 32, 1);
    ASSERT_TRUE(p.ScaleFrom(12, 7, *source));
    EXPECT_EQ(p.sourceWidth, 30);
    EXPECT_EQ(p.sourceHeight, 20);
    EXPECT_EQ(p.width, 12);
    EXPECT_EQ(p.height, 7);
    EXPECT_EQ(p.bitsPerPixel, 32);
    EXPECT_EQ(p.byteCount, 12 * 7 * 4);
    EXPECT_EQ(p.state, state);  // not this operation's business
  }
}

TEST(ScaleFrom, SourcesWithoutAlphaEndOpaqueAndWithAlphaKeepTheirPlane) {
  for (int depth : {1, 8, 16, 24, 32}) {
    SCOPED_TRACE(depth);
    PictureBuffer p;
    const auto source = Bitmap(9, 9, depth, 2);
    ASSERT_TRUE(p.ScaleFrom(9, 9, *source));  // same size: an exact copy
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 9; ++x) {
        const uint32_t in = PixelAt(source->pixels.get(), 9, x, y);
        const uint32_t expected = depth == 32 ? in : (in | 0xFF000000u);
        ASSERT_EQ(PixelAt(p, x, y), expected);
      }
  }
}

TEST(ScaleFrom, BadTargetsFailWithThePixelBufferUnchanged) {
  for (auto [w, h] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{-3, 5}, std::pair{100000, 100000}}) {
    SCOPED_TRACE(::testing::Message() << w << "x" << h);
    PictureBuffer p;
    GiveOldPixels(p);
    const uint8_t* buffer = p.pixelData.get();
    const uint32_t corner = PixelAt(p, 3, 1);
    EXPECT_FALSE(p.ScaleFrom(w, h, *Bitmap(6, 3, 24, 5)));
    EXPECT_EQ(p.sourceWidth, 6);  // set before anything can fail
    EXPECT_EQ(p.sourceHeight, 3);
    EXPECT_EQ(p.pixelData.get(), buffer);
    EXPECT_EQ(PixelAt(p, 3, 1), corner);
    EXPECT_EQ(p.width, 4);
    EXPECT_EQ(p.byteCount, 32);
  }
}

TEST(ScaleFrom, EveryAllocationFailureLeavesOneOfTheTwoStatedStates) {
  // Failing allocation n (n = 0, 1, ...) either happens while the tables
  // are made (picture unchanged) or when the new pixel buffer is made
  // (sizes 0). Past the last allocation the rescale succeeds.
  const auto source = Bitmap(50, 30, 32, 6);
  bool sawUnchanged = false, sawZeroSizes = false;
  for (int n = 0;; ++n) {
    ASSERT_LT(n, 50) << "the rescale never succeeded";
    PictureBuffer p;
    GiveOldPixels(p);
    const uint8_t* buffer = p.pixelData.get();
    InjectAllocationFailures(n, 1);
    const bool ok = p.ScaleFrom(20, 11, *source);
    InjectAllocationFailures(0, 0);
    if (ok) {
      EXPECT_EQ(p.width, 20);
      break;
    }
    EXPECT_EQ(p.sourceWidth, 50);
    EXPECT_EQ(p.state, 1);
    if (p.width == 4) {
      EXPECT_EQ(p.pixelData.get(), buffer);
      EXPECT_EQ(p.byteCount, 32);
      EXPECT_FALSE(sawZeroSizes) << "the pixel buffer is the last allocation";
      sawUnchanged = true;
    } else {
      EXPECT_EQ(p.width, 0);
      EXPECT_EQ(p.height, 0);
      EXPECT_EQ(p.byteCount, 0);
      EXPECT_EQ(p.bitsPerPixel, 0);
      EXPECT_FALSE(p.usable());
      p.SetAlpha(255);  // harmless without pixels
      sawZeroSizes = true;
    }
  }
  EXPECT_TRUE(sawUnchanged);
  EXPECT_TRUE(sawZeroSizes);
}

TEST(ScaleTo, NeedsADecodedImage) {
  PictureBuffer p;
  GiveOldPixels(p);
  p.resourceBitmap = Bitmap(8, 8, 32, 3);  // not used by ScaleTo
  EXPECT_FALSE(p.ScaleTo(2, 2));
  EXPECT_EQ(p.width, 4);
  EXPECT_EQ(p.sourceWidth, 4);
}

TEST(ScaleTo, StartsAgainFromTheDecodedImageEachTime) {
  PictureBuffer p;
  p.decodedImage = Bitmap(40, 30, 32, 8);
  ASSERT_TRUE(p.ScaleTo(40, 30));
  std::vector<uint8_t> original(p.pixelData.get(), p.pixelData.get() + p.byteCount);
  // Down and back up: from the pixels this would be blurred; from the
  // kept bitmap it is the original again.
  ASSERT_TRUE(p.ScaleTo(5, 4));
  p.ApplyRangeTable();
  ASSERT_TRUE(p.ScaleTo(40, 30));
  EXPECT_EQ(0, std::memcmp(p.pixelData.get(), original.data(), original.size()));
}

}  // namespace
}  // namespace plombix
