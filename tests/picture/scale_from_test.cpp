// PictureBuffer::ScaleFrom and ScaleTo: the order of their steps and what
// each failure leaves behind.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <tuple>

#include "picture_buffer.h"
#include "picture_test_support.h"
#include "pixel_alloc.h"

namespace plombix {
namespace {

using testing::PixelAt;
using testing::Sizes;

std::shared_ptr<SourceBitmap> Bitmap(int w, int h, int depth, uint32_t seed) {
  auto b = std::make_shared<SourceBitmap>();
  b->width = w;
  b->height = h;
  b->bitsPerPixel = depth;
  const std::vector<uint8_t> bytes = testing::RandomBytes(size_t(w) * size_t(h) * 4, seed);
  b->pixels = std::shared_ptr<uint8_t[]>(new uint8_t[bytes.size()]);
  std::memcpy(b->pixels.get(), bytes.data(), bytes.size());
  return b;
}

// A usable 4 x 2 picture whose pixels are known.
void GiveOldPixels(PictureBuffer& p) {
  ASSERT_TRUE(p.ScaleFrom(4, 2, *Bitmap(4, 2, 32, 99)));
  p.state = 1;
}

TEST(ScaleFrom, TakesTheSourceSizeKeepsStateAndMakesSourcesWithoutAlphaOpaque) {
  for (int depth : {1, 8, 16, 24, 32}) {
    SCOPED_TRACE(depth);
    PictureBuffer p;
    p.state = depth == 32;  // not this operation's business
    const auto source = Bitmap(9, 7, depth, 2);
    ASSERT_TRUE(p.ScaleFrom(9, 7, *source));  // same size: an exact copy
    EXPECT_EQ(std::tuple(p.sourceWidth, p.sourceHeight), std::tuple(9, 7));
    EXPECT_EQ(Sizes(p), std::tuple(9, 7, 9 * 7 * 4, 32, depth == 32));
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 9; ++x) {
        const uint32_t in = PixelAt(source->pixels.get(), 9, x, y);
        ASSERT_EQ(PixelAt(p, x, y), depth == 32 ? in : (in | 0xFF000000u));
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
    EXPECT_EQ(std::tuple(p.sourceWidth, p.sourceHeight), std::tuple(6, 3));  // set before anything can fail
    EXPECT_EQ(p.pixelData.get(), buffer);
    EXPECT_EQ(PixelAt(p, 3, 1), corner);
    EXPECT_EQ(Sizes(p), std::tuple(4, 2, 32, 32, 1));
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
    if (p.width == 4) {
      EXPECT_EQ(p.pixelData.get(), buffer);
      EXPECT_EQ(Sizes(p), std::tuple(4, 2, 32, 32, 1));
      EXPECT_FALSE(sawZeroSizes) << "the pixel buffer is the last allocation";
      sawUnchanged = true;
    } else {
      EXPECT_EQ(Sizes(p), std::tuple(0, 0, 0, 0, 1));
      EXPECT_FALSE(p.usable());
      p.SetAlpha(255);  // harmless without pixels
      sawZeroSizes = true;
    }
  }
  EXPECT_TRUE(sawUnchanged && sawZeroSizes);
}

TEST(ScaleTo, StartsAgainFromTheDecodedImageEachTimeAndNeedsOne) {
  PictureBuffer p;
  GiveOldPixels(p);
  p.resourceBitmap = Bitmap(8, 8, 32, 3);  // not used by ScaleTo
  EXPECT_FALSE(p.ScaleTo(2, 2));
  EXPECT_EQ(std::tuple(p.width, p.sourceWidth), std::tuple(4, 4));
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
