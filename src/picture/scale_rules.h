// Target sizes of the three scaling modes, and border sizes.
//
// All ratios and products are single-precision floats formed from the
// integers; trunc() is conversion to int, truncating toward zero; the
// comparisons are strict, so a picture whose aspect ratio equals the area's
// takes the second branch. In the Crop & Fill rows of the shown picture the
// float quotient/product is widened to double, twice the border subtracted
// in double, and the difference rounded back to float before truncation.
// Border sizes are integer arithmetic, quotients truncated.
#pragma once

namespace plombix {

enum ScalingMode : int { ScaleNone = 0, ScaleContain = 1, ScaleCropFill = 2 };

struct TargetSize {
  bool resample = false;  // false: the picture stays at its loaded size
  int width = 0;
  int height = 0;
};

// Target of the shown picture (W x H as loaded) inside the borders of an
// outputWidth x outputHeight frame. Modes other than 1 and 2 do not resample.
TargetSize ShownPictureTarget(int scalingMode, int W, int H, int outputWidth, int outputHeight,
                              int borderSidesPx, int borderTopBottomPx);

// Target of the overlay (W x H as loaded): no borders, the whole output.
TargetSize OverlayTarget(int scalingMode, int W, int H, int outputWidth, int outputHeight);

struct BorderSizes {
  int sidesPx = 0;      // left and right border each
  int topBottomPx = 0;  // top and bottom border each
};

// Border sizes in pixels; both 0 when `use` is false. The percentages are
// totals of both sides (divisor 200); `equal` gives the sides the same
// number of pixels as the top/bottom border.
BorderSizes ComputeBorders(bool use, int sidesPct, int topBottomPct, bool equal, int outputWidth,
                           int outputHeight);

// Cross-fade step count for a newly shown picture: (N / D) / 2 with integer
// division when fading, else 0 (25p: 12, 29.97p: 14, 30p: 15, 50p: 25, 60p: 30).
int FadeStepCount(bool fadeOn, int frameRateN, int frameRateD);

}  // namespace plombix
