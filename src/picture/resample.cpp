// Resampler: filters, the reference path, and the choice of path.
//
// Filters (one per axis; S source samples, T target samples):
//
//   T == S  a copy: target d takes source d with weight 1.
//
//   T <  S  area averaging. Target d covers the source interval
//           [d*S/T, (d+1)*S/T). Measured in units of 1/T source pixel this
//           is [d*S, (d+1)*S), and source pixel i covers [i*T, (i+1)*T), so
//           the overlap o_i = min((i+1)T, (d+1)S) - max(iT, dS) is an exact
//           integer and the o_i of one target add up to S. Weight:
//           w_i = round(o_i * 65536 / S).
//
//   T >  S  linear interpolation between source centres. The centre of
//           target d lies at source position x = (d + 1/2) * S/T - 1/2
//           = ((2d+1)S - T) / 2T = i0 + r/2T with integer i0 and
//           0 <= r < 2T. Weights w1 = round(r * 65536 / 2T) for i0 + 1 and
//           65536 - w1 for i0. Left of the first centre (x <= 0) and right
//           of the last (i0 >= S-1) the edge pixel is taken whole.
//
//   Rounding can leave the weights of one target a few units off 65536;
//   the difference is added to its largest weight, so that they add up to
//   exactly 65536 and a uniform area stays exactly uniform. Every target
//   index of an axis then gets the same number of taps (the longest run),
//   padded with weight 0 and the run shifted left where it would pass the
//   end.
//
// Reference path (all integer, per byte; p a source byte, wv/wh weights):
//   vertical    v = (sum_k p_k * wv_k + 128) >> 8         8.8 fixed point;
//               sum <= 255 * 65536, v <= 65280
//   horizontal  out = (sum_k v_k * wh_k + 2^23) >> 24     rounded to nearest,
//               halves up; sum <= 65280 * 65536 < 2^32 - 2^23
// A uniform area gives v = p * 256 and out = p exactly; an exact 2:1 shrink
// gives the 2 x 2 mean rounded half up.
//
// The fast path (resample_fast.cpp) uses the same filters with 16-bit
// arithmetic and stays within 1 of the reference.
#include "resample.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "pixel_alloc.h"

