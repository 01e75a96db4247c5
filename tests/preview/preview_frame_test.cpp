// Preview frame conversion, aspect tracking and the fit into the box.
#include "preview_frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace plombix {
namespace {

constexpr uint32_t kBgra = 0x41524742u;
constexpr float k16x9 = 16.0f / 9.0f;
constexpr float k9x16 = 9.0f / 16.0f;

// A frame whose pixel (x, y) is 0xFF000000 | y << 12 | x: unique per pixel
// up to 4096 columns and 4096 rows (rows modulo 4096 above that).
std::vector<uint32_t> CodedFrame(int width, int height, int strideBytes = 0) {
  const int stridePixels = strideBytes ? strideBytes / 4 : width;
  std::vector<uint32_t> f(size_t(stridePixels) * height, 0xEEEEEEEEu);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) f[size_t(y) * stridePixels + x] = 0xFF000000u | uint32_t(y & 4095) << 12 | uint32_t(x);
  return f;
}

const uint8_t* Bytes(const std::vector<uint32_t>& v) { return reinterpret_cast<const uint8_t*>(v.data()); }

uint32_t ImagePixel(const PreviewFrame& p, int x, int y) {
  uint32_t v;
  std::memcpy(&v, p.pixels() + (size_t(y) * p.header.width + x) * 4, 4);
  return v;
}

PreviewFrame& Ready(PreviewFrame& p) {
  EXPECT_TRUE(p.Setup());
  return p;
}

TEST(PreviewFrame, SetupAllocatesOnceAndSetsTheTwoRatios) {
  PreviewFrame p;
  EXPECT_EQ(p.pixels(), nullptr);
  ASSERT_TRUE(p.Setup());
  EXPECT_EQ(p.boxAspect, k16x9);
  EXPECT_EQ(p.portraitAspect, k9x16);
  EXPECT_FLOAT_EQ(p.boxAspect, 1.7777778f);
  const uint8_t* first = p.pixels();
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(p.Setup());
  EXPECT_EQ(p.pixels(), first);
}

struct SizeRow {
  const char* name;
  int width, height;
  int imageWidth, imageHeight;
  bool halved;
};

TEST(PreviewFrame, SizeRuleCopiesUpTo640WideWholeAndHalvesWiderFrames) {
  const SizeRow rows[] = {
      {"640 x 360 whole", 640, 360, 640, 360, false},
      {"641 x 360 halved", 641, 360, 320, 180, true},
      {"1920 x 1080", 1920, 1080, 960, 540, true},
      {"portrait 1080 x 1920", 1080, 1920, 540, 960, true},
      {"721 x 481 drops the odd column and row", 721, 481, 360, 240, true},
      {"tiny 3 x 2", 3, 2, 3, 2, false},
      {"4096 x 2160", 4096, 2160, 2048, 1080, true},
  };
  PreviewFrame p;
  Ready(p);
  for (const SizeRow& row : rows) {
    const std::vector<uint32_t> frame = CodedFrame(row.width, row.height);
    p.LoadFrame(Bytes(frame), row.width, row.height, row.width * 4, kBgra, k16x9);
    ASSERT_EQ(p.header.width, row.imageWidth) << row.name;
    ASSERT_EQ(p.header.height, -row.imageHeight) << row.name;
    ASSERT_EQ(p.header.bitCount, 32) << row.name;
    const int step = row.halved ? 2 : 1;
    for (int y = 0; y < row.imageHeight; ++y)
      for (int x = 0; x < row.imageWidth; ++x)
        ASSERT_EQ(ImagePixel(p, x, y), frame[size_t(y * step) * row.width + x * step])
            << row.name << " at (" << x << ", " << y << ")";
  }
}

