// Backgrounds of every mode and the composition of a frame.
#include "background.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "compose.h"
#include "kernel_test_support.h"

namespace plombix {
namespace {

using testing::Alpha;
using testing::Blue;
using testing::MakePicture;
using testing::PixelAt;

// The starting colours: first red 0x20, green 0x30, blue 0x80; second black.
constexpr uint32_t kFirst = 0x00203080u;
constexpr uint32_t kSecond = 0x00000000u;
// The placeholder as it arrives: colour, fourth byte 0.
constexpr uint32_t kPlaceholder = 0x00406080u;

void MakePlaceholder(PictureBuffer& background, int w, int h) {
  MakePicture(background, w, h, [](int, int) { return kPlaceholder; });
}

PictureBuffer& NoGrab() {
  static PictureBuffer empty;
  return empty;
}

TEST(FillBackground, GradientFiguresAt1920x1080) {
  // Blue bytes with the starting colours; every pixel ends opaque.
  struct Point {
    int x, y, blue;
  };
  struct Row {
    int mode;
    std::vector<Point> points;
  };
  const Row rows[] = {
      // Mode 11: rows 0, 1, 539, 540, 1079 give 128, 127, 64, 64, 0.
      {11, {{0, 0, 128}, {1919, 0, 128}, {960, 1, 127}, {5, 539, 64}, {1919, 540, 64}, {0, 1079, 0}}},
      // Mode 13: 128 at the top and bottom rows, 0 in the middle rows.
      {13, {{0, 0, 128}, {959, 539, 0}, {1919, 540, 0}, {7, 1079, 128}}},
      // Mode 15: 128 in the corners, 0 along the centre lines.
      {15, {{0, 0, 128}, {1919, 1079, 128}, {959, 0, 0}, {0, 539, 0}, {959, 539, 0}, {960, 540, 0}}},
  };
  for (const Row& row : rows) {
    PictureBuffer background;
    MakePlaceholder(background, 1920, 1080);
    ASSERT_EQ(FillBackground(background, row.mode, kFirst, kSecond, NoGrab()), FillResult::Filled);
    for (const Point& p : row.points)
      EXPECT_EQ(Blue(PixelAt(background, p.x, p.y)), p.blue) << "mode " << row.mode << " at " << p.x << ", " << p.y;
    for (int i = 0; i < 1920 * 1080; ++i)
      ASSERT_EQ(Alpha(PixelAt(background.pixelData.get(), 1920, i, 0)), 255) << "mode " << row.mode;
  }
}

TEST(FillBackground, WhiteGradientAtTheLargestSizeDoesNotOverflow) {
  PictureBuffer background;
  MakePlaceholder(background, 4096, 2160);
  ASSERT_EQ(FillBackground(background, 11, 0x00FFFFFF, 0x00FFFFFF, NoGrab()), FillResult::Filled);
  for (int y = 0; y < 2160; ++y)
    for (int x = 0; x < 4096; ++x) ASSERT_EQ(PixelAt(background, x, y), 0xFFFFFFFFu) << x << ", " << y;
}

TEST(FillBackground, EachGradientModeUsesItsLayoutAndCorners) {
  // Compared with GradientFill given the corners of the background table,
  // then made opaque; the reversed modes swap the two colours.
  const uint32_t a = 0xAA102030u, b = 0x55F0E0D0u;  // fourth bytes must not matter
  struct Row {
    int mode;
    GradientLayout layout;
    uint32_t c1, c2, c3, c4;
  };
  const Row rows[] = {
      {10, GradientLayout::Full, a, a, b, b},  // mode 10 draws like 11
      {11, GradientLayout::Full, a, a, b, b},
      {12, GradientLayout::Full, b, b, a, a},
      {13, GradientLayout::MirroredHalves, a, a, b, b},
      {14, GradientLayout::MirroredHalves, b, b, a, a},
      {15, GradientLayout::MirroredQuarters, a, b, b, b},
      {16, GradientLayout::MirroredQuarters, b, a, a, a},
  };
  for (const Row& row : rows) {
    PictureBuffer got, want;
    MakePlaceholder(got, 40, 22);
    MakePlaceholder(want, 40, 22);
    ASSERT_EQ(FillBackground(got, row.mode, a, b, NoGrab()), FillResult::Filled) << row.mode;
    want.GradientFill(row.layout, row.c1 & 0xFFFFFF, row.c2 & 0xFFFFFF, row.c3 & 0xFFFFFF,
                      row.c4 & 0xFFFFFF);
    for (int y = 0; y < 22; ++y)
      for (int x = 0; x < 40; ++x)
        ASSERT_EQ(PixelAt(got, x, y), PixelAt(want, x, y) | 0xFF000000u) << "mode " << row.mode;
  }
}

TEST(FillBackground, PlainModesFillEveryPixel) {
  const struct { int mode; uint32_t pixel; } rows[] = {
      {BackgroundBlack, 0xFF000000u}, {BackgroundWhite, 0xFFFFFFFFu}, {BackgroundTransparent, 0u}};
  for (const auto& row : rows) {
    PictureBuffer background;
    MakePlaceholder(background, 7, 5);
    ASSERT_EQ(FillBackground(background, row.mode, kFirst, kSecond, NoGrab()), FillResult::Filled);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) ASSERT_EQ(PixelAt(background, x, y), row.pixel) << row.mode;
  }
}

TEST(FillBackground, UnknownModesAndModesWithoutPixelsLeaveTheBackgroundAlone) {
  for (int mode : {2, 9, 17, 18, 19, 21, 29, 31, -1, 1000}) {
    PictureBuffer background;
    MakePlaceholder(background, 6, 4);
    EXPECT_EQ(FillBackground(background, mode, kFirst, kSecond, NoGrab()), FillResult::Unchanged);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x) ASSERT_EQ(PixelAt(background, x, y), kPlaceholder) << mode;
  }
  struct Spoil {
    const char* name;
    void (*apply)(PictureBuffer&);
  };
  const Spoil spoils[] = {
      {"no buffer", [](PictureBuffer& p) { p.pixelData.reset(); }},
      {"byte count 0", [](PictureBuffer& p) { p.byteCount = 0; }},
      {"width 0", [](PictureBuffer& p) { p.width = 0; }},
      {"sizes larger than the buffer", [](PictureBuffer& p) { p.height = 9; }},
  };
  for (const Spoil& spoil : spoils)
    for (int mode : {0, 1, 10, 11, 13, 15, 30}) {
      PictureBuffer background;
      MakePlaceholder(background, 6, 4);
      spoil.apply(background);
      EXPECT_EQ(FillBackground(background, mode, kFirst, kSecond, NoGrab()), FillResult::Unchanged)
          << spoil.name << " mode " << mode;
      if (!background.pixelData) continue;
      for (int i = 0; i < 6 * 4; ++i)
        ASSERT_EQ(PixelAt(background.pixelData.get(), 6, i, 0), kPlaceholder) << spoil.name;
    }
}

