// Gradient fills: the incremental kernels against the direct formulas.
#include "gradient.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "picture_test_support.h"

namespace plombix {
namespace {

using testing::ForEachSimdLevel;
using testing::RandomBytes;

int64_t Channel(uint32_t colour, int c) { return (colour >> (8 * c)) & 0xFF; }

// The direct formula of one block, one division per pixel and channel.
uint8_t Direct(int64_t x, int64_t y, int64_t w, int64_t h, const uint32_t k[4], int c) {
  const int64_t n = (Channel(k[0], c) * (w - x) + Channel(k[1], c) * x) * (h - y) +
                    (Channel(k[2], c) * (w - x) + Channel(k[3], c) * x) * y;
  return uint8_t(n / (w * h));
}

// The whole picture as the layout describes it, pixel by pixel, starting
// from `before` (untouched pixels and every fourth byte keep their value).
std::vector<uint8_t> DirectFill(std::vector<uint8_t> before, int W, int H, GradientLayout layout,
                                const uint32_t k[4]) {
  auto put = [&](int64_t x, int64_t y, int64_t bx, int64_t by, int64_t bw, int64_t bh) {
    for (int c = 0; c < 3; ++c) before[(size_t(y) * W + x) * 4 + c] = Direct(bx, by, bw, bh, k, c);
  };
  if (layout == GradientLayout::Full) {
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) put(x, y, x, y, W, H);
  } else if (layout == GradientLayout::MirroredHalves) {
    const int h = H / 2;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < W; ++x) {
        put(x, y, x, y, W, h);
        put(x, H - 1 - y, x, y, W, h);
      }
  } else {
    const int w = W / 2, h = H / 2;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        put(x, y, x, y, w, h);
        put(W - 1 - x, y, x, y, w, h);
        put(x, H - 1 - y, x, y, w, h);
        put(W - 1 - x, H - 1 - y, x, y, w, h);
      }
  }
  return before;
}

const GradientLayout kLayouts[] = {GradientLayout::Full, GradientLayout::MirroredHalves,
                                   GradientLayout::MirroredQuarters};

TEST(FillGradient, MatchesTheDirectFormulaForEverySizeLayoutAndRandomColours) {
  // Tiny, odd, and lopsided sizes (odd ones leave a middle row or column
  // as it was), rows so wide that each block of computed rows holds one,
  // and a frame of many blocks.
  const int sizes[][2] = {{1, 1},   {1, 2},    {2, 1},   {2, 2},   {3, 3},    {4, 4},
                          {5, 7},   {7, 5},    {17, 9},  {64, 36}, {641, 361}, {8194, 3},
                          {3, 300}, {962, 542}};
  constexpr uint32_t kSeed = 1206;
  std::mt19937 rng(kSeed);
  ForEachSimdLevel([&] {
    for (const auto& size : sizes) {
      const int W = size[0], H = size[1];
      const bool big = int64_t(W) * H > 100000;
      for (GradientLayout layout : kLayouts)
        for (int trial = 0; trial < (big ? 1 : 4); ++trial) {
          // The first trials put 0 and 255 in the corners (the largest sums
          // and the steepest steps), the others random colours.
          uint32_t k[4] = {uint32_t(rng()), uint32_t(rng()), uint32_t(rng()), uint32_t(rng())};
          if (trial < 2)
            for (int i = 0; i < 4; ++i) k[i] = (i + trial) % 2 ? 0x00FFFFFFu : 0u;
          const std::vector<uint8_t> before = RandomBytes(size_t(W) * H * 4, rng());
          std::vector<uint8_t> fast = before;
          FillGradient(fast.data(), W, H, layout, k[0], k[1], k[2], k[3]);
          ASSERT_EQ(fast, DirectFill(before, W, H, layout, k))
              << W << " x " << H << " layout " << int(layout) << " seed " << kSeed;
        }
    }
  });
}

TEST(FillGradient, BadArgumentsWriteNothing) {
  std::vector<uint8_t> pixels(64, 0x33);
  FillGradient(nullptr, 4, 4, GradientLayout::Full, 1, 2, 3, 4);
  FillGradient(pixels.data(), 0, 4, GradientLayout::Full, ~0u, ~0u, ~0u, ~0u);
  FillGradient(pixels.data(), 4, -1, GradientLayout::Full, ~0u, ~0u, ~0u, ~0u);
  FillGradient(pixels.data(), 65536, 65536, GradientLayout::Full, ~0u, ~0u, ~0u, ~0u);
  EXPECT_EQ(pixels, std::vector<uint8_t>(64, 0x33));
}

TEST(GradientFill, FillsThePicturesOwnBufferOnlyWhenItsSizesFit) {
  PictureBuffer picture;
  testing::MakePicture(picture, 6, 4, [](int, int) { return 0x7F000000u; });
  picture.GradientFill(GradientLayout::Full, 0x00FFFFFF, 0x00FFFFFF, 0x00FFFFFF, 0x00FFFFFF);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) ASSERT_EQ(testing::PixelAt(picture, x, y), 0x7FFFFFFFu);
  // Sizes that claim more than the buffer holds: left alone.
  picture.height = 5;
  picture.GradientFill(GradientLayout::Full, 0, 0, 0, 0);
  picture.height = 4;
  EXPECT_EQ(testing::PixelAt(picture, 5, 3), 0x7FFFFFFFu);
}

}  // namespace
}  // namespace plombix