TEST(PreviewFrame, HalvedFrameNeverShowsTheOddLastColumnOrRow) {
  // 721 x 481: column 720 and row 480 are painted a colour that must not
  // appear anywhere in the 360 x 240 image.
  std::vector<uint32_t> frame = CodedFrame(721, 481);
  for (int y = 0; y < 481; ++y) frame[size_t(y) * 721 + 720] = 0x0BADF00Du;
  for (int x = 0; x < 721; ++x) frame[size_t(480) * 721 + x] = 0x0BADF00Du;
  PreviewFrame p;
  Ready(p);
  p.LoadFrame(Bytes(frame), 721, 481, 721 * 4, kBgra, 4.0f / 3.0f);
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 360; ++x) ASSERT_NE(ImagePixel(p, x, y), 0x0BADF00Du);
  EXPECT_EQ(ImagePixel(p, 359, 239), frame[size_t(478) * 721 + 718]);
}

TEST(PreviewFrame, RowsAreReadAtTheGivenStride) {
  // Rows padded to 700 pixels; the padding (0xEEEEEEEE) must never show.
  const std::vector<uint32_t> padded = CodedFrame(650, 40, 700 * 4);
  const std::vector<uint32_t> small = CodedFrame(300, 20, 320 * 4);
  PreviewFrame p;
  Ready(p);
  p.LoadFrame(Bytes(padded), 650, 40, 700 * 4, kBgra, k16x9);
  ASSERT_EQ(p.header.width, 325);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 325; ++x) ASSERT_EQ(ImagePixel(p, x, y), padded[size_t(2 * y) * 700 + 2 * x]);
  p.LoadFrame(Bytes(small), 300, 20, 320 * 4, kBgra, k16x9);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 300; ++x) ASSERT_EQ(ImagePixel(p, x, y), small[size_t(y) * 320 + x]);
}

TEST(PreviewFrame, FrameWithoutRowsSetsTheHeaderAndCopiesNothing) {
  PreviewFrame p;
  Ready(p);
  const std::vector<uint32_t> first = CodedFrame(8, 8);
  p.LoadFrame(Bytes(first), 8, 8, 32, kBgra, k16x9);
  const std::vector<uint32_t> thin(800, 0x11111111u);
  p.LoadFrame(Bytes(thin), 800, 1, 3200, kBgra, k16x9);  // 400 x 0 after halving
  EXPECT_EQ(p.header.width, 400);
  EXPECT_EQ(p.header.height, 0);
  uint32_t kept;
  std::memcpy(&kept, p.pixels(), 4);
  EXPECT_EQ(kept, first[0]);
}

TEST(PreviewFrame, AspectTrackingSetsNeedsClearOnlyWhenThePlacementChanges) {
  PreviewFrame p;
  Ready(p);
  const std::vector<uint32_t> f = CodedFrame(16, 9);
  auto load = [&](float aspect) { p.LoadFrame(Bytes(f), 16, 9, 64, kBgra, aspect); };

  load(k16x9);  // first frame 16:9: nothing to clear
  EXPECT_EQ(p.aspectState, Aspect16x9);
  EXPECT_EQ(p.needsClear, 0);

  load(4.0f / 3.0f);
  EXPECT_EQ(p.needsClear, 1);
  EXPECT_EQ(p.aspectState, AspectOther);
  EXPECT_EQ(p.lastAspect, 4.0f / 3.0f);

  p.needsClear = 0;  // a paint
  load(4.0f / 3.0f);
  EXPECT_EQ(p.needsClear, 0);

  load(k9x16);
  EXPECT_EQ(p.needsClear, 1);
  EXPECT_EQ(p.aspectState, Aspect9x16);
  p.needsClear = 0;
  load(k9x16);  // staying portrait
  EXPECT_EQ(p.needsClear, 0);

  load(k16x9);  // back to 16:9: the picture covers the bars, flag unchanged
  EXPECT_EQ(p.aspectState, Aspect16x9);
  EXPECT_EQ(p.needsClear, 0);
  load(4.0f / 3.0f);
  load(k16x9);
  EXPECT_EQ(p.needsClear, 1);  // set by 4:3, left by 16:9
  EXPECT_EQ(p.lastAspect, 4.0f / 3.0f);
}