namespace plombix {
namespace {

constexpr uint32_t kOne = 65536;

// Fills `w` (room for `count` entries) for target d of an area-averaging
// axis and returns the first source index.
int AreaWeights(int64_t S, int64_t T, int64_t d, uint32_t* w, int* count) {
  const int64_t lo = d * S, hi = (d + 1) * S;
  const int64_t i0 = lo / T, i1 = (hi + T - 1) / T - 1;
  *count = int(i1 - i0 + 1);
  if (!w) return int(i0);
  for (int64_t i = i0; i <= i1; ++i) {
    const int64_t overlap = std::min((i + 1) * T, hi) - std::max(i * T, lo);
    w[i - i0] = uint32_t((overlap * kOne + S / 2) / S);
  }
  return int(i0);
}

int LinearWeights(int64_t S, int64_t T, int64_t d, uint32_t* w, int* count) {
  const int64_t num = (2 * d + 1) * S - T;
  const int64_t den = 2 * T;
  if (num <= 0) {
    *count = 1;
    if (w) w[0] = kOne;
    return 0;
  }
  const int64_t i0 = num / den, r = num % den;
  if (i0 >= S - 1) {
    *count = 1;
    if (w) w[0] = kOne;
    return int(S - 1);
  }
  *count = 2;
  if (w) {
    const uint32_t w1 = uint32_t((r * kOne + T) / den);
    w[0] = kOne - w1;
    w[1] = w1;
  }
  return int(i0);
}

// Weights and first index of target d, before padding; `w` may be null to
// learn the count only.
int TargetRun(int S, int T, int d, uint32_t* w, int* count) {
  if (S == T) {
    *count = 1;
    if (w) w[0] = kOne;
    return d;
  }
  return T < S ? AreaWeights(S, T, d, w, count) : LinearWeights(S, T, d, w, count);
}

// The longest run over the whole axis. A copy has runs of 1; a growth runs
// of 2 (1 at the edges, and everywhere when S is 1); a shrink is counted
// (T < S, so at most S targets).
int AxisTaps(int S, int T) {
  if (S == T) return 1;
  if (T > S) return S == 1 ? 1 : 2;
  int taps = 1;
  for (int d = 0; d < T; ++d) {
    int count = 0;
    TargetRun(S, T, d, nullptr, &count);
    taps = std::max(taps, count);
  }
  // Area runs span at most ceil(S/T) + 1 samples, never more than S.
  return std::min(taps, S);
}

void NormaliseSum(uint32_t* w, int count) {
  uint32_t sum = 0;
  int largest = 0;
  for (int k = 0; k < count; ++k) {
    sum += w[k];
    if (w[k] > w[largest]) largest = k;
  }
  w[largest] += kOne - sum;  // unsigned wrap-around gives the signed fix-up
}

}  // namespace

bool BuildAxisFilter(AxisFilter& filter, int sourceSize, int targetSize) {
  return BuildAxisFilter(filter, sourceSize, targetSize, 0, targetSize);
}

bool BuildAxisFilter(AxisFilter& filter, int sourceSize, int targetSize, int targetBegin,
                     int count) {
  filter = AxisFilter{};
  if (sourceSize <= 0 || targetSize <= 0 || count <= 0 || targetBegin < 0 ||
      targetBegin > targetSize - count)
    return false;

  const int taps = AxisTaps(sourceSize, targetSize);
  auto first = AllocateArray<int32_t>(size_t(count));
  auto weights = AllocateArray<uint32_t>(size_t(count) * size_t(taps));
  auto raw = AllocateArray<uint32_t>(size_t(taps));
  if (!first || !weights || !raw) return false;

  for (int i = 0; i < count; ++i) {
    int runLength = 0;
    const int start = TargetRun(sourceSize, targetSize, targetBegin + i, raw.get(), &runLength);
    NormaliseSum(raw.get(), runLength);
    const int shifted = std::min(start, sourceSize - taps);
    uint32_t* w = weights.get() + size_t(i) * size_t(taps);
    std::fill(w, w + taps, 0u);
    for (int k = 0; k < runLength; ++k) w[start - shifted + k] = raw[k];
    first[i] = shifted;
  }
  filter.sourceSize = sourceSize;
  filter.targetSize = targetSize;
  filter.targetBegin = targetBegin;
  filter.count = count;
  filter.taps = taps;
  filter.first = std::move(first);
  filter.weights = std::move(weights);
  return true;
}

bool Resampler::Prepare(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                        ResamplePath path) {
  return Prepare(sourceWidth, sourceHeight, targetWidth, targetHeight,
                 TargetWindow{0, 0, targetWidth, targetHeight}, path);
}

bool Resampler::Prepare(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                        const TargetWindow& window, ResamplePath path) {
  fast_ = copy_ = false;
  scratchBytes_ = 0;
  scratch_.reset();
  localFirst_.reset();
  weightVec_.reset();
  window_ = window;
  if (sourceWidth <= 0 || sourceHeight <= 0 || targetWidth <= 0 || targetHeight <= 0) return false;
  if (window.width <= 0 || window.height <= 0 || window.x < 0 || window.y < 0 ||
      window.x > targetWidth - window.width || window.y > targetHeight - window.height)
    return false;
  constexpr int64_t kMaxBytes = std::numeric_limits<int32_t>::max();
  if (int64_t(sourceWidth) * sourceHeight * 4 > kMaxBytes ||
      int64_t(window.width) * window.height * 4 > kMaxBytes)
    return false;
  if (!BuildAxisFilter(columns_, sourceWidth, targetWidth, window.x, window.width) ||
      !BuildAxisFilter(rows_, sourceHeight, targetHeight, window.y, window.height))
    return false;
  columnBegin_ = columns_.first[0];
  columnEnd_ = columns_.first[window.width - 1] + columns_.taps;

  copy_ = sourceWidth == targetWidth && sourceHeight == targetHeight;
#if defined(__SSE2__)
  fast_ = !copy_ && path == ResamplePath::Fast && columns_.taps <= kFastMaxTaps &&
          rows_.taps <= kFastMaxTaps;
#else
  (void)path;
#endif
  if (fast_ && !PrepareFast()) return false;
  if (!fast_ && !copy_)
    scratchBytes_ = size_t(columnEnd_ - columnBegin_) * 4 * sizeof(uint16_t);
  if (scratchBytes_ > 0) {
    scratch_ = MakeScratch();
    if (!scratch_) return false;
  }
  return true;
}

std::unique_ptr<uint8_t[]> Resampler::MakeScratch() const {
  if (scratchBytes_ == 0) return AllocateArray<uint8_t>(1);
  auto scratch = AllocateArray<uint8_t>(scratchBytes_);
  // Rows of a partial last group of the fast path are computed from
  // whatever the scratch holds and never stored; zeros keep that
  // deterministic.
  if (scratch) std::memset(scratch.get(), 0, scratchBytes_);
  return scratch;
}

void Resampler::Run(const uint8_t* source, uint8_t* target) const {
  if (!rows_.first || (!copy_ && !scratch_)) return;
  const SourceRows rows{source, size_t(columns_.sourceSize) * 4, rows_.sourceSize};
  RunRows(rows, target, 0, window_.height, scratch_.get());
}

void Resampler::RunRows(const SourceRows& source, uint8_t* target, int rowBegin, int rowEnd,
                        uint8_t* scratch) const {
  if (!rows_.first || rowBegin >= rowEnd) return;
  if (copy_) RunCopyRows(source, target, rowBegin, rowEnd);
  else if (fast_) RunFastRows(source, target, rowBegin, rowEnd, scratch);
  else RunReferenceRows(source, target, rowBegin, rowEnd, scratch);
}

void Resampler::RunCopyRows(const SourceRows& source, uint8_t* target, int rowBegin,
                            int rowEnd) const {
  const size_t rowBytes = size_t(window_.width) * 4;
  for (int y = rowBegin; y < rowEnd; ++y)
    std::memcpy(target + size_t(y) * rowBytes, source.row(window_.y + y) + size_t(window_.x) * 4,
                rowBytes);
}

void Resampler::RunReferenceRows(const SourceRows& source, uint8_t* target, int rowBegin,
                                 int rowEnd, uint8_t* scratch) const {
  const int tw = window_.width;
  const size_t spanBytes = size_t(columnEnd_ - columnBegin_) * 4;
  auto* v = reinterpret_cast<uint16_t*>(scratch);
  for (int y = rowBegin; y < rowEnd; ++y) {
    const uint32_t* wv = rows_.weights.get() + size_t(y) * size_t(rows_.taps);
    const int top = rows_.first[y];
    for (size_t i = 0; i < spanBytes; ++i) {
      uint32_t sum = 0;
      for (int k = 0; k < rows_.taps; ++k)
        sum += uint32_t(source.row(top + k)[size_t(columnBegin_) * 4 + i]) * wv[k];
      v[i] = uint16_t((sum + 128) >> 8);
    }
    uint8_t* out = target + size_t(y) * size_t(tw) * 4;
    for (int x = 0; x < tw; ++x) {
      const uint32_t* wh = columns_.weights.get() + size_t(x) * size_t(columns_.taps);
      const uint16_t* in = v + size_t(columns_.first[x] - columnBegin_) * 4;
      for (int c = 0; c < 4; ++c) {
        uint32_t sum = 0;
        for (int k = 0; k < columns_.taps; ++k) sum += uint32_t(in[k * 4 + c]) * wh[k];
        out[size_t(x) * 4 + c] = uint8_t((sum + (1u << 23)) >> 24);
      }
    }
  }
}

}  // namespace plombix
