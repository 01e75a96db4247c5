// PictureBuffer: range table, per-pixel adjustments and copying.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>

#include "picture_buffer.h"
#include "picture_test_support.h"
#include "pixel_alloc.h"

namespace plombix {
namespace {

using testing::PixelAt;

// Gives `picture` width x height usable pixels whose bytes all differ.
void Fill(PictureBuffer& picture, int width, int height, uint32_t seed = 1) {
  testing::MakePicture(picture, width, height, [&](int x, int y) {
    return uint32_t(x) * 0x01030507u + uint32_t(y) * 0x0B0D1113u + seed;
  });
}

std::vector<uint8_t> Bytes(const PictureBuffer& p) {
  return std::vector<uint8_t>(p.pixelData.get(), p.pixelData.get() + p.byteCount);
}

TEST(PictureBuffer, RangeTableIsTheExactExpansion) {
  const PictureBuffer p;
  // Every entry: floor((i - 16) x 255 / 219) in floating point, clamped.
  for (int i = 0; i < 256; ++i) {
    const int expected = i < 16 ? 0 : i > 235 ? 255 : int(std::floor((i - 16) * 255.0 / 219.0 + 1e-9));
    EXPECT_EQ(p.rangeTable[size_t(i)], expected) << "input " << i;
  }
}

TEST(PictureBuffer, AdjustmentsReachEveryPixelAndNothingWithoutPixels) {
  PictureBuffer p;
  Fill(p, 5, 3);
  const uint8_t first[] = {16, 126, 235, 255};  // blue, green, red, alpha
  const uint8_t second[] = {0, 17, 200, 128};
  std::memcpy(p.pixelData.get(), first, 4);
  std::memcpy(p.pixelData.get() + 4, second, 4);
  std::vector<uint8_t> before = Bytes(p);
  p.ApplyRangeTable();
  EXPECT_EQ(PixelAt(p, 0, 0), 0xFFFF8000u);  // (0, 128, 255, 255)
  // Alpha goes through the table too: 128 -> floor(112 x 255 / 219) = 130.
  EXPECT_EQ(PixelAt(p, 1, 0), 0x82D60100u);  // (0, 1, 214, 130)
  EXPECT_EQ(p.pixelData[59], p.rangeTable[before[59]]);  // the last byte
  before = Bytes(p);
  p.SetAlpha(0xC3);
  for (int i = 0; i < p.byteCount; ++i)
    ASSERT_EQ(p.pixelData[size_t(i)], i % 4 == 3 ? 0xC3 : before[size_t(i)]) << i;

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

TEST(PictureBuffer, CopyFromCopiesPixelsAndSizesOnlyAndReusesAnEqualBuffer) {
  PictureBuffer source, copy;
  Fill(source, 6, 4, 3);
  source.fileName = "a.png";
  source.filePath = "/x/a.png";
  source.sourceWidth = 300;
  source.sourceBitsPerPixel = 24;
  source.resourceId = 140;
  source.marginLeft = 5;
  Fill(copy, 4, 6, 9);  // same byte count, other shape
  copy.marginTop = 9;
  const uint8_t* buffer = copy.pixelData.get();
  const uint64_t allocations = AllocationCount();
  ASSERT_TRUE(copy.CopyFrom(source));
  EXPECT_EQ(AllocationCount(), allocations);
  EXPECT_EQ(copy.pixelData.get(), buffer);
  EXPECT_EQ(std::tuple(copy.width, copy.height, copy.byteCount, copy.bitsPerPixel, copy.state),
            std::tuple(6, 4, 96, 32, 1));
  EXPECT_EQ(Bytes(copy), Bytes(source));
  // Not copied: names, source sizes, resource id, margins.
  EXPECT_TRUE(copy.fileName.empty() && copy.filePath.empty());
  EXPECT_EQ(copy.sourceWidth + copy.sourceBitsPerPixel + copy.resourceId + copy.marginLeft, 0);
  EXPECT_EQ(copy.marginTop, 9);
  // Onto itself: the pixels stay.
  EXPECT_TRUE(copy.CopyFrom(copy));
  EXPECT_EQ(Bytes(copy), Bytes(source));
}

TEST(PictureBuffer, CopyFromFailuresLeaveTheStatedStates) {
  // An unusable source (state 0): fails, nothing changes.
  PictureBuffer empty, copy;
  Fill(copy, 2, 2);
  const uint8_t* buffer = copy.pixelData.get();
  EXPECT_FALSE(copy.CopyFrom(empty));
  EXPECT_EQ(copy.pixelData.get(), buffer);
  EXPECT_EQ(std::tuple(copy.width, copy.byteCount, copy.state), std::tuple(2, 16, 1));
  // A source whose load failed (state 1, byteCount 0): succeeds without
  // touching memory and leaves a picture that placement skips.
  PictureBuffer failedLoad;
  failedLoad.state = 1;
  failedLoad.pixelData.reset();
  EXPECT_TRUE(copy.CopyFrom(failedLoad));
  EXPECT_EQ(copy.byteCount, 0);
  EXPECT_FALSE(copy.usable());
  // No memory for the buffer: sizes 0, state unchanged; the next copy works.
  PictureBuffer source;
  Fill(source, 8, 8);
  Fill(copy, 2, 2);
  copy.state = 0;
  InjectAllocationFailures(0, 1);
  EXPECT_FALSE(copy.CopyFrom(source));
  InjectAllocationFailures(0, 0);
  EXPECT_EQ(std::tuple(copy.width, copy.height, copy.byteCount, copy.bitsPerPixel, copy.state),
            std::tuple(0, 0, 0, 0, 0));
  EXPECT_TRUE(copy.CopyFrom(source));
  EXPECT_EQ(Bytes(copy), Bytes(source));
}

}  // namespace
}  // namespace plombix