TEST(PreviewFrame, AlternatingTwoOtherRatiosSetsNeedsClearOnEveryChange) {
  PreviewFrame p;
  Ready(p);
  const std::vector<uint32_t> f = CodedFrame(4, 3);
  for (int i = 0; i < 6; ++i) {
    p.needsClear = 0;
    const float ratio = i % 2 ? 2.0f : 4.0f / 3.0f;
    p.LoadFrame(Bytes(f), 4, 3, 16, kBgra, ratio);
    EXPECT_EQ(p.needsClear, 1) << i;
    EXPECT_EQ(p.lastAspect, ratio);
  }
}

TEST(PreviewFrame, RatioZeroIsAnOrdinaryOtherRatio) {
  PreviewFrame p;
  Ready(p);
  const std::vector<uint32_t> f = CodedFrame(4, 3);
  p.lastAspect = 5.0f;
  p.LoadFrame(Bytes(f), 4, 3, 16, kBgra, 0.0f);
  EXPECT_EQ(p.aspectState, AspectOther);
  EXPECT_EQ(p.lastAspect, 0.0f);
  EXPECT_EQ(p.needsClear, 1);
}

// Snapshot of everything LoadFrame may change.
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

TEST(PreviewFrame, WithoutABufferNothingChangesAtAll) {
  PreviewFrame p;  // no Setup
  const std::vector<uint32_t> f = CodedFrame(8, 8);
  const State before = Snapshot(p);
  p.LoadFrame(Bytes(f), 8, 8, 32, kBgra, 4.0f / 3.0f);
  EXPECT_EQ(Snapshot(p), before);
}

TEST(PreviewFrame, FramesThatWouldNotFitOrHaveNoPixelsAreRefusedWithoutChange) {
  PreviewFrame p;
  Ready(p);
  const std::vector<uint32_t> f = CodedFrame(16, 9);
  p.LoadFrame(Bytes(f), 16, 9, 64, kBgra, k16x9);
  const State before = Snapshot(p);
  const uint32_t one = 0xFFFFFFFFu;
  const uint8_t* any = reinterpret_cast<const uint8_t*>(&one);  // never read when refused
  struct Row {
    const char* name;
    const uint8_t* bits;
    int w, h;
  };
  const Row rows[] = {
      {"640 wide, one row more than the buffer holds", any, 640, 13825},
      {"halved image one column too wide (4097 x 2160)", any, 8194, 4320},
      {"halved image one row too tall (4096 x 2161)", any, 8192, 4322},
      {"huge sizes do not overflow the check", any, 2000000000, 2000000000},
      {"no pixels", nullptr, 16, 9},
      {"negative width", any, -16, 9},
      {"negative height", any, 16, -9},
  };
  for (const Row& row : rows) {
    p.LoadFrame(row.bits, row.w, row.h, 0, kBgra, 4.0f / 3.0f);
    EXPECT_EQ(Snapshot(p), before) << row.name;
  }
}

TEST(PreviewFrame, FramesExactlyFillingTheBufferAreAccepted) {
  // 640 x 13824 whole and 8192 x 4320 halved are exactly 4096 x 2160
  // pixels. Stride 0 repeats one frame row, so no huge frame is needed.
  PreviewFrame p;
  Ready(p);
  const std::vector<uint32_t> row = CodedFrame(8192, 1);
  p.LoadFrame(Bytes(row), 640, 13824, 0, kBgra, k16x9);
  EXPECT_EQ(p.header.width, 640);
  EXPECT_EQ(p.header.height, -13824);
  EXPECT_EQ(ImagePixel(p, 639, 13823), row[639]);
  p.LoadFrame(Bytes(row), 8192, 4320, 0, kBgra, k16x9);
  EXPECT_EQ(p.header.width, 4096);
  EXPECT_EQ(p.header.height, -2160);
  EXPECT_EQ(ImagePixel(p, 4095, 2159), row[8190]);
}

