// Resampling of 32-bit pixel buffers to another size.
//
// Separable: first down the columns, then along the rows, each axis with its
// own filter: area averaging where the axis shrinks (each target sample is
// the mean of the source interval it covers, partly covered pixels weighted
// by their share), linear interpolation between the two nearest source
// centres where it grows, a plain copy where its size is unchanged. Each of
// the four bytes of a pixel is resampled on its own: colour is never
// weighted by alpha, and the fourth byte (alpha, for a picture that has
// one) comes out as the same filter applied to the alpha plane alone. The
// arithmetic and its rounding are written out at the top of resample.cpp.
//
// Deterministic: the same input gives the same bytes on every run.
#pragma once

#include <cstdint>
#include <memory>

namespace plombix {

// Filter of one axis. Target index d reads `taps` consecutive source samples
// from first[d]; weights are in units of 1/65536 and those of one target
// index add up to exactly 65536 (unused taps weigh 0). first[d] + taps never
// exceeds sourceSize.
struct AxisFilter {
  int sourceSize = 0;
  int targetSize = 0;
  int taps = 0;
  std::unique_ptr<int32_t[]> first;     // targetSize entries
  std::unique_ptr<uint32_t[]> weights;  // targetSize x taps entries
};

// Builds the filter for sourceSize -> targetSize. False when either size is
// 0 or less or the tables cannot be allocated.
[[nodiscard]] bool BuildAxisFilter(AxisFilter& filter, int sourceSize, int targetSize);

enum class ResamplePath {
  Fast,       // SSE2 kernels where the filters are short (at most kFastMaxTaps
              // taps an axis), else the reference
  Reference,  // plain integer loops with full-precision intermediates
};

class Resampler {
 public:
  // Longest filter the fast kernels take (a shrink by a factor below 7).
  static constexpr int kFastMaxTaps = 8;

  // Prepares the filters and the scratch memory for sourceWidth x
  // sourceHeight -> targetWidth x targetHeight. False (and nothing to run)
  // when a size is 0 or less, a buffer size overflows, or memory is short.
  [[nodiscard]] bool Prepare(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                             ResamplePath path = ResamplePath::Fast);

  // Resamples `source` (sourceWidth x sourceHeight pixels, rows packed) into
  // `target` (targetWidth x targetHeight, rows packed). Needs a successful
  // Prepare; `target` may not overlap `source`. Allocates nothing.
  void Run(const uint8_t* source, uint8_t* target) const;

  // True when Run takes the SSE2 kernels.
  bool fast() const { return fast_; }

 private:
  [[nodiscard]] bool PrepareFast();
  void RunReference(const uint8_t* source, uint8_t* target) const;
  void RunFast(const uint8_t* source, uint8_t* target) const;

  AxisFilter columns_;  // horizontal: source width -> target width
  AxisFilter rows_;     // vertical: source height -> target height
  bool fast_ = false;
  std::unique_ptr<uint8_t[]> scratch_;     // one intermediate row or row group
  std::unique_ptr<uint8_t[]> weightVec_;   // fast path: horizontal weights, 4 lanes each
};

}  // namespace plombix
