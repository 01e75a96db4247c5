// Composition of a frame: background, picture, overlay.
#include "compose.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "background.h"
#include "picture_test_support.h"

namespace plombix {
namespace {

using testing::MakePicture;
using testing::PixelAt;
using testing::ReferencePlace;

TEST(ComposeFrame, SoftEdgedLogoOverTransparentOrBlackBackground) {
  // A 40 x 30 picture at (12, 3) of a 64 x 36 frame, transparent except a
  // 10 x 10 logo of colour 0xC08040 whose outer ring of pixels has alpha
  // 128. Over transparent the ring keeps its colour at alpha 128 (what a
  // keyer needs); over black it is (c * 128) / 255: 96, 64, 32.
  const struct { int mode; uint32_t outside, ring; } rows[] = {
      {BackgroundTransparent, 0u, 0x80C08040u}, {BackgroundBlack, 0xFF000000u, 0xFF604020u}};
  for (const auto& row : rows) {
    PictureBuffer background, composed, picture;
    MakePicture(background, 64, 36, [](int, int) { return 0x00406080u; });
    ASSERT_EQ(FillBackground(background, row.mode, 0, 0, background), FillResult::Filled);
    MakePicture(picture, 40, 30, [](int x, int y) {
      if (x < 15 || x >= 25 || y < 10 || y >= 20) return 0x00FFFFFFu;
      return x == 15 || x == 24 || y == 10 || y == 19 ? 0x80C08040u : 0xFFC08040u;
    });
    ComposeFrame(composed, background, picture, nullptr, 64, 36);
    for (int y = 0; y < 36; ++y)
      for (int x = 0; x < 64; ++x) {
        const bool logo = x >= 27 && x < 37 && y >= 13 && y < 23;
        const bool ring = logo && (x == 27 || x == 36 || y == 13 || y == 22);
        ASSERT_EQ(PixelAt(composed, x, y), ring ? row.ring : logo ? 0xFFC08040u : row.outside)
            << "mode " << row.mode << " at " << x << ", " << y;
      }
  }
}

TEST(ComposeFrame, MatchesCopyThenTwoBlendsForRandomPicturesAndMargins) {
  constexpr uint32_t kSeed = 777;
  std::mt19937 rng(kSeed);
  // Runs of transparent, opaque and any pixels, as in real pictures and
  // overlays, so that whole vector groups take the kernels' shortcuts.
  uint32_t kind = 0;
  auto randomPixel = [&rng, &kind](int, int) {
    if (rng() % 24 == 0) kind = rng() % 3;
    const uint32_t v = rng();
    return kind == 0 ? v & 0x00FFFFFFu : kind == 1 ? v | 0xFF000000u : v;
  };
  testing::ForEachSimdLevel([&] {
    for (int trial = 0; trial < 36; ++trial) {
      // Every third frame is wide enough to be composed in several bands
      // of rows (the band is 64 KiB: 16 rows at 1024 pixels).
      const int fw = trial % 3 == 0 ? 500 + int(rng() % 1000) : 1 + int(rng() % 50);
      const int fh = 1 + int(rng() % 40);
      PictureBuffer background, picture, overlay, composed;
      MakePicture(background, fw, fh, randomPixel);
      MakePicture(picture, 1 + int(rng() % (fw + 20)), 1 + int(rng() % (fh + 20)), randomPixel);
      MakePicture(overlay, 1 + int(rng() % (fw + 20)), 1 + int(rng() % (fh + 20)), randomPixel);
      for (int* margin : {&picture.marginLeft, &picture.marginRight, &picture.marginTop, &picture.marginBottom})
        *margin = int(rng() % 8);
      const bool withOverlay = rng() % 2;
      // Half the trials reuse a buffer of the frame's size, half start empty.
      if (trial % 2) MakePicture(composed, fw, fh, [](int, int) { return 0xDEADBEEFu; });

      std::vector<uint32_t> want(size_t(fw) * fh);
      std::memcpy(want.data(), background.pixelData.get(), want.size() * 4);
      ReferencePlace(want, fw, fh, picture, PlaceBlend);
      if (withOverlay) ReferencePlace(want, fw, fh, overlay, PlaceBlend);

      std::vector<uint32_t> copied(want.size(), 0xABABABABu);
      ComposeFrame(composed, background, picture, withOverlay ? &overlay : nullptr, fw, fh,
                   trial % 4 < 2 ? reinterpret_cast<uint8_t*>(copied.data()) : nullptr);
      if (trial % 4 < 2) {
        ASSERT_EQ(copied, want) << "copy out, trial " << trial;
      }
      ASSERT_EQ(testing::Sizes(composed), std::tuple(fw, fh, fw * fh * 4, 32, 1));
      ASSERT_EQ(0, std::memcmp(composed.pixelData.get(), want.data(), want.size() * 4))
          << "seed " << kSeed << " trial " << trial << " frame " << fw << " x " << fh;
    }
  });
}

TEST(ComposeFrame, BackgroundOfAnotherSizeIsCopiedButNothingIsPlacedPastTheBuffer) {
  // A background that failed to reach the output size (here 8 x 4 for a
  // 64 x 36 frame): placing into its copy as if it were a whole frame would
  // write past the end, so the pictures are left out.
  PictureBuffer background, composed, picture;
  MakePicture(background, 8, 4, [](int, int) { return 0xFF010203u; });
  MakePicture(picture, 64, 36, [](int, int) { return 0xFFFFFFFFu; });
  ComposeFrame(composed, background, picture, &picture, 64, 36);
  ASSERT_EQ(composed.byteCount, 8 * 4 * 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(PixelAt(composed, x, y), 0xFF010203u);
}

TEST(ComposeFrame, UnusableBackgroundLeavesTheLastCompositionToBlendOnto) {
  // CopyFrom refuses a background whose state is not 1; the picture then
  // goes over what the composed frame held.
  PictureBuffer background, composed, picture;
  MakePicture(background, 4, 2, [](int, int) { return 0xFFFFFFFFu; });
  background.state = 0;
  MakePicture(composed, 4, 2, [](int, int) { return 0xFF000000u; });
  MakePicture(picture, 2, 2, [](int, int) { return 0xFF0000FFu; });
  ComposeFrame(composed, background, picture, nullptr, 4, 2);
  for (int x = 0; x < 4; ++x)
    EXPECT_EQ(PixelAt(composed, x, 0), x == 1 || x == 2 ? 0xFF0000FFu : 0xFF000000u) << x;
  EXPECT_EQ(PixelAt(composed, 0, 1) >> 24, 255u);
}

}  // namespace
}  // namespace plombix
