// Preview frame conversion, aspect tracking and the fit into the box.
#include "preview_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

namespace plombix {
namespace {

constexpr uint32_t kBgra = 0x41524742u;
constexpr float k16x9 = 16.0f / 9.0f, k9x16 = 9.0f / 16.0f, k4x3 = 4.0f / 3.0f;

// A frame whose pixel (x, y) is 0xFF000000 | (y mod 4096) << 12 | x, rows
// `stridePixels` apart; padding pixels are 0xEEEEEEEE and must never show.
std::vector<uint32_t> CodedFrame(int width, int height, int stridePixels = 0) {
  if (stridePixels == 0) stridePixels = width;
  std::vector<uint32_t> f(size_t(stridePixels) * height, 0xEEEEEEEEu);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) f[size_t(y) * stridePixels + x] = 0xFF000000u | uint32_t(y & 4095) << 12 | x;
  return f;
}

const uint8_t* Bytes(const std::vector<uint32_t>& v) { return reinterpret_cast<const uint8_t*>(v.data()); }

uint32_t ImagePixel(const PreviewFrame& p, int x, int y) {
  uint32_t v;
  std::memcpy(&v, p.pixels() + (size_t(y) * p.header.width + x) * 4, 4);
  return v;
}

TEST(PreviewFrame, SizeRuleCopiesUpTo640WideWholeAndHalvesWiderFrames) {
  // Every image pixel is checked against frame pixel (x, y), or (2x, 2y)
  // when halved: an odd last column or row can then never appear.
  const struct { int width, height, stridePixels, imageWidth, imageHeight; } rows[] = {
      {640, 360, 640, 640, 360},   {641, 360, 641, 320, 180},  {1080, 1920, 1080, 540, 960},
      {721, 481, 721, 360, 240},   {4096, 2160, 4096, 2048, 1080},
      {650, 40, 700, 325, 20},     {300, 20, 320, 300, 20},    // padded rows, halved and whole
      {800, 1, 800, 400, 0},       // halves to no rows: header only, nothing copied
  };
  PreviewFrame p;
  ASSERT_TRUE(p.Setup());
  const uint8_t* first = p.pixels();
  EXPECT_TRUE(p.Setup() && p.pixels() == first);  // allocated once
  for (const auto& row : rows) {
    const std::vector<uint32_t> frame = CodedFrame(row.width, row.height, row.stridePixels);
    const uint32_t before = ImagePixel(p, 0, 0);
    p.LoadFrame(Bytes(frame), row.width, row.height, row.stridePixels * 4, kBgra, k16x9);
    EXPECT_TRUE(row.imageHeight > 0 || ImagePixel(p, 0, 0) == before);
    ASSERT_EQ(std::tuple(p.header.width, p.header.height, p.header.bitCount),
              std::tuple(row.imageWidth, -row.imageHeight, 32)) << row.width << " x " << row.height;
    const int step = row.width > 640 ? 2 : 1;
    for (int y = 0; y < row.imageHeight; ++y)
      for (int x = 0; x < row.imageWidth; ++x)
        ASSERT_EQ(ImagePixel(p, x, y), frame[size_t(y * step) * row.stridePixels + x * step])
            << row.width << " x " << row.height << " at (" << x << ", " << y << ")";
  }
}

TEST(PreviewFrame, AspectTrackingSetsNeedsClearOnlyWhenThePlacementChanges) {
  PreviewFrame p;
  ASSERT_TRUE(p.Setup());
  // The box's own two ratios are the exact floats callers pass.
  EXPECT_EQ(std::pair(p.boxAspect, p.portraitAspect), std::pair(k16x9, k9x16));
  const std::vector<uint32_t> f = CodedFrame(16, 9);
  // Each row loads a frame of `aspect`, after a paint (which lowers the
  // flag) when `painted`.
  const struct { float aspect; bool painted; int needsClear, state; } rows[] = {
      {k16x9, false, 0, Aspect16x9},  // the first frame 16:9: nothing to clear
      {k4x3, false, 1, AspectOther},   {k4x3, true, 0, AspectOther},   // the same ratio again: nothing new
      {k9x16, false, 1, Aspect9x16},   {k9x16, true, 0, Aspect9x16},
      {k16x9, false, 0, Aspect16x9},  // the picture covers the bars: the flag is left as it is
      {k4x3, false, 1, AspectOther},   {k16x9, false, 1, Aspect16x9},  // ...also when it was up
      {2.0f, true, 1, AspectOther},    {k4x3, true, 1, AspectOther},   // two other ratios in turn
      {2.0f, true, 1, AspectOther},    {0.0f, true, 1, AspectOther},   // ratio 0 is an ordinary other ratio
  };
  float lastOther = 0;  // lastAspect: the last ratio that was neither 16:9 nor 9:16
  for (size_t i = 0; i < std::size(rows); ++i) {
    if (rows[i].painted) p.needsClear = 0;
    p.LoadFrame(Bytes(f), 16, 9, 64, kBgra, rows[i].aspect);
    if (rows[i].state == AspectOther) lastOther = rows[i].aspect;
    EXPECT_EQ(std::tuple(p.needsClear, p.aspectState, p.lastAspect),
              std::tuple(rows[i].needsClear, rows[i].state, lastOther)) << "row " << i;
  }
}

// Everything LoadFrame may change.
auto Snapshot(const PreviewFrame& p) {
  uint32_t first = 0;
  if (p.pixels()) std::memcpy(&first, p.pixels(), 4);
  return std::tuple(p.needsClear, p.aspectState, p.header.width, p.header.height, p.header.bitCount, p.lastAspect,
                    first);
}

TEST(PreviewFrame, RefusedFramesChangeNothingAtAll) {
  const std::vector<uint32_t> f = CodedFrame(16, 9);
  PreviewFrame none;  // no Setup: no buffer
  const auto empty = Snapshot(none);
  none.LoadFrame(Bytes(f), 16, 9, 64, kBgra, k4x3);
  EXPECT_EQ(Snapshot(none), empty);

  PreviewFrame p;
  ASSERT_TRUE(p.Setup());
  p.LoadFrame(Bytes(f), 16, 9, 64, kBgra, k16x9);
  const auto before = Snapshot(p);
  const uint8_t* any = Bytes(f);  // never read when refused
  const struct { const uint8_t* bits; int w, h; } rows[] = {
      {any, 640, 13825}, {any, 8194, 4320}, {any, 8192, 4322},  // a row, a column, a row more than the buffer holds
      {any, 2000000000, 2000000000},  // huge sizes do not overflow the check
      {nullptr, 16, 9}, {any, -16, 9}, {any, 16, -9},
  };
  for (const auto& row : rows) {
    p.LoadFrame(row.bits, row.w, row.h, 0, kBgra, k4x3);
    EXPECT_EQ(Snapshot(p), before) << row.w << " x " << row.h;
  }
  // One row or column fewer: 640 x 13824 whole and 8192 x 4320 halved are
  // exactly 4096 x 2160 pixels and are taken. Stride 0 repeats one frame
  // row, so no huge frame is needed.
  const std::vector<uint32_t> row = CodedFrame(8192, 1);
  p.LoadFrame(Bytes(row), 640, 13824, 0, kBgra, k16x9);
  EXPECT_EQ(std::pair(p.header.height, ImagePixel(p, 639, 13823)), std::pair(-13824, row[639]));
  p.LoadFrame(Bytes(row), 8192, 4320, 0, kBgra, k16x9);
  EXPECT_EQ(std::tuple(p.header.width, p.header.height, ImagePixel(p, 4095, 2159)), std::tuple(4096, -2160, row[8190]));
}

TEST(PreviewFrame, DestinationRectPlacesEachRatioInTheBox) {
  const struct { float aspect; int boxW, boxH; PreviewRect want; } rows[] = {
      {k16x9, 320, 180, {0, 0, 320, 180}},
      {k9x16, 320, 180, {109, 0, 101, 180}},  // 320 * 81 / 256 = 101.25 -> 101; (320 - 101) / 2 = 109
      {k4x3, 320, 180, {40, 0, 240, 180}},    // 1.3333334 * 320 / 1.7777778 = 240; (320 - 240) / 2 = 40
      {2.0f, 320, 180, {0, 10, 320, 160}},    // 1.7777778 * 180 / 2 = 160; (180 - 160) / 2 = 10
      {k4x3, 640, 360, {80, 0, 480, 360}},
      {k9x16, 640, 360, {219, 0, 202, 360}},  // 640 * 81 / 256 = 202.5 -> 202; (640 - 202) / 2 = 219
      {0.0f, 320, 180, {160, 0, 0, 180}},     // ratio 0: width 0 at W / 2
  };
  const std::vector<uint32_t> f = CodedFrame(4, 4);
  PreviewFrame p;
  ASSERT_TRUE(p.Setup());
  for (const auto& row : rows) {
    p.LoadFrame(Bytes(f), 4, 4, 16, kBgra, row.aspect);
    const PreviewRect r = p.DestinationRect(row.boxW, row.boxH), w = row.want;
    EXPECT_EQ(std::tuple(r.x, r.y, r.width, r.height), std::tuple(w.x, w.y, w.width, w.height)) << row.aspect;
  }
  // Whatever the ratio and box, the rectangle stays inside the box.
  const float inf = std::numeric_limits<float>::infinity();
  for (float ratio : {std::numeric_limits<float>::quiet_NaN(), -1.0f, -1e30f, inf, -inf, 1e-30f, 1e30f})
    for (auto [w, h] : {std::pair{320, 180}, {1, 1}, {0, 0}, {-5, -7}}) {
      p.LoadFrame(Bytes(f), 4, 4, 16, kBgra, ratio);
      const PreviewRect r = p.DestinationRect(w, h);
      EXPECT_TRUE(r.x >= 0 && r.y >= 0 && r.width >= 0 && r.height >= 0 && r.x + r.width <= std::max(w, 0) &&
                  r.y + r.height <= std::max(h, 0)) << ratio << " in " << w << " x " << h;
    }
}

}  // namespace
}  // namespace plombix
