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
  filter = AxisFilter{};
  if (sourceSize <= 0 || targetSize <= 0) return false;

  int taps = 1;
  for (int d = 0; d < targetSize; ++d) {
    int count = 0;
    TargetRun(sourceSize, targetSize, d, nullptr, &count);
    taps = std::max(taps, count);
  }
  // Area runs span at most ceil(S/T) + 1 samples, never more than S.
  taps = std::min(taps, sourceSize);

  auto first = AllocateArray<int32_t>(size_t(targetSize));
  auto weights = AllocateArray<uint32_t>(size_t(targetSize) * size_t(taps));
  auto raw = AllocateArray<uint32_t>(size_t(taps));
  if (!first || !weights || !raw) return false;

  for (int d = 0; d < targetSize; ++d) {
    int count = 0;
    const int start = TargetRun(sourceSize, targetSize, d, raw.get(), &count);
    NormaliseSum(raw.get(), count);
    const int shifted = std::min(start, sourceSize - taps);
    uint32_t* w = weights.get() + size_t(d) * size_t(taps);
    std::fill(w, w + taps, 0u);
    for (int k = 0; k < count; ++k) w[start - shifted + k] = raw[k];
    first[d] = shifted;
  }
  filter.sourceSize = sourceSize;
  filter.targetSize = targetSize;
  filter.taps = taps;
  filter.first = std::move(first);
  filter.weights = std::move(weights);
  return true;
}

bool Resampler::Prepare(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                        ResamplePath path) {
  fast_ = false;
  scratch_.reset();
  weightVec_.reset();
  if (sourceWidth <= 0 || sourceHeight <= 0 || targetWidth <= 0 || targetHeight <= 0) return false;
  constexpr int64_t kMaxBytes = std::numeric_limits<int32_t>::max();
  if (int64_t(sourceWidth) * sourceHeight * 4 > kMaxBytes ||
      int64_t(targetWidth) * targetHeight * 4 > kMaxBytes)
    return false;
  if (!BuildAxisFilter(columns_, sourceWidth, targetWidth) ||
      !BuildAxisFilter(rows_, sourceHeight, targetHeight))
    return false;

#if defined(__SSE2__)
  fast_ = path == ResamplePath::Fast && columns_.taps <= kFastMaxTaps && rows_.taps <= kFastMaxTaps;
#else
  (void)path;
#endif
  if (fast_) return PrepareFast();
  scratch_ = AllocateArray<uint8_t>(size_t(sourceWidth) * 4 * sizeof(uint16_t));
  return scratch_ != nullptr;
}

void Resampler::Run(const uint8_t* source, uint8_t* target) const {
  if (!scratch_) return;
  if (fast_) RunFast(source, target);
  else RunReference(source, target);
}

void Resampler::RunReference(const uint8_t* source, uint8_t* target) const {
  const int sw = columns_.sourceSize, tw = columns_.targetSize, th = rows_.targetSize;
  const size_t rowBytes = size_t(sw) * 4;
  auto* v = reinterpret_cast<uint16_t*>(scratch_.get());
  for (int y = 0; y < th; ++y) {
    const uint32_t* wv = rows_.weights.get() + size_t(y) * size_t(rows_.taps);
    const uint8_t* top = source + size_t(rows_.first[y]) * rowBytes;
    for (size_t i = 0; i < rowBytes; ++i) {
      uint32_t sum = 0;
      for (int k = 0; k < rows_.taps; ++k) sum += uint32_t(top[size_t(k) * rowBytes + i]) * wv[k];
      v[i] = uint16_t((sum + 128) >> 8);
    }
    uint8_t* out = target + size_t(y) * size_t(tw) * 4;
    for (int x = 0; x < tw; ++x) {
      const uint32_t* wh = columns_.weights.get() + size_t(x) * size_t(columns_.taps);
      const uint16_t* in = v + size_t(columns_.first[x]) * 4;
      for (int c = 0; c < 4; ++c) {
        uint32_t sum = 0;
        for (int k = 0; k < columns_.taps; ++k) sum += uint32_t(in[k * 4 + c]) * wh[k];
        out[size_t(x) * 4 + c] = uint8_t((sum + (1u << 23)) >> 24);
      }
    }
  }
}

}  // namespace plombix
