// Preview frame conversion, aspect tracking and the fit into the box.
#include "preview_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace plombix {
namespace {

constexpr uint32_t kBgra = 0x41524742u;
constexpr float k16x9 = 16.0f / 9.0f;
constexpr float k9x16 = 9.0f / 16.0f;
constexpr float k4x3 = 4.0f / 3.0f;

// A frame whose pixel (x, y) is 0xFF000000 | (y mod 4096) << 12 | x, rows
// `stridePixels` apart; padding pixels are 0xEEEEEEEE and must never show.
std::vector<uint32_t> CodedFrame(int width, int height, int stridePixels = 0) {
  if (stridePixels == 0) stridePixels = width;
  std::vector<uint32_t> f(size_t(stridePixels) * height, 0xEEEEEEEEu);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      f[size_t(y) * stridePixels + x] = 0xFF000000u | uint32_t(y & 4095) << 12 | uint32_t(x);
  return f;
}

const uint8_t* Bytes(const std::vector<uint32_t>& v) { return reinterpret_cast<const uint8_t*>(v.data()); }

uint32_t ImagePixel(const PreviewFrame& p, int x, int y) {
  uint32_t v;
  std::memcpy(&v, p.pixels() + (size_t(y) * p.header.width + x) * 4, 4);
  return v;
}

TEST(PreviewFrame, SetupAllocatesOnceAndSetsTheTwoRatios) {
  PreviewFrame p;
  EXPECT_EQ(p.pixels(), nullptr);
  ASSERT_TRUE(p.Setup());
  EXPECT_EQ(std::pair(p.boxAspect, p.portraitAspect), std::pair(k16x9, k9x16));
  const uint8_t* first = p.pixels();
  ASSERT_TRUE(p.Setup());
  EXPECT_EQ(p.pixels(), first);
}

TEST(PreviewFrame, SizeRuleCopiesUpTo640WideWholeAndHalvesWiderFrames) {
  // Every image pixel is checked against frame pixel (x, y), or (2x, 2y)
  // when halved: an odd last column or row can then never appear.
  const struct {
    const char* name;
    int width, height, stridePixels, imageWidth, imageHeight;
  } rows[] = {
      {"640 x 360 whole", 640, 360, 640, 640, 360},
      {"641 x 360: (0,0), (2,0) .. (638,0)", 641, 360, 641, 320, 180},
      {"1920 x 1080", 1920, 1080, 1920, 960, 540},
      {"portrait 1080 x 1920", 1080, 1920, 1080, 540, 960},
      {"721 x 481 drops column 720 and row 480", 721, 481, 721, 360, 240},
      {"4096 x 2160", 4096, 2160, 4096, 2048, 1080},
      {"padded rows halved", 650, 40, 700, 325, 20},
      {"padded rows whole", 300, 20, 320, 300, 20},
      {"800 x 1 halves to no rows: header only", 800, 1, 800, 400, 0},
  };
  PreviewFrame p;
  ASSERT_TRUE(p.Setup());
  for (const auto& row : rows) {
    const std::vector<uint32_t> frame = CodedFrame(row.width, row.height, row.stridePixels);
    const uint32_t before = ImagePixel(p, 0, 0);
    p.LoadFrame(Bytes(frame), row.width, row.height, row.stridePixels * 4, kBgra, k16x9);
    EXPECT_TRUE(row.imageHeight > 0 || ImagePixel(p, 0, 0) == before)
        << "a frame without rows copies nothing";
    ASSERT_EQ(p.header.width, row.imageWidth) << row.name;
    ASSERT_EQ(p.header.height, -row.imageHeight) << row.name;
    ASSERT_EQ(p.header.bitCount, 32) << row.name;
    const int step = row.width > 640 ? 2 : 1;
    for (int y = 0; y < row.imageHeight; ++y)
      for (int x = 0; x < row.imageWidth; ++x)
        ASSERT_EQ(ImagePixel(p, x, y), frame[size_t(y * step) * row.stridePixels + x * step])
            << row.name << " at (" << x << ", " << y << ")";
  }
}

TEST(PreviewFrame, AspectTrackingSetsNeedsClearOnlyWhenThePlacementChanges) {
  PreviewFrame p;
  ASSERT_TRUE(p.Setup());
  const std::vector<uint32_t> f = CodedFrame(16, 9);
  // Each row loads a frame of `aspect`, after a paint (which lowers the
  // flag) when `painted`.
  const struct {
    float aspect;
    bool painted;
    int needsClear, state;
  } rows[] = {
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
    EXPECT_EQ(p.needsClear, rows[i].needsClear) << "row " << i;
    EXPECT_EQ(p.aspectState, rows[i].state) << "row " << i;
    EXPECT_EQ(p.lastAspect, lastOther) << "row " << i;
  }
}

// Everything LoadFrame may change.
struct State {
  int needsClear, aspectState, width, height, bitCount;
  float lastAspect;
  uint32_t firstPixel;
  bool operator==(const State&) const = default;
};

State Snapshot(const PreviewFrame& p) {
  uint32_t first = 0;
  if (p.pixels()) std::memcpy(&first, p.pixels(), 4);
  return {p.needsClear, p.aspectState, p.header.width, p.header.height, p.header.bitCount,
          p.lastAspect, first};
}

TEST(PreviewFrame, RefusedFramesChangeNothingAtAll) {
  const std::vector<uint32_t> f = CodedFrame(16, 9);
  PreviewFrame none;  // no Setup: no buffer
  const State empty = Snapshot(none);
  none.LoadFrame(Bytes(f), 16, 9, 64, kBgra, k4x3);
  EXPECT_EQ(Snapshot(none), empty);

  PreviewFrame p;
  ASSERT_TRUE(p.Setup());
  p.LoadFrame(Bytes(f), 16, 9, 64, kBgra, k16x9);
  const State before = Snapshot(p);
  const uint8_t* any = Bytes(f);  // never read when refused
  const struct {
    const char* name;
    const uint8_t* bits;
    int w, h;
  } rows[] = {
      {"640 wide, one row more than the buffer holds", any, 640, 13825},
      {"halved to 4097 x 2160", any, 8194, 4320},
      {"halved to 4096 x 2161", any, 8192, 4322},
      {"huge sizes do not overflow the check", any, 2000000000, 2000000000},
      {"no pixels", nullptr, 16, 9},
      {"negative width", any, -16, 9},
      {"negative height", any, 16, -9},
  };
  for (const auto& row : rows) {
    p.LoadFrame(row.bits, row.w, row.h, 0, kBgra, k4x3);
    EXPECT_EQ(Snapshot(p), before) << row.name;
  }
  // One row or column fewer: 640 x 13824 whole and 8192 x 4320 halved are
  // exactly 4096 x 2160 pixels and are taken. Stride 0 repeats one frame
  // row, so no huge frame is needed.
  const std::vector<uint32_t> row = CodedFrame(8192, 1);
  p.LoadFrame(Bytes(row), 640, 13824, 0, kBgra, k16x9);
  EXPECT_EQ(p.header.height, -13824);
  EXPECT_EQ(ImagePixel(p, 639, 13823), row[639]);
  p.LoadFrame(Bytes(row), 8192, 4320, 0, kBgra, k16x9);
  EXPECT_EQ(p.header.width, 4096);
  EXPECT_EQ(p.header.height, -2160);
  EXPECT_EQ(ImagePixel(p, 4095, 2159), row[8190]);
}

TEST(PreviewFrame, DestinationRectPlacesEachRatioInTheBox) {
  const struct {
    const char* name;
    float aspect;
    int boxW, boxH;
    PreviewRect want;
  } rows[] = {
      {"16:9 fills", k16x9, 320, 180, {0, 0, 320, 180}},
      // 320 * 81 / 256 = 101.25 -> 101; (320 - 101) / 2 = 109.
      {"9:16 in 320 x 180", k9x16, 320, 180, {109, 0, 101, 180}},
      // 1.3333334 * 320 / 1.7777778 = 240; (320 - 240) / 2 = 40.
      {"4:3 in 320 x 180", k4x3, 320, 180, {40, 0, 240, 180}},
      {"1:1 in 320 x 180", 1.0f, 320, 180, {70, 0, 180, 180}},
      // 1.7777778 * 180 / 2 = 160; (180 - 160) / 2 = 10.
      {"2:1 in 320 x 180", 2.0f, 320, 180, {0, 10, 320, 160}},
      {"4:3 in 640 x 360", k4x3, 640, 360, {80, 0, 480, 360}},
      // 640 * 81 / 256 = 202.5 -> 202; (640 - 202) / 2 = 219.
      {"9:16 in 640 x 360", k9x16, 640, 360, {219, 0, 202, 360}},
      {"ratio 0 gives width 0 at W / 2", 0.0f, 320, 180, {160, 0, 0, 180}},
  };
  const std::vector<uint32_t> f = CodedFrame(4, 4);
  PreviewFrame p;
  ASSERT_TRUE(p.Setup());
  for (const auto& row : rows) {
    p.LoadFrame(Bytes(f), 4, 4, 16, kBgra, row.aspect);
    const PreviewRect r = p.DestinationRect(row.boxW, row.boxH);
    EXPECT_EQ(r.x, row.want.x) << row.name;
    EXPECT_EQ(r.y, row.want.y) << row.name;
    EXPECT_EQ(r.width, row.want.width) << row.name;
    EXPECT_EQ(r.height, row.want.height) << row.name;
  }
}

TEST(PreviewFrame, DestinationRectStaysInsideTheBoxForAnyRatio) {
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<uint32_t> f = CodedFrame(4, 4);
  PreviewFrame p;
  ASSERT_TRUE(p.Setup());
  for (float ratio : {std::numeric_limits<float>::quiet_NaN(), -1.0f, -1e30f, inf, -inf, 1e-30f, 1e30f})
    for (auto [w, h] : {std::pair{320, 180}, {1, 1}, {0, 0}, {-5, -7}}) {
      p.LoadFrame(Bytes(f), 4, 4, 16, kBgra, ratio);
      const PreviewRect r = p.DestinationRect(w, h);
      EXPECT_TRUE(r.x >= 0 && r.y >= 0 && r.width >= 0 && r.height >= 0) << ratio;
      EXPECT_LE(r.x + r.width, std::max(w, 0)) << ratio;
      EXPECT_LE(r.y + r.height, std::max(h, 0)) << ratio;
    }
}

TEST(PreviewFrame, TallyBorderWidthIsAOneSixtyFourthOfTheHeightButAtLeastTwo) {
  const struct { int height, want; } rows[] = {{180, 2}, {125, 2}, {640, 10}, {448, 7}, {0, 2}, {-64, 2}};
  for (const auto& row : rows) EXPECT_EQ(PreviewFrame::TallyBorderWidth(row.height), row.want) << row.height;
}

}  // namespace
}  // namespace plombix
