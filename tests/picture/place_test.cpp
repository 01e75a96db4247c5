// Placement of a picture into a frame: geometry, copy and blend.
#include "place.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <vector>

#include "picture_test_support.h"

namespace plombix {
namespace {

using testing::MakePicture;

// A picture pixel that names its own position: blue/green = column,
// red = row (low bytes), alpha 255 so that blending copies it.
uint32_t Coded(int x, int y) { return 0xFF000000u | uint32_t(y & 0xFF) << 16 | uint32_t(x & 0xFFFF); }

constexpr uint32_t kUntouched = 0x12345678u;

struct Frame {
  int width, height;
  std::vector<uint32_t> pixels;
  Frame(int w, int h)
      : width(w), height(h), pixels(size_t(std::max(w, 0)) * size_t(std::max(h, 0)), kUntouched) {}
  uint8_t* data() { return reinterpret_cast<uint8_t*>(pixels.data()); }
};

// The placement rule's figures, and PlaceInto drawing each placement at the
// 1920 x 1080 output: every frame pixel inside the placement holds its
// picture pixel, every other one is untouched.
TEST(ComputePlacement, FollowsTheCentringAndCuttingRuleAndPlaceIntoDrawsIt) {
  // want: columns, rows, sourceX, sourceY, frameX, frameY.
  struct Row { const char* name; int pw, ph, fw, fh; PlaceMargins m; Placement want; };
  const Row rows[] = {
      // Contain, 4000 x 3000 into 1920 x 1080: 1440 x 1080, d_x = 480/2 = 240.
      {"contained picture from column 240", 1440, 1080, 1920, 1080, {}, {1440, 1080, 0, 0, 240, 0}},
      // Crop & Fill of the same: 1920 x 1440, d_y = -360/2 = -180, rows 180..1259.
      {"cropped picture rows 180 to 1259", 1920, 1440, 1920, 1080, {}, {1920, 1080, 0, 180, 0, 0}},
      // Borders 96/54, Contain 1728 x 972 at (96, 54): margins play no part.
      {"contained inside borders", 1728, 972, 1920, 1080, {96, 96, 54, 54}, {1728, 972, 0, 0, 96, 54}},
      // Crop & Fill inside borders 1536 x 972 at (192, 54).
      {"crop and fill inside borders", 1536, 972, 1920, 1080, {96, 96, 54, 54}, {1536, 972, 0, 0, 192, 54}},
      // 1728 x 1332: d_x = 96; d_y = -252/2 = -126, rows min(1080, 1206) - 108 = 972,
      // from picture row 54 + 126 = 180 to frame row 54: rows 180..1151 onto 54..1025.
      {"cut with borders keeps the strips", 1728, 1332, 1920, 1080, {96, 96, 54, 54},
       {1728, 972, 0, 180, 96, 54}},
      // One column wider: d_x = -1/2 = 0, so 1920 columns and the last is not drawn.
      {"one pixel wider", 1921, 1080, 1920, 1080, {7, 7, 0, 0}, {1920, 1080, 0, 0, 0, 0}},
      // Three wider: d_x = -3/2 = -1 (toward zero), from picture column 1.
      {"odd negative difference truncates toward zero", 1923, 1080, 1920, 1080, {}, {1920, 1080, 1, 0, 0, 0}},
      {"margins larger than the frame draw nothing", 3000, 2000, 1920, 1080, {1000, 1000, 0, 0}, {}},
      {"margins exactly filling the frame draw nothing", 3000, 1080, 1920, 1080, {960, 960, 0, 0}, {}},
      // Negative margins are taken as 0: the plain centred window.
      {"negative margins count as zero", 2000, 1200, 1920, 1080, {-50, -50, -9, -9},
       {1920, 1080, 40, 60, 0, 0}},
      {"empty picture", 0, 10, 100, 100, {}, {}},
      {"empty frame", 10, 10, 0, 100, {}, {}},
      {"negative frame", 10, 10, 100, -4, {}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Placement p = ComputePlacement(row.pw, row.ph, row.fw, row.fh, row.m);
    const Placement& w = row.want;
    if (w.empty()) {
      EXPECT_TRUE(p.empty());
    } else {
      EXPECT_EQ(std::tuple(p.columns, p.rows, p.sourceX, p.sourceY, p.frameX, p.frameY),
                std::tuple(w.columns, w.rows, w.sourceX, w.sourceY, w.frameX, w.frameY));
    }
    if (row.pw <= 0 || row.fw <= 0 || row.fh <= 0) continue;
    PictureBuffer picture;
    MakePicture(picture, row.pw, row.ph, Coded);
    std::tie(picture.marginLeft, picture.marginRight, picture.marginTop, picture.marginBottom) =
        std::tie(row.m.left, row.m.right, row.m.top, row.m.bottom);
    Frame f(row.fw, row.fh);
    picture.PlaceInto(PlaceBlend, f.data(), f.width, f.height);  // opaque: blending copies
    for (int y = 0; y < f.height; ++y)
      for (int x = 0; x < f.width; ++x) {
        const bool inside =
            x >= w.frameX && x < w.frameX + w.columns && y >= w.frameY && y < w.frameY + w.rows;
        const uint32_t want = inside ? Coded(x - w.frameX + w.sourceX, y - w.frameY + w.sourceY) : kUntouched;
        ASSERT_EQ(f.pixels[size_t(y) * size_t(f.width) + size_t(x)], want) << x << ", " << y;
      }
  }
}

TEST(PlaceInto, CopyTakesAllFourBytesAndEveryOtherModeBlends) {
  PictureBuffer picture;
  // Half-transparent mid grey over an opaque frame pixel of 0x12345678.
  MakePicture(picture, 3, 3, [](int, int) { return 0x80C8C8C8u; });
  for (int mode : {int(PlaceCopy), int(PlaceBlend), 0, 3, -1}) {
    Frame f(3, 3);
    picture.PlaceInto(mode, f.data(), 3, 3);
    // Blend over (0x78, 0x56, 0x34, alpha 0x12): weights 255*128 = 32640
    // and 18*127 = 2286, sum 34926; blue (200*32640 + 120*2286)/34926 =
    // 6802320/34926 = 194, green (6528000 + 86*2286)/34926 = 192, red
    // (6528000 + 52*2286)/34926 = 190; alpha 255 - (237*127)/255 = 137.
    const uint32_t want = mode == PlaceCopy ? 0x80C8C8C8u : 0x89BEC0C2u;
    for (uint32_t p : f.pixels) ASSERT_EQ(p, want) << "mode " << mode;
  }
}

TEST(PlaceInto, PicturesWithoutUsablePixelsAndBadFramesDrawNothing) {
  struct Row {
    const char* name;
    void (*spoil)(PictureBuffer&);
  };
  const Row rows[] = {
      {"state 0", [](PictureBuffer& p) { p.state = 0; }},
      {"byte count 0", [](PictureBuffer& p) { p.byteCount = 0; }},
      {"24 bits", [](PictureBuffer& p) { p.bitsPerPixel = 24; }},
      {"no buffer", [](PictureBuffer& p) { p.pixelData.reset(); }},
      {"byte count smaller than the sizes", [](PictureBuffer& p) { p.byteCount -= 4; }},
      {"sizes larger than the buffer", [](PictureBuffer& p) { p.height += 1; }},
      {"negative width", [](PictureBuffer& p) { p.width = -p.width; }},
  };
  for (const Row& row : rows) {
    PictureBuffer picture;
    MakePicture(picture, 4, 4, Coded);
    row.spoil(picture);
    Frame f(4, 4);
    picture.PlaceInto(PlaceCopy, f.data(), 4, 4);
    for (uint32_t p : f.pixels) ASSERT_EQ(p, kUntouched) << row.name;
  }
  PictureBuffer picture;
  MakePicture(picture, 4, 4, Coded);
  picture.PlaceInto(PlaceCopy, nullptr, 4, 4);
  Frame f(4, 4);
  picture.PlaceInto(PlaceCopy, f.data(), 0, 4);
  picture.PlaceInto(PlaceCopy, f.data(), 4, -1);
  for (uint32_t p : f.pixels) EXPECT_EQ(p, kUntouched);
}

}  // namespace
}  // namespace plombix
