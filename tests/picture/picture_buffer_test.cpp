// PictureBuffer: construction, range table, per-pixel adjustments, copying
// and emptying.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "picture_buffer.h"
#include "picture_test_support.h"
#include "pixel_alloc.h"

namespace plombix {
namespace {

using testing::PixelAt;

// Gives `picture` width x height usable pixels, pixel i = 0xAARRGGBB with
// every byte derived from i.
void Fill(PictureBuffer& picture, int width, int height, uint32_t seed = 1) {
  picture.byteCount = width * height * 4;
  picture.pixelData.reset(new uint8_t[size_t(picture.byteCount)]);
  for (int i = 0; i < picture.byteCount; ++i) picture.pixelData[size_t(i)] = uint8_t(i * 7 + seed * 13);
  picture.width = width;
  picture.height = height;
  picture.bitsPerPixel = 32;
  picture.state = 1;
}

TEST(PictureBuffer, StartsEmptyWithAnUntouchedInitialBuffer) {
  const PictureBuffer p;
  EXPECT_EQ(p.width + p.height + p.byteCount + p.bitsPerPixel + p.state + p.resourceId, 0);
  EXPECT_NE(p.pixelData, nullptr);  // 1920 x 1080 x 4 bytes, byteCount still 0
  EXPECT_EQ(PictureBuffer::kInitialBufferBytes, 8294400);
  EXPECT_FALSE(p.usable());
}

TEST(PictureBuffer, RangeTableMatchesPublishedValues) {
  const PictureBuffer p;
  const std::pair<int, int> published[] = {{0, 0},     {15, 0},    {16, 0},    {17, 1},
                                           {126, 128}, {200, 214}, {234, 253}, {235, 255},
                                           {236, 255}, {255, 255}};
  for (auto [in, out] : published) EXPECT_EQ(p.rangeTable[size_t(in)], out) << "input " << in;
}

TEST(PictureBuffer, RangeTableEqualsTheFloorOfTheExactExpansion) {
  // Reference in floating point: floor((i - 16) x 255 / 219), clamped.
  const PictureBuffer p;
  for (int i = 0; i < 256; ++i) {
    const double exact = (i - 16) * 255.0 / 219.0;
    const int expected = i < 16 ? 0 : i > 235 ? 255 : int(std::floor(exact + 1e-9));
    EXPECT_EQ(p.rangeTable[size_t(i)], expected) << "input " << i;
  }
}

TEST(PictureBuffer, ApplyRangeTableMapsAllFourBytes) {
  PictureBuffer p;
  Fill(p, 2, 1);
  const uint8_t first[] = {16, 126, 235, 255};  // blue, green, red, alpha
  const uint8_t second[] = {0, 17, 200, 128};
  std::memcpy(p.pixelData.get(), first, 4);
  std::memcpy(p.pixelData.get() + 4, second, 4);
  p.ApplyRangeTable();
  EXPECT_EQ(PixelAt(p, 0, 0), 0xFFFF8000u);  // (0, 128, 255, 255)
  // Alpha goes through the table too: 128 -> floor(112 x 255 / 219) = 130.
  EXPECT_EQ(PixelAt(p, 1, 0), 0x82D60100u);  // (0, 1, 214, 130)
}

TEST(PictureBuffer, AdjustmentsWithoutPixelsDoNothing) {
  PictureBuffer fresh;  // byteCount 0, initial buffer present
  fresh.SetAlpha(255);
  fresh.ApplyRangeTable();
  EXPECT_EQ(fresh.byteCount, 0);

  PictureBuffer noBuffer;
  noBuffer.pixelData.reset();
  noBuffer.byteCount = 16;  // inconsistent on purpose: no buffer wins
  noBuffer.SetAlpha(7);
  noBuffer.ApplyRangeTable();
  EXPECT_EQ(noBuffer.pixelData, nullptr);
}

TEST(PictureBuffer, SetAlphaChangesOnlyTheFourthByte) {
  PictureBuffer p;
  Fill(p, 5, 3);
  std::vector<uint8_t> before(p.pixelData.get(), p.pixelData.get() + p.byteCount);
  for (int alpha : {0, 128, 255}) {
    p.SetAlpha(uint8_t(alpha));
    for (int i = 0; i < p.byteCount; ++i) {
      const uint8_t expected = i % 4 == 3 ? uint8_t(alpha) : before[size_t(i)];
      ASSERT_EQ(p.pixelData[size_t(i)], expected) << "byte " << i << " alpha " << alpha;
    }
  }
}

TEST(PictureBuffer, CopyFromReusesTheBufferWhenByteCountsMatch) {
  PictureBuffer source, copy;
  Fill(source, 6, 4, 3);
  Fill(copy, 4, 6, 9);  // same byte count, other shape
  const uint8_t* buffer = copy.pixelData.get();
  const uint64_t allocations = AllocationCount();
  ASSERT_TRUE(copy.CopyFrom(source));
  EXPECT_EQ(AllocationCount(), allocations);
  EXPECT_EQ(copy.pixelData.get(), buffer);
  EXPECT_EQ(copy.width, 6);
  EXPECT_EQ(copy.height, 4);
  EXPECT_EQ(copy.byteCount, 96);
  EXPECT_EQ(0, std::memcmp(copy.pixelData.get(), source.pixelData.get(), 96));
}

TEST(PictureBuffer, CopyFromCopiesPixelsButNotNamesMarginsOrSources) {
  PictureBuffer source, copy;
  Fill(source, 3, 3);
  source.fileName = "a.png";
  source.filePath = "/x/a.png";
  source.sourceWidth = 300;
  source.sourceHeight = 200;
  source.sourceBitsPerPixel = 24;
  source.resourceId = 140;
  source.marginLeft = 5;
  copy.marginTop = 9;
  ASSERT_TRUE(copy.CopyFrom(source));
  EXPECT_EQ(copy.state, 1);
  EXPECT_EQ(copy.bitsPerPixel, 32);
  EXPECT_TRUE(copy.fileName.empty());
  EXPECT_TRUE(copy.filePath.empty());
  EXPECT_EQ(copy.sourceWidth, 0);
  EXPECT_EQ(copy.sourceBitsPerPixel, 0);
  EXPECT_EQ(copy.resourceId, 0);
  EXPECT_EQ(copy.marginLeft, 0);
  EXPECT_EQ(copy.marginTop, 9);
  EXPECT_TRUE(copy.usable());
}

TEST(PictureBuffer, CopyFromAnUnusablePictureFailsAndChangesNothing) {
  PictureBuffer source, copy;
  Fill(copy, 2, 2);
  const uint8_t* buffer = copy.pixelData.get();
  EXPECT_FALSE(copy.CopyFrom(source));  // state 0
  EXPECT_EQ(copy.pixelData.get(), buffer);
  EXPECT_EQ(copy.width, 2);
  EXPECT_EQ(copy.byteCount, 16);
  EXPECT_EQ(copy.state, 1);
}

TEST(PictureBuffer, CopyFromFailsCleanlyWhenTheBufferCannotBeAllocated) {
  PictureBuffer source, copy;
  Fill(source, 8, 8);
  Fill(copy, 2, 2);
  copy.state = 0;
  InjectAllocationFailures(0, 1);
  EXPECT_FALSE(copy.CopyFrom(source));
  InjectAllocationFailures(0, 0);
  EXPECT_EQ(copy.width, 0);
  EXPECT_EQ(copy.height, 0);
  EXPECT_EQ(copy.byteCount, 0);
  EXPECT_EQ(copy.bitsPerPixel, 0);
  EXPECT_EQ(copy.state, 0);
  EXPECT_FALSE(copy.usable());
  // The next copy allocates again and succeeds.
  EXPECT_TRUE(copy.CopyFrom(source));
  EXPECT_EQ(PixelAt(copy, 7, 7), PixelAt(source, 7, 7));
}

TEST(PictureBuffer, CopyFromAPictureWhoseLoadFailedGivesAnEmptyUsableState) {
  // A failed load leaves state 1 with byteCount 0; copying it must not
  // touch memory and leaves a picture that placement skips.
  PictureBuffer source, copy;
  Fill(copy, 4, 4);
  source.state = 1;
  source.pixelData.reset();
  EXPECT_TRUE(copy.CopyFrom(source));
  EXPECT_EQ(copy.byteCount, 0);
  EXPECT_FALSE(copy.usable());
}

TEST(PictureBuffer, CopyFromItselfKeepsThePixels) {
  PictureBuffer p;
  Fill(p, 3, 2);
  const uint32_t before = PixelAt(p, 2, 1);
  EXPECT_TRUE(p.CopyFrom(p));
  EXPECT_EQ(PixelAt(p, 2, 1), before);
}

TEST(PictureBuffer, EmptyLeavesASmallBufferAndNothingUsable) {
  PictureBuffer p;
  Fill(p, 10, 10);
  p.sourceWidth = 10;
  p.sourceBitsPerPixel = 24;
  p.decodedImage = std::make_shared<SourceBitmap>();
  p.Empty();
  EXPECT_EQ(p.state, 0);
  EXPECT_EQ(p.width + p.height + p.byteCount + p.bitsPerPixel, 0);
  EXPECT_EQ(p.sourceWidth + p.sourceBitsPerPixel, 0);
  EXPECT_FALSE(p.decodedImage);  // a probed file does not stay in memory
  EXPECT_NE(p.pixelData, nullptr);
  p.SetAlpha(1);  // harmless on an emptied picture
  PictureBuffer other;
  EXPECT_FALSE(other.CopyFrom(p));
}

}  // namespace
}  // namespace plombix