TEST(FillBackground, GrabbedModeCopiesOnlyAGrabOfTheOutputSize) {
  PictureBuffer grab;
  MakePicture(grab, 8, 6, [](int x, int y) { return 0xFF000000u | uint32_t(x * 16 + y); });
  {
    PictureBuffer background;
    MakePlaceholder(background, 8, 6);
    EXPECT_EQ(FillBackground(background, 20, kFirst, kSecond, grab), FillResult::GrabUsed);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x) ASSERT_EQ(PixelAt(background, x, y), PixelAt(grab, x, y));
  }
  struct Row {
    const char* name;
    int w, h;
  };
  // The same byte count in another shape (a portrait output after a
  // landscape grab) would scramble the rows: it counts as another size.
  const Row rows[] = {{"nothing grabbed", 0, 0}, {"another size", 10, 6}, {"transposed", 6, 8}};
  for (const Row& row : rows) {
    PictureBuffer background;
    MakePlaceholder(background, 8, 6);
    PictureBuffer other;
    if (row.w > 0) MakePicture(other, row.w, row.h, [](int, int) { return 0xFFFFFFFFu; });
    EXPECT_EQ(FillBackground(background, 20, kFirst, kSecond, other), FillResult::Unchanged) << row.name;
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x) ASSERT_EQ(PixelAt(background, x, y), kPlaceholder) << row.name;
  }
  // A grab that cannot be copied (state not 1) is not reported as used.
  PictureBuffer background;
  MakePlaceholder(background, 8, 6);
  grab.state = 0;
  EXPECT_EQ(FillBackground(background, 20, kFirst, kSecond, grab), FillResult::Unchanged);
}

}  // namespace
}  // namespace plombix
