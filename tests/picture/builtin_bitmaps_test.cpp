// Built-in bitmaps: compiled in, loaded at their sizes in the display
// format, and usable as a rescale source.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>

#include <set>

#include "picture_buffer.h"
#include "picture_test_support.h"
#include "pixel_alloc.h"
#include "resource_paths.h"

namespace plombix {
namespace {

struct Expected {
  int id, width, height;
  bool storedWithAlpha;
};
const Expected kBitmaps[] = {
    {131, 30, 30, true},  {132, 30, 30, true},  {133, 30, 30, true},   {134, 30, 30, true},
    {140, 720, 276, true}, {144, 64, 48, false}, {145, 38, 30, true},   {147, 38, 30, true},
    {148, 480, 270, false}, {190, 640, 360, false}, {191, 640, 360, false}, {195, 38, 30, true},
    {196, 38, 30, true}};

std::set<int> FourthBytes(const PictureBuffer& p) {
  std::set<int> values;
  for (int i = 3; i < p.byteCount; i += 4) values.insert(p.pixelData[size_t(i)]);
  return values;
}

TEST(BuiltInBitmaps, EachLoadsAtItsSize) {
  ASSERT_EQ(std::size(kBitmaps), kBuiltInBitmapIds.size());
  for (const Expected& e : kBitmaps) {
    SCOPED_TRACE(e.id);
    PictureBuffer p;
    p.sourceBitsPerPixel = 7;
    ASSERT_TRUE(p.LoadResourceBitmap(e.id));
    EXPECT_EQ(p.resourceId, e.id);
    EXPECT_EQ(p.width, e.width);
    EXPECT_EQ(p.height, e.height);
    EXPECT_EQ(p.sourceWidth, e.width);
    EXPECT_EQ(p.sourceHeight, e.height);
    EXPECT_EQ(p.bitsPerPixel, 32);
    EXPECT_EQ(p.byteCount, e.width * e.height * 4);
    EXPECT_EQ(p.state, 1);
    EXPECT_EQ(p.sourceBitsPerPixel, 7);  // not touched
    ASSERT_TRUE(p.resourceBitmap);
    EXPECT_EQ(p.resourceBitmap->bitsPerPixel, 32);
    if (!e.storedWithAlpha) {
      EXPECT_EQ(FourthBytes(p), std::set<int>{0});
    }
  }
}

TEST(BuiltInBitmaps, StartupPictureHasVaryingAlpha) {
  PictureBuffer p;
  ASSERT_TRUE(p.LoadResourceBitmap(140));
  const std::set<int> alphas = FourthBytes(p);
  EXPECT_TRUE(alphas.count(0));    // transparent around the card
  EXPECT_TRUE(alphas.count(255) || *alphas.rbegin() > 200);
  EXPECT_GT(alphas.size(), 10u);   // soft edges and shadow
}

TEST(BuiltInBitmaps, UnknownIdFailsAndChangesNothing) {
  PictureBuffer p;
  ASSERT_TRUE(p.LoadResourceBitmap(148));
  const uint8_t* buffer = p.pixelData.get();
  for (int id : {0, 1, 135, 149, 65535, 70000, -140}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(p.LoadResourceBitmap(id));
    EXPECT_EQ(p.resourceId, 148);
    EXPECT_EQ(p.width, 480);
    EXPECT_EQ(p.pixelData.get(), buffer);
  }
}

TEST(BuiltInBitmaps, AllocationFailureLeavesSizesAtZero) {
  PictureBuffer p;
  p.state = 0;
  InjectAllocationFailures(0, 1);
  EXPECT_FALSE(p.LoadResourceBitmap(190));
  InjectAllocationFailures(0, 0);
  EXPECT_EQ(p.width, 0);
  EXPECT_EQ(p.height, 0);
  EXPECT_EQ(p.byteCount, 0);
  EXPECT_EQ(p.bitsPerPixel, 0);
  EXPECT_EQ(p.state, 0);
  EXPECT_EQ(p.resourceId, 190);  // the bitmap itself was loaded
}

TEST(BuiltInBitmaps, PlaceholderKeepsAlphaZeroWhenRescaled) {
  // The placeholder is stored without alpha, arrives with a fourth byte of
  // 0 and, being a 32-bit bitmap, keeps that through the alpha plane.
  PictureBuffer background;
  ASSERT_TRUE(background.LoadResourceBitmap(148));
  ASSERT_TRUE(background.ScaleFrom(1920, 1080, *background.resourceBitmap));
  EXPECT_EQ(background.width, 1920);
  EXPECT_EQ(FourthBytes(background), std::set<int>{0});
}

TEST(BuiltInBitmaps, IconsAndPathsAreCompiledIn) {
  for (int size : kIconSizes) {
    const QImage icon(QString::fromStdString(IconResourcePath(size)));
    EXPECT_EQ(icon.width(), size);
    EXPECT_EQ(icon.height(), size);
  }
  EXPECT_EQ(BitmapResourcePath(148), ":/bitmaps/148.png");
  EXPECT_TRUE(QFile::exists(QString::fromStdString(BitmapResourcePath(131))));
}

}  // namespace
}  // namespace plombix
