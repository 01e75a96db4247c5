// Target sizes and border sizes; the rules are stated in scale_rules.h.
//
// Every ratio and product is a float formed from the integers (x86-64
// evaluates float expressions in single precision, FLT_EVAL_METHOD 0), and
// static_cast<int> truncates toward zero. In the Crop & Fill rows the float
// quotient or product is widened to double, twice the border subtracted in
// double and the difference rounded back to float before truncation.
#include "scale_rules.h"

namespace plombix {
namespace {

// Truncation toward zero. A value no int can hold (only reachable through a
// zero-sized area) gives 0, which makes the rescale fail cleanly.
int Trunc(float value) {
  if (!(value > -2147483520.0f && value < 2147483520.0f)) return 0;
  return static_cast<int>(value);
}

// (float quotient or product, widened) - 2 x border, rounded back to float.
int TruncLessBorders(float value, int border) {
  return Trunc(static_cast<float>(static_cast<double>(value) - 2.0 * border));
}

bool Resamples(int scalingMode, int W, int H) {
  return (scalingMode == ScaleContain || scalingMode == ScaleCropFill) && W > 0 && H > 0;
}

}  // namespace

TargetSize ShownPictureTarget(int scalingMode, int W, int H, int outputWidth, int outputHeight,
                              int borderSidesPx, int borderTopBottomPx) {
  if (!Resamples(scalingMode, W, H)) return {false, W, H};
  const int areaW = outputWidth - 2 * borderSidesPx;
  const int areaH = outputHeight - 2 * borderTopBottomPx;
  const float a = float(W) / float(H);
  const float fw = float(areaW), fh = float(areaH);
  if (scalingMode == ScaleContain) {
    if (a > fw / fh) return {true, areaW, Trunc(fw / a)};
    return {true, Trunc(fh * a), areaH};
  }
  if (fw / fh > a) return {true, areaW, TruncLessBorders(float(outputWidth) / a, borderTopBottomPx)};
  return {true, TruncLessBorders(fh * a, borderSidesPx), areaH};
}

TargetSize OverlayTarget(int scalingMode, int W, int H, int outputWidth, int outputHeight) {
  if (!Resamples(scalingMode, W, H)) return {false, W, H};
  const float a = float(W) / float(H);
  const float fw = float(outputWidth), fh = float(outputHeight);
  const bool fullWidth = scalingMode == ScaleContain ? a > fw / fh : fw / fh > a;
  if (fullWidth) return {true, outputWidth, Trunc(fw / a)};
  return {true, Trunc(fh * a), outputHeight};
}

BorderSizes ComputeBorders(bool use, int sidesPct, int topBottomPct, bool equal, int outputWidth,
                           int outputHeight) {
  if (!use) return {};
  BorderSizes sizes;
  sizes.topBottomPx = topBottomPct * outputHeight / 200;
  sizes.sidesPx = equal ? sizes.topBottomPx : sidesPct * outputWidth / 200;
  return sizes;
}

int FadeStepCount(bool fadeOn, int frameRateN, int frameRateD) {
  if (!fadeOn || frameRateD == 0) return 0;
  return (frameRateN / frameRateD) / 2;
}

}  // namespace plombix
