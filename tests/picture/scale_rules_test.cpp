// Target sizes of the scaling modes, border sizes and fade step counts,
// held against the published figures (output 1920 x 1080 unless a row says
// otherwise) and against hand-worked values.
#include <gtest/gtest.h>

#include <tuple>

#include "scale_rules.h"

namespace plombix {
namespace {

std::tuple<bool, int, int> Fields(const TargetSize& t) { return {t.resample, t.width, t.height}; }

TEST(ScaleRules, ShownPictureTargetsMatchPublishedFigures) {
  const struct {
    const char* name;
    int mode, W, H, outW, outH, sidesPx, topBottomPx;
    bool resample;
    int width, height;
  } cases[] = {
      {"contain 4000x3000", ScaleContain, 4000, 3000, 1920, 1080, 0, 0, true, 1440, 1080},
      {"crop-fill 4000x3000", ScaleCropFill, 4000, 3000, 1920, 1080, 0, 0, true, 1920, 1440},
      // 1080 x 0.5625 = 607.5, truncated.
      {"contain portrait", ScaleContain, 1080, 1920, 1920, 1080, 0, 0, true, 607, 1080},
      // 1920 / 0.5625 = 3413.33, truncated.
      {"crop-fill portrait", ScaleCropFill, 1080, 1920, 1920, 1080, 0, 0, true, 1920, 3413},
      // Equal aspect ratios take the second branch of either mode.
      {"contain equal ratio", ScaleContain, 1920, 1080, 1920, 1080, 0, 0, true, 1920, 1080},
      {"crop-fill equal ratio", ScaleCropFill, 1920, 1080, 1920, 1080, 0, 0, true, 1920, 1080},
      {"contain in borders", ScaleContain, 1920, 1080, 1920, 1080, 96, 54, true, 1728, 972},
      // Second branch: 972 x 16/9 - 2 x 96 = 1536.
      {"crop-fill in borders", ScaleCropFill, 1920, 1080, 1920, 1080, 96, 54, true, 1536, 972},
      // First branch: 1920 / (4/3) - 2 x 54 = 1332.
      {"crop-fill 4:3 in borders", ScaleCropFill, 4000, 3000, 1920, 1080, 96, 54, true, 1728, 1332},
      {"none keeps size", ScaleNone, 4000, 3000, 1920, 1080, 0, 0, false, 4000, 3000},
      {"unknown mode keeps size", 7, 4000, 3000, 1920, 1080, 0, 0, false, 4000, 3000},
      // 4096 x 2160 output, 640 x 480: a = 1.3333334 < 1.8962963.
      {"contain small 4:3 in 4K", ScaleContain, 640, 480, 4096, 2160, 0, 0, true, 2880, 2160},
      // Portrait output 1080 x 1920, landscape picture: 1080 / 1.7777778 = 607.5.
      {"contain landscape in portrait", ScaleContain, 1920, 1080, 1080, 1920, 0, 0, true, 1080, 607},
      {"crop-fill landscape in portrait", ScaleCropFill, 1920, 1080, 1080, 1920, 0, 0, true, 3413, 1920},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Fields(ShownPictureTarget(c.mode, c.W, c.H, c.outW, c.outH, c.sidesPx, c.topBottomPx)),
              std::tuple(c.resample, c.width, c.height))
        << c.name;
  }
  // Sides 99 % of 1920 (950 px each): area 20 x 1080; a portrait picture
  // takes the second branch, 1080 x 0.1 - 1900 < 0: a target the rescale
  // refuses.
  const TargetSize t = ShownPictureTarget(ScaleCropFill, 100, 1000, 1920, 1080, 950, 0);
  EXPECT_TRUE(t.resample && t.width <= 0 && t.height == 1080);
  // Top/bottom borders eating the whole height: the ratio is infinite; the
  // result must still be an int (0 here), never undefined.
  EXPECT_EQ(ShownPictureTarget(ScaleContain, 1920, 1080, 1920, 1080, 0, 540).height, 0);
  EXPECT_FALSE(ShownPictureTarget(ScaleContain, 0, 0, 1920, 1080, 0, 0).resample);
}

TEST(ScaleRules, OverlayTargetsCoverOrFitTheWholeOutput) {
  struct Case { const char* name; int mode, W, H; bool resample; int width, height; } cases[] = {
      {"contain 4:3", ScaleContain, 4000, 3000, true, 1440, 1080},
      {"crop-fill 4:3", ScaleCropFill, 4000, 3000, true, 1920, 1440},
      {"contain portrait", ScaleContain, 1080, 1920, true, 607, 1080},
      {"crop-fill portrait", ScaleCropFill, 1080, 1920, true, 1920, 3413},
      // Wider than 16:9: 2.3703704 > 1.7777778.
      {"contain panorama", ScaleContain, 3200, 1350, true, 1920, 810},
      {"crop-fill panorama", ScaleCropFill, 3200, 1350, true, 2560, 1080},
      {"equal ratio", ScaleCropFill, 3840, 2160, true, 1920, 1080},
      {"none", ScaleNone, 3840, 2160, false, 3840, 2160},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Fields(OverlayTarget(c.mode, c.W, c.H, 1920, 1080)), std::tuple(c.resample, c.width, c.height))
        << c.name;
}

TEST(ScaleRules, BordersFollowThePercentagesOfBothSides) {
  struct Case {
    const char* name;
    bool use;
    int sidesPct, topBottomPct;
    bool equal;
    int outW, outH, sidesPx, topBottomPx;
  } cases[] = {
      {"10/10 at 1080p", true, 10, 10, false, 1920, 1080, 96, 54},
      {"equal takes the pixels of top/bottom", true, 50, 10, true, 1920, 1080, 54, 54},
      {"off whatever the percentages", false, 50, 99, true, 1920, 1080, 0, 0},
      // 99 x 1080 / 200 = 534.6 -> 534; 99 x 1920 / 200 = 950.4 -> 950.
      {"largest percentages", true, 99, 99, false, 1920, 1080, 950, 534},
      // 7 x 2160 / 200 = 75.6 -> 75; 3 x 4096 / 200 = 61.44 -> 61.
      {"4K truncates", true, 3, 7, false, 4096, 2160, 61, 75},
      {"zero percent", true, 0, 0, false, 1920, 1080, 0, 0},
  };
  for (const Case& c : cases) {
    const BorderSizes b = ComputeBorders(c.use, c.sidesPct, c.topBottomPct, c.equal, c.outW, c.outH);
    EXPECT_EQ(std::pair(b.sidesPx, b.topBottomPx), std::pair(c.sidesPx, c.topBottomPx)) << c.name;
  }
}

TEST(ScaleRules, FadeStepsAreHalfTheWholeFrameRate) {
  // 30000/1001 = 29 whole frames: 14 steps; fade off or a broken rate (no
  // division by zero): none.
  for (auto [on, n, d, steps] : {std::tuple{true, 25, 1, 12}, {true, 30000, 1001, 14}, {true, 30, 1, 15},
                                 {true, 50, 1, 25}, {true, 60, 1, 30}, {false, 60, 1, 0}, {true, 60, 0, 0}})
    EXPECT_EQ(FadeStepCount(on, n, d), steps) << n << "/" << d;
}

}  // namespace
}  // namespace plombix
