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
// A resampler may compute only a window of the target: every target sample
// depends on its own taps alone, so the window comes out byte for byte as
// the same rectangle cut from the whole target. Source rows may be handed
// over a band at a time (streaming from a decoder) through a ring of rows.
//
// Deterministic: the same input gives the same bytes on every run, however
// the rows are split between calls or threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace plombix {

// Filter of one axis, held for target indices [targetBegin, targetBegin +
// count) of a targetSize-long axis. Target index targetBegin + i reads
// `taps` consecutive source samples from first[i]; weights are in units of
// 1/65536 and those of one target index add up to exactly 65536 (unused taps
// weigh 0). first[] never decreases and first[i] + taps never exceeds
// sourceSize. `taps` is the longest run over the whole axis, so the filters
// of a window are exactly those the whole axis has there.
struct AxisFilter {
  int sourceSize = 0;
  int targetSize = 0;
  int targetBegin = 0;
  int count = 0;
  int taps = 0;
  std::unique_ptr<int32_t[]> first;     // count entries
  std::unique_ptr<uint32_t[]> weights;  // count x taps entries
};

// Builds the filter for sourceSize -> targetSize, for the whole axis or for
// `count` target indices from `targetBegin`. False when a size is 0 or
// less, the range is not inside the axis, or the tables cannot be allocated.
[[nodiscard]] bool BuildAxisFilter(AxisFilter& filter, int sourceSize, int targetSize);
[[nodiscard]] bool BuildAxisFilter(AxisFilter& filter, int sourceSize, int targetSize,
                                   int targetBegin, int count);

enum class ResamplePath {
  Fast,       // SSE2 kernels where the filters are short (at most kFastMaxTaps
              // taps an axis), else the reference
  Reference,  // plain integer loops with full-precision intermediates
};

// The part of a target that is computed: columns [x, x + width), rows
// [y, y + height).
struct TargetWindow {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// Source rows as the resampler reads them: row y (0 = the top row of the
// source) starts at base + (y % ringRows) * strideBytes. A whole picture is
// a ring of all its rows; a decoder's band buffer a ring of fewer.
struct SourceRows {
  const uint8_t* base = nullptr;
  size_t strideBytes = 0;
  int ringRows = 1;

  const uint8_t* row(int y) const { return base + size_t(y % ringRows) * strideBytes; }
};

class Resampler {
 public:
  // Longest filter the fast kernels take (a shrink by a factor below 7).
  static constexpr int kFastMaxTaps = 8;

  // Prepares the filters and the scratch memory for sourceWidth x
  // sourceHeight -> targetWidth x targetHeight, for the whole target or
  // only `window` of it. False (and nothing to run) when a size is 0 or
  // less, the window is empty or not inside the target, the window or the
  // source exceeds 2^31 - 1 bytes, or memory is short.
  [[nodiscard]] bool Prepare(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                             ResamplePath path = ResamplePath::Fast);
  [[nodiscard]] bool Prepare(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                             const TargetWindow& window, ResamplePath path = ResamplePath::Fast);

  // Resamples `source` (sourceWidth x sourceHeight pixels, rows packed) into
  // `target` (the window, rows of window width x 4 bytes). Needs a
  // successful Prepare; `target` may not overlap `source`. Allocates nothing.
  void Run(const uint8_t* source, uint8_t* target) const;

  // Window rows [rowBegin, rowEnd) (0 = the window's top row) into `target`,
  // which holds the whole window (row r at target + r x width x 4). Reads
  // source rows [sourceRowBegin(rowBegin), sourceRowEnd(rowEnd - 1)) and
  // source columns [sourceColumnBegin(), sourceColumnEnd()) only. `scratch`
  // is scratchBytes() bytes from MakeScratch(), one per concurrent caller;
  // calls on disjoint row ranges may run on several threads at once.
  void RunRows(const SourceRows& source, uint8_t* target, int rowBegin, int rowEnd,
               uint8_t* scratch) const;
  [[nodiscard]] std::unique_ptr<uint8_t[]> MakeScratch() const;

  // The source rows window row `row` reads: [sourceRowBegin, sourceRowEnd).
  // Both never decrease with `row`.
  int sourceRowBegin(int row) const { return rows_.first[row]; }
  int sourceRowEnd(int row) const { return rows_.first[row] + rows_.taps; }
  int sourceColumnBegin() const { return columnBegin_; }
  int sourceColumnEnd() const { return columnEnd_; }
  const TargetWindow& window() const { return window_; }

  // True when Run takes the SSE2 kernels.
  bool fast() const { return fast_; }

 private:
  [[nodiscard]] bool PrepareFast();
  void RunReferenceRows(const SourceRows& source, uint8_t* target, int rowBegin, int rowEnd,
                        uint8_t* scratch) const;
  void RunFastRows(const SourceRows& source, uint8_t* target, int rowBegin, int rowEnd,
                   uint8_t* scratch) const;
  void RunCopyRows(const SourceRows& source, uint8_t* target, int rowBegin, int rowEnd) const;

  AxisFilter columns_;  // horizontal: source width -> target width (window columns)
  AxisFilter rows_;     // vertical: source height -> target height (window rows)
  TargetWindow window_;
  int columnBegin_ = 0;  // source columns the window reads
  int columnEnd_ = 0;
  bool fast_ = false;
  bool copy_ = false;  // same size on both axes: the window is copied
  size_t scratchBytes_ = 0;
  std::unique_ptr<uint8_t[]> scratch_;      // Run's own
  std::unique_ptr<int32_t[]> localFirst_;   // fast path: first[] relative to columnBegin_
  std::unique_ptr<uint8_t[]> weightVec_;    // fast path: horizontal weights, 4 lanes each
};

}  // namespace plombix