struct RectRow {
  const char* name;
  float aspect;
  int boxW, boxH;
  PreviewRect want;
};

TEST(PreviewFrame, DestinationRectPlacesEachRatioInTheBox) {
  const RectRow rows[] = {
      {"16:9 fills", k16x9, 320, 180, {0, 0, 320, 180}},
      // 320 * 81 / 256 = 101.25 -> 101; (320 - 101) / 2 = 109.
      {"9:16 in 320 x 180", k9x16, 320, 180, {109, 0, 101, 180}},
      // 1.3333334 * 320 / 1.7777778 = 240; (320 - 240) / 2 = 40.
      {"4:3 in 320 x 180", 4.0f / 3.0f, 320, 180, {40, 0, 240, 180}},
      {"1:1 in 320 x 180", 1.0f, 320, 180, {70, 0, 180, 180}},
      // 1.7777778 * 180 / 2 = 160; (180 - 160) / 2 = 10.
      {"2:1 in 320 x 180", 2.0f, 320, 180, {0, 10, 320, 160}},
      {"4:3 in 640 x 360", 4.0f / 3.0f, 640, 360, {80, 0, 480, 360}},
      // 640 * 81 / 256 = 202.5 -> 202; (640 - 202) / 2 = 219.
      {"9:16 in 640 x 360", k9x16, 640, 360, {219, 0, 202, 360}},
      {"ratio 0 gives width 0 at W / 2", 0.0f, 320, 180, {160, 0, 0, 180}},
  };
  const std::vector<uint32_t> f = CodedFrame(4, 4);
  for (const RectRow& row : rows) {
    PreviewFrame p;
    Ready(p);
    p.LoadFrame(Bytes(f), 4, 4, 16, kBgra, row.aspect);
    const PreviewRect r = p.DestinationRect(row.boxW, row.boxH);
    EXPECT_EQ(r.x, row.want.x) << row.name;
    EXPECT_EQ(r.y, row.want.y) << row.name;
    EXPECT_EQ(r.width, row.want.width) << row.name;
    EXPECT_EQ(r.height, row.want.height) << row.name;
  }
}

TEST(PreviewFrame, DestinationRectStaysInsideTheBoxForAnyRatio) {
  const float odd[] = {std::numeric_limits<float>::quiet_NaN(), -1.0f, -1e30f,
                       std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                       1e-30f, 1e30f};
  const std::vector<uint32_t> f = CodedFrame(4, 4);
  for (float ratio : odd)
    for (auto [w, h] : {std::pair{320, 180}, {1, 1}, {0, 0}, {-5, -7}}) {
      PreviewFrame p;
      Ready(p);
      p.LoadFrame(Bytes(f), 4, 4, 16, kBgra, ratio);
      const PreviewRect r = p.DestinationRect(w, h);
      const int W = std::max(w, 0), H = std::max(h, 0);
      EXPECT_GE(r.x, 0) << ratio;
      EXPECT_GE(r.y, 0) << ratio;
      EXPECT_GE(r.width, 0) << ratio;
      EXPECT_GE(r.height, 0) << ratio;
      EXPECT_LE(r.x + r.width, W) << ratio;
      EXPECT_LE(r.y + r.height, H) << ratio;
    }
}

TEST(PreviewFrame, TallyBorderWidthIsAOneSixtyFourthOfTheHeightButAtLeastTwo) {
  const struct { int height, want; } rows[] = {
      {180, 2}, {125, 2}, {640, 10}, {448, 7}, {0, 2}, {-64, 2}};
  for (const auto& row : rows) EXPECT_EQ(PreviewFrame::TallyBorderWidth(row.height), row.want) << row.height;
}

}  // namespace
}  // namespace plombix
