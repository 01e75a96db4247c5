// Built-in bitmaps: compiled in, loaded at their sizes in the display
// format (32 bits, so that a rescale keeps their fourth byte).
#include <gtest/gtest.h>

#include <QImage>

#include <set>
#include <tuple>

#include "picture_buffer.h"
#include "picture_test_support.h"
#include "pixel_alloc.h"
#include "resource_paths.h"

namespace plombix {
namespace {

using testing::Sizes;

std::set<int> FourthBytes(const PictureBuffer& p) {
  std::set<int> values;
  for (int i = 3; i < p.byteCount; i += 4) values.insert(p.pixelData[size_t(i)]);
  return values;
}

TEST(BuiltInBitmaps, EachLoadsAtItsSizeAndThoseStoredWithoutAlphaHaveAZeroFourthByte) {
  // The sizes the system relies on; 144 (the About picture) is ours to
  // choose. 140 has alpha; 148 (the placeholder), 190 and 191 are stored
  // with 24 bits.
  const struct {
    int id, width, height;
    bool withAlpha;
  } bitmaps[] = {{131, 30, 30, true},   {132, 30, 30, true},  {133, 30, 30, true},   {134, 30, 30, true},
                 {140, 720, 276, true}, {144, 64, 48, false}, {145, 38, 30, true},   {147, 38, 30, true},
                 {148, 480, 270, false}, {190, 640, 360, false}, {191, 640, 360, false}, {195, 38, 30, true},
                 {196, 38, 30, true}};
  ASSERT_EQ(std::size(bitmaps), kBuiltInBitmapIds.size());
  for (const auto& b : bitmaps) {
    SCOPED_TRACE(b.id);
    PictureBuffer p;
    p.sourceBitsPerPixel = 7;
    ASSERT_TRUE(p.LoadResourceBitmap(b.id));
    ASSERT_TRUE(p.resourceBitmap);
    EXPECT_EQ(p.resourceId, b.id);
    EXPECT_EQ(Sizes(p), std::tuple(b.width, b.height, b.width * b.height * 4, 32, 1));
    EXPECT_EQ(std::tuple(p.sourceWidth, p.sourceHeight, p.resourceBitmap->bitsPerPixel),
              std::tuple(b.width, b.height, 32));
    EXPECT_EQ(p.sourceBitsPerPixel, 7);  // not touched
    EXPECT_TRUE(b.withAlpha || FourthBytes(p) == std::set<int>{0});
  }
  // The start-up picture: transparent around the card, soft edges.
  PictureBuffer startup;
  ASSERT_TRUE(startup.LoadResourceBitmap(140));
  const std::set<int> alphas = FourthBytes(startup);
  EXPECT_TRUE(alphas.count(0) && *alphas.rbegin() > 200 && alphas.size() > 10u);
  // The compiled-in icons at their sizes.
  for (int size : kIconSizes)
    EXPECT_EQ(QImage(QString::fromStdString(IconResourcePath(size))).size(), QSize(size, size));
}

TEST(BuiltInBitmaps, UnknownIdOrNoMemory) {
  PictureBuffer p;
  ASSERT_TRUE(p.LoadResourceBitmap(148));
  const uint8_t* buffer = p.pixelData.get();
  for (int id : {0, 1, 135, 149, 65535, 70000, -140}) {
    EXPECT_FALSE(p.LoadResourceBitmap(id)) << id;
    EXPECT_EQ(std::tuple(p.resourceId, p.width, p.pixelData.get()), std::tuple(148, 480, buffer)) << id;
  }
  PictureBuffer q;
  InjectAllocationFailures(0, 1);
  EXPECT_FALSE(q.LoadResourceBitmap(190));
  InjectAllocationFailures(0, 0);
  EXPECT_EQ(Sizes(q), std::tuple(0, 0, 0, 0, 0));
  EXPECT_EQ(q.resourceId, 190);  // the bitmap itself was loaded
}

}  // namespace
}  // namespace plombix
