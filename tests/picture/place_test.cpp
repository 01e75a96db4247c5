// Placement of a picture into a frame: geometry, copy and blend.
#include "place.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kernel_test_support.h"

namespace plombix {
namespace {

using testing::MakePicture;
using testing::PixelAt;

// A picture pixel that names its own position: blue/green = column,
// red = row (low bytes), alpha 255 so that blending copies it.
uint32_t Coded(int x, int y) { return 0xFF000000u | uint32_t(y & 0xFF) << 16 | uint32_t(x & 0xFFFF); }

constexpr uint32_t kUntouched = 0x12345678u;

struct Frame {
  int width, height;
  std::vector<uint32_t> pixels;
  Frame(int w, int h) : width(w), height(h), pixels(size_t(w) * h, kUntouched) {}
  uint8_t* data() { return reinterpret_cast<uint8_t*>(pixels.data()); }
  uint32_t at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

// Checks every frame pixel: inside [x0, x0 + cols) x [y0, y0 + rows) it must
// hold picture pixel (x - x0 + sx, y - y0 + sy), elsewhere be untouched.
void ExpectPlaced(const Frame& f, int x0, int y0, int cols, int rows, int sx, int sy) {
  for (int y = 0; y < f.height; ++y)
    for (int x = 0; x < f.width; ++x) {
      const bool inside = x >= x0 && x < x0 + cols && y >= y0 && y < y0 + rows;
      const uint32_t want = inside ? Coded(x - x0 + sx, y - y0 + sy) : kUntouched;
      if (f.at(x, y) != want) {
        ADD_FAILURE() << "frame pixel (" << x << ", " << y << ") is " << std::hex << f.at(x, y)
                      << ", want " << want;
        return;
      }
    }
}

TEST(ComputePlacement, FollowsTheCentringAndCuttingRule) {
  struct Row {
    const char* name;
    int pw, ph, fw, fh;
    PlaceMargins m;
    Placement want;  // columns, rows, sourceX, sourceY, frameX, frameY
  };
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
      {"cut with borders keeps the strips", 1728, 1332, 1920, 1080, {96, 96, 54, 54}, {1728, 972, 0, 180, 96, 54}},
      // One column wider: d_x = -1/2 = 0, so 1920 columns and the last is not drawn.
      {"one pixel wider", 1921, 1080, 1920, 1080, {7, 7, 0, 0}, {1920, 1080, 0, 0, 0, 0}},
      // Three wider: d_x = -3/2 = -1 (toward zero), from picture column 1.
      {"odd negative difference truncates toward zero", 1923, 1080, 1920, 1080, {}, {1920, 1080, 1, 0, 0, 0}},
      {"margins larger than the frame draw nothing", 3000, 2000, 1920, 1080, {1000, 1000, 0, 0}, {}},
      {"margins exactly filling the frame draw nothing", 3000, 1080, 1920, 1080, {960, 960, 0, 0}, {}},
      // Negative margins are taken as 0: the plain centred window.
      {"negative margins count as zero", 2000, 1200, 1920, 1080, {-50, -50, -9, -9}, {1920, 1080, 40, 60, 0, 0}},
      {"empty picture", 0, 10, 100, 100, {}, {}},
      {"empty frame", 10, 10, 0, 100, {}, {}},
      {"negative frame", 10, 10, 100, -4, {}, {}},
  };
  for (const Row& row : rows) {
    const Placement p = ComputePlacement(row.pw, row.ph, row.fw, row.fh, row.m);
    if (row.want.empty()) {
      EXPECT_TRUE(p.empty()) << row.name;
      continue;
    }
    EXPECT_EQ(p.columns, row.want.columns) << row.name;
    EXPECT_EQ(p.rows, row.want.rows) << row.name;
    EXPECT_EQ(p.sourceX, row.want.sourceX) << row.name;
    EXPECT_EQ(p.sourceY, row.want.sourceY) << row.name;
    EXPECT_EQ(p.frameX, row.want.frameX) << row.name;
    EXPECT_EQ(p.frameY, row.want.frameY) << row.name;
  }
}

TEST(PlaceInto, ContainedPictureLandsFromColumn240) {
  PictureBuffer picture;
  MakePicture(picture, 1440, 1080, Coded);
  Frame f(1920, 1080);
  picture.PlaceInto(PlaceCopy, f.data(), f.width, f.height);
  ExpectPlaced(f, 240, 0, 1440, 1080, 0, 0);
}

TEST(PlaceInto, CroppedPictureShowsRows180To1259) {
  PictureBuffer picture;
  MakePicture(picture, 1920, 1440, Coded);
  Frame f(1920, 1080);
  picture.PlaceInto(PlaceBlend, f.data(), f.width, f.height);  // opaque: blending copies
  ExpectPlaced(f, 0, 0, 1920, 1080, 0, 180);
  EXPECT_EQ(f.at(0, 0), Coded(0, 180));
  EXPECT_EQ(f.at(1919, 1079), Coded(1919, 1259));
}

TEST(PlaceInto, BordersKeepThe54RowStripsOfTheFrame) {
  PictureBuffer picture;
  MakePicture(picture, 1728, 1332, Coded);
  picture.marginLeft = picture.marginRight = 96;
  picture.marginTop = picture.marginBottom = 54;
  Frame f(1920, 1080);
  picture.PlaceInto(PlaceCopy, f.data(), f.width, f.height);
  // Picture rows 180..1151 on frame rows 54..1025, columns 96..1823.
  ExpectPlaced(f, 96, 54, 1728, 972, 0, 180);
  EXPECT_EQ(f.at(96, 54), Coded(0, 180));
  EXPECT_EQ(f.at(96, 1025), Coded(0, 1151));
  EXPECT_EQ(f.at(96, 53), kUntouched);
  EXPECT_EQ(f.at(96, 1026), kUntouched);
}

TEST(PlaceInto, OnePixelWiderPictureLosesItsLastColumn) {
  PictureBuffer picture;
  MakePicture(picture, 65, 10, Coded);
  Frame f(64, 10);
  picture.PlaceInto(PlaceCopy, f.data(), f.width, f.height);
  ExpectPlaced(f, 0, 0, 64, 10, 0, 0);
}

TEST(PlaceInto, SmallerPictureIsCentredWholeWhateverItsMargins) {
  PictureBuffer picture;
  MakePicture(picture, 5, 3, Coded);
  picture.marginLeft = picture.marginRight = picture.marginTop = picture.marginBottom = 100;
  Frame f(10, 8);
  picture.PlaceInto(PlaceCopy, f.data(), f.width, f.height);
  ExpectPlaced(f, 2, 2, 5, 3, 0, 0);  // (10-5)/2 = 2, (8-3)/2 = 2
}

TEST(PlaceInto, MarginsLargerThanTheFrameDrawNothing) {
  PictureBuffer picture;
  MakePicture(picture, 40, 30, Coded);
  picture.marginLeft = picture.marginRight = 20;
  picture.marginTop = picture.marginBottom = 20;
  Frame f(32, 24);
  picture.PlaceInto(PlaceCopy, f.data(), f.width, f.height);
  ExpectPlaced(f, 0, 0, 0, 0, 0, 0);
}

TEST(PlaceInto, CopyTakesAllFourBytesAndEveryOtherModeBlends) {
  PictureBuffer picture;
  // Half-transparent mid grey over an opaque frame pixel of 0x12345678.
  MakePicture(picture, 3, 3, [](int, int) { return 0x80C8C8C8u; });
  for (int mode : {int(PlaceCopy), int(PlaceBlend), 0, 3, -1}) {
    Frame f(3, 3);
    picture.PlaceInto(mode, f.data(), 3, 3);
    // Blend of (0x78, 0x56, 0x34, alpha 0x12) with 200 at alpha 128:
    // blue (120*127 + 200*128)/255 = 40840/255 = 160, green (86*127 + 25600)/255
    // = 36522/255 = 143, red (52*127 + 25600)/255 = 32204/255 = 126,
    // alpha 255 - (237*127)/255 = 255 - 118 = 137.
    const uint32_t want = mode == PlaceCopy ? 0x80C8C8C8u : 0x897E8FA0u;
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

TEST(PlaceInto, RandomGeometriesStayInsideBothBuffers) {
  // Pictures and frames of every relation in size, with random margins
  // (negative ones included); the frame sits between guard pixels that must
  // survive, and the placement must match the per-pixel rule: frame pixel
  // (x, y) shows picture pixel (x - d_x, y - d_y) where that exists and, in
  // a cut dimension, lies between the margins.
  constexpr uint32_t kSeed = 4242;
  std::mt19937 rng(kSeed);
  for (int trial = 0; trial < 150; ++trial) {
    const int pw = 1 + int(rng() % 40), ph = 1 + int(rng() % 40);
    const int fw = 1 + int(rng() % 40), fh = 1 + int(rng() % 40);
    PictureBuffer picture;
    MakePicture(picture, pw, ph, Coded);
    picture.marginLeft = int(rng() % 24) - 4;
    picture.marginRight = int(rng() % 24) - 4;
    picture.marginTop = int(rng() % 24) - 4;
    picture.marginBottom = int(rng() % 24) - 4;
    std::vector<uint32_t> buffer(size_t(fw) * fh + 16, kUntouched);
    picture.PlaceInto(PlaceCopy, reinterpret_cast<uint8_t*>(buffer.data() + 8), fw, fh);
    for (int g = 0; g < 8; ++g) {
      ASSERT_EQ(buffer[g], kUntouched) << "seed " << kSeed << " trial " << trial;
      ASSERT_EQ(buffer[buffer.size() - 1 - g], kUntouched) << "seed " << kSeed << " trial " << trial;
    }
    const int dx = (fw - pw) / 2, dy = (fh - ph) / 2;
    auto inside = [](int f, int d, int p, int size, int before, int after) {
      if (f - d < 0 || f - d >= p) return false;
      if (d >= 0) return true;
      return f >= std::max(before, 0) && f < size - std::max(after, 0);
    };
    for (int y = 0; y < fh; ++y)
      for (int x = 0; x < fw; ++x) {
        const bool shown = inside(x, dx, pw, fw, picture.marginLeft, picture.marginRight) &&
                           inside(y, dy, ph, fh, picture.marginTop, picture.marginBottom);
        const uint32_t want = shown ? Coded(x - dx, y - dy) : kUntouched;
        ASSERT_EQ(buffer[8 + size_t(y) * fw + x], want)
            << "seed " << kSeed << " trial " << trial << " at (" << x << ", " << y << ")";
      }
  }
}

}  // namespace
}  // namespace plombix
