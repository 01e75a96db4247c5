// Backgrounds of every mode.
#include "background.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "picture_test_support.h"

namespace plombix {
namespace {

using testing::MakePicture;
using testing::PixelAt;

// The starting colours: first red 0x20, green 0x30, blue 0x80 (with a
// fourth byte that no fill may read); second black.
constexpr uint32_t kFirst = 0xAA203080u;
constexpr uint32_t kSecond = 0x00000000u;
// The placeholder as it arrives: colour, fourth byte 0.
constexpr uint32_t kPlaceholder = 0x00406080u;

void Placeholder(PictureBuffer& background, int w, int h) {
  MakePicture(background, w, h, [](int, int) { return kPlaceholder; });
}

// True when every pixel of `p` (as its sizes say) is `want(x, y)`.
bool Every(const PictureBuffer& p, const std::function<uint32_t(int, int)>& want) {
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      if (PixelAt(p, x, y) != want(x, y)) return false;
  return true;
}
bool Every(const PictureBuffer& p, uint32_t value) {
  return Every(p, [value](int, int) { return value; });
}

const PictureBuffer kNoGrab;

TEST(FillBackground, GradientFiguresAt1920x1080) {
  // Blue bytes with the starting colours; every pixel ends opaque. The
  // reversed modes swap the colours: mode 12 gives 128 y / 1080, mode 14
  // 128 y / 540 mirrored, mode 16 in quarter (x, y) of 960 x 540
  // ((128 x) (540 - y) + 128 (960) y) / 518400, e.g. 127 at (959, 0).
  // points: x, y, blue.
  const struct { int mode; std::vector<std::array<int, 3>> points; } rows[] = {
      // Mode 11 (and 10): rows 0, 1, 539, 540, 1079 give 128, 127, 64, 64, 0.
      {11, {{0, 0, 128}, {1919, 0, 128}, {960, 1, 127}, {5, 539, 64}, {1919, 540, 64}, {0, 1079, 0}}},
      {10, {{0, 0, 128}, {960, 1, 127}, {1919, 540, 64}, {0, 1079, 0}}},
      {12, {{0, 0, 0}, {7, 540, 64}, {1919, 1079, 127}}},
      // Mode 13: 128 at the top and bottom rows, 0 in the middle rows.
      {13, {{0, 0, 128}, {959, 539, 0}, {1919, 540, 0}, {7, 1079, 128}}},
      {14, {{0, 0, 0}, {959, 539, 127}, {1919, 540, 127}, {7, 1079, 0}}},
      // Mode 15: 128 in the corners, 0 along the centre lines.
      {15, {{0, 0, 128}, {1919, 1079, 128}, {959, 0, 0}, {0, 539, 0}, {959, 539, 0}, {960, 540, 0}}},
      {16, {{0, 0, 0}, {1919, 1079, 0}, {959, 0, 127}, {0, 539, 127}, {959, 539, 127}, {960, 540, 127}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.mode);
    PictureBuffer background;
    Placeholder(background, 1920, 1080);
    ASSERT_EQ(FillBackground(background, row.mode, kFirst, kSecond, kNoGrab), FillResult::Filled);
    for (const auto& [x, y, blue] : row.points)
      EXPECT_EQ(PixelAt(background, x, y) & 0xFF, uint32_t(blue)) << x << ", " << y;
    EXPECT_TRUE(Every(background, [&](int x, int y) { return PixelAt(background, x, y) | 0xFF000000u; }));
  }
  // White at the largest size: the largest sums, no overflow.
  PictureBuffer large;
  Placeholder(large, 4096, 2160);
  ASSERT_EQ(FillBackground(large, 11, 0x00FFFFFF, 0x00FFFFFF, kNoGrab), FillResult::Filled);
  EXPECT_TRUE(Every(large, 0xFFFFFFFFu));
}

TEST(FillBackground, PlainModesFillEveryPixelAndOthersLeaveTheBackgroundAlone) {
  for (const auto& [mode, pixel] : {std::pair{int(BackgroundBlack), 0xFF000000u},
                                    {BackgroundWhite, 0xFFFFFFFFu},
                                    {BackgroundTransparent, 0u}}) {
    PictureBuffer background;
    Placeholder(background, 7, 5);
    ASSERT_EQ(FillBackground(background, mode, kFirst, kSecond, kNoGrab), FillResult::Filled);
    EXPECT_TRUE(Every(background, pixel)) << mode;
  }
  for (int mode : {2, 9, 17, 18, 19, 21, 29, 31, -1, 1000}) {
    PictureBuffer background;
    Placeholder(background, 6, 4);
    EXPECT_EQ(FillBackground(background, mode, kFirst, kSecond, kNoGrab), FillResult::Unchanged);
    EXPECT_TRUE(Every(background, kPlaceholder)) << mode;
  }
  // Backgrounds without usable pixels: nothing is written, whatever the mode.
  const struct {
    const char* name;
    void (*spoil)(PictureBuffer&);
  } spoils[] = {
      {"no buffer", [](PictureBuffer& p) { p.pixelData.reset(); }},
      {"byte count 0", [](PictureBuffer& p) { p.byteCount = 0; }},
      {"width 0", [](PictureBuffer& p) { p.width = 0; }},
      {"sizes larger than the buffer", [](PictureBuffer& p) { p.height = 9; }},
  };
  for (const auto& spoil : spoils)
    for (int mode : {0, 1, 10, 11, 13, 15, 30}) {
      PictureBuffer background;
      Placeholder(background, 6, 4);
      spoil.spoil(background);
      EXPECT_EQ(FillBackground(background, mode, kFirst, kSecond, kNoGrab), FillResult::Unchanged)
          << spoil.name << " mode " << mode;
      for (int i = 0; background.pixelData && i < 6 * 4; ++i)
        ASSERT_EQ(PixelAt(background.pixelData.get(), 6, i, 0), kPlaceholder) << spoil.name;
    }
}

TEST(FillBackground, GrabbedModeCopiesOnlyAGrabOfTheOutputSize) {
  PictureBuffer grab;
  const auto grabbed = [](int x, int y) { return 0xFF000000u | uint32_t(x * 16 + y); };
  MakePicture(grab, 8, 6, grabbed);
  PictureBuffer background;
  Placeholder(background, 8, 6);
  EXPECT_EQ(FillBackground(background, BackgroundGrabbed, kFirst, kSecond, grab), FillResult::GrabUsed);
  EXPECT_TRUE(Every(background, grabbed));
  // The same byte count in another shape (a portrait output after a
  // landscape grab) would scramble the rows: it counts as another size. A
  // grab that cannot be copied (state not 1) is not reported as used.
  const struct { const char* name; int w, h, state; } rows[] = {{"nothing grabbed", 0, 0, 1},
              {"another size", 10, 6, 1},
              {"transposed", 6, 8, 1},
              {"state 0", 8, 6, 0}};
  for (const auto& row : rows) {
    PictureBuffer other;
    if (row.w > 0) MakePicture(other, row.w, row.h, [](int, int) { return 0xFFFFFFFFu; });
    other.state = row.state && row.w > 0;
    Placeholder(background, 8, 6);
    EXPECT_EQ(FillBackground(background, BackgroundGrabbed, kFirst, kSecond, other), FillResult::Unchanged)
        << row.name;
    EXPECT_TRUE(Every(background, kPlaceholder)) << row.name;
  }
}

}  // namespace
}  // namespace plombix
