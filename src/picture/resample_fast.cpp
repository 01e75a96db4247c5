// Fast path of the resampler: SSE2 (baseline x86-64), one thread.
//
// Same filters as the reference (resample.cpp), 16-bit arithmetic. A byte
// p is widened to p x 257 (both bytes of a 16-bit lane set to p), which
// maps 0..255 onto 0..65535 exactly:
//   vertical    v = sum_k mulhi(p_k x 257, wv_k) = sum_k floor(p_k x 257 x wv_k / 65536)
//               (a row with a single weight 65536 is p x 257 itself)
//   horizontal  a = sum_k mulhi(v_k, wh'_k)      = sum_k floor(v_k x wh'_k / 65536)
//               out = (a + 128) >> 8
// where wh'_k = round(wh_k x 256 / 257), adjusted on the largest so that
// they add up to exactly 65281 = round(65536 x 256 / 257): the horizontal
// pass thereby turns the x257 scale into 8.8 fixed point (a uniform p gives
// p x 257 x 65281 / 65536 = p x 256.00002). Each floor loses less than one
// unit of 1/256 of a level, so with at most 8 taps an axis the result lies
// within 16/256 of the exact filter value before rounding, i.e. within 1 of
// the reference, and a uniform area stays exactly uniform. Bounds: v never
// exceeds 65535 (the vertical weights add up to 65536), a stays below
// 65281, a + 128 fits 16 bits unsigned.
//
// Memory order: target rows are made four at a time. The vertical pass
// writes the four rows' samples interleaved by source column,
//   scratch[x] = { row0 B G R A, row1 B G R A, row2 ..., row3 ... }  (16 x u16)
// so that the horizontal pass multiplies two target rows' pixels by one
// broadcast weight in each vector and reads nothing but that 32-byte block
// per tap. Four target columns are then transposed into four row stores.
// The vertical pass runs in column strips, all four rows per strip, so that
// the source rows the group shares are read from L1.
#include "resample.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>

#include "pixel_alloc.h"

namespace plombix {

#if defined(__SSE2__)
namespace {

constexpr int kGroupRows = 4;
constexpr size_t kColumnBytes = kGroupRows * 8;  // one source column in scratch
constexpr int kStripPixels = 256;                 // vertical pass: 1 KB of each source row
// Horizontal weights add up to 65536 x 256 / 257, which folds the x257
// scale of the vertical pass back into 8.8 fixed point.
constexpr uint32_t kHorizontalSum = 65281;

// One target row of the vertical pass into slot `slot` of the scratch.
// N taps of rows `rows` with 16-bit weights `w` (N == 1: weight 65536).
template <int N>
void VerticalRow(const uint8_t* const* rows, const uint16_t* w, int width, uint8_t* scratch,
                 int slot) {
  const __m128i zero = _mm_setzero_si128();
  __m128i weight[N];
  const uint8_t* row[N];
  for (int k = 0; k < N; ++k) {
    weight[k] = _mm_set1_epi16(short(w[k]));
    row[k] = rows[k];
  }
  uint8_t* out = scratch + slot * 8;
  int x = 0;
  for (; x + 4 <= width; x += 4) {
    __m128i lo = zero, hi = zero;
#pragma GCC unroll 8
    for (int k = 0; k < N; ++k) {
      const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row[k] + size_t(x) * 4));
      const __m128i pl = _mm_unpacklo_epi8(p, p);  // p * 257, pixels x, x+1
      const __m128i ph = _mm_unpackhi_epi8(p, p);  // pixels x+2, x+3
      if (N == 1) {
        lo = pl;
        hi = ph;
      } else {
        lo = _mm_add_epi16(lo, _mm_mulhi_epu16(pl, weight[k]));
        hi = _mm_add_epi16(hi, _mm_mulhi_epu16(ph, weight[k]));
      }
    }
    uint8_t* o = out + size_t(x) * kColumnBytes;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(o), lo);
    _mm_storeh_pd(reinterpret_cast<double*>(o + kColumnBytes), _mm_castsi128_pd(lo));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 2 * kColumnBytes), hi);
    _mm_storeh_pd(reinterpret_cast<double*>(o + 3 * kColumnBytes), _mm_castsi128_pd(hi));
  }
  for (; x < width; ++x) {
    auto* o = reinterpret_cast<uint16_t*>(out + size_t(x) * kColumnBytes);
    for (int c = 0; c < 4; ++c) {
      unsigned sum = 0;
      for (int k = 0; k < N; ++k) {
        const unsigned p = unsigned(rows[k][size_t(x) * 4 + c]) * 257;
        sum += N == 1 ? p : (p * w[k]) >> 16;
      }
      o[c] = uint16_t(sum);
    }
  }
}

using VerticalKernel = void (*)(const uint8_t* const*, const uint16_t*, int, uint8_t*, int);
constexpr VerticalKernel kVertical[] = {nullptr,        VerticalRow<1>, VerticalRow<2>,
                                        VerticalRow<3>, VerticalRow<4>, VerticalRow<5>,
                                        VerticalRow<6>, VerticalRow<7>, VerticalRow<8>};

// Target pixel of all four rows of the group: 16 bytes, row r in bytes 4r..4r+3.
template <int T>
inline __m128i TargetColumn(const uint8_t* scratch, int first, const uint8_t* weights) {
  const uint8_t* in = scratch + size_t(first) * kColumnBytes;
  __m128i a01 = _mm_setzero_si128(), a23 = _mm_setzero_si128();
#pragma GCC unroll 8
  for (int k = 0; k < T; ++k) {
    const __m128i w = _mm_shuffle_epi32(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(weights + k * 8)), 0x44);
    const __m128i v01 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k * kColumnBytes));
    const __m128i v23 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k * kColumnBytes + 16));
    a01 = _mm_add_epi16(a01, _mm_mulhi_epu16(v01, w));
    a23 = _mm_add_epi16(a23, _mm_mulhi_epu16(v23, w));
  }
  const __m128i half = _mm_set1_epi16(128);
  a01 = _mm_srli_epi16(_mm_add_epi16(a01, half), 8);
  a23 = _mm_srli_epi16(_mm_add_epi16(a23, half), 8);
  return _mm_packus_epi16(a01, a23);
}

// The horizontal pass of one group: `rowCount` (1..4) target rows from `out`.
template <int T>
void HorizontalGroup(const uint8_t* scratch, const int32_t* first, const uint8_t* weightVec,
                     int width, uint8_t* out, size_t rowBytes, int rowCount) {
  int x = 0;
  for (; x + 4 <= width; x += 4) {
    const uint8_t* w = weightVec + size_t(x) * T * 8;
    const __m128i p0 = TargetColumn<T>(scratch, first[x], w);
    const __m128i p1 = TargetColumn<T>(scratch, first[x + 1], w + T * 8);
    const __m128i p2 = TargetColumn<T>(scratch, first[x + 2], w + 2 * T * 8);
    const __m128i p3 = TargetColumn<T>(scratch, first[x + 3], w + 3 * T * 8);
    const __m128i t0 = _mm_unpacklo_epi32(p0, p1);  // row0: x, x+1; row1: x, x+1
    const __m128i t1 = _mm_unpacklo_epi32(p2, p3);
    const __m128i t2 = _mm_unpackhi_epi32(p0, p1);  // rows 2 and 3
    const __m128i t3 = _mm_unpackhi_epi32(p2, p3);
    const __m128i row[4] = {_mm_unpacklo_epi64(t0, t1), _mm_unpackhi_epi64(t0, t1),
                            _mm_unpacklo_epi64(t2, t3), _mm_unpackhi_epi64(t2, t3)};
    for (int r = 0; r < rowCount; ++r)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + r * rowBytes + size_t(x) * 4), row[r]);
  }
  for (; x < width; ++x) {
    alignas(16) uint8_t pixel[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(pixel),
                    TargetColumn<T>(scratch, first[x], weightVec + size_t(x) * T * 8));
    for (int r = 0; r < rowCount; ++r)
      std::copy(pixel + 4 * r, pixel + 4 * r + 4, out + r * rowBytes + size_t(x) * 4);
  }
}

using HorizontalKernel = void (*)(const uint8_t*, const int32_t*, const uint8_t*, int, uint8_t*,
                                  size_t, int);
constexpr HorizontalKernel kHorizontal[] = {
    nullptr,           HorizontalGroup<1>, HorizontalGroup<2>, HorizontalGroup<3>,
    HorizontalGroup<4>, HorizontalGroup<5>, HorizontalGroup<6>, HorizontalGroup<7>,
    HorizontalGroup<8>};

}  // namespace

bool Resampler::PrepareFast() {
  const int span = columnEnd_ - columnBegin_, tw = columns_.count, taps = columns_.taps;
  scratchBytes_ = size_t(span) * kColumnBytes;
  localFirst_ = AllocateArray<int32_t>(size_t(tw));
  weightVec_ = AllocateArray<uint8_t>(size_t(tw) * size_t(taps) * 8);
  if (!localFirst_ || !weightVec_) {
    fast_ = false;
    localFirst_.reset();
    weightVec_.reset();
    return false;
  }
  auto* lanes = reinterpret_cast<uint16_t*>(weightVec_.get());
  for (int x = 0; x < tw; ++x) {
    localFirst_[x] = columns_.first[x] - columnBegin_;
    const uint32_t* w = columns_.weights.get() + size_t(x) * size_t(taps);
    uint16_t* out = lanes + size_t(x) * size_t(taps) * 4;
    uint32_t sum = 0;
    int largest = 0;
    for (int k = 0; k < taps; ++k) {
      out[k * 4] = uint16_t((w[k] * 256 + 128) / 257);
      sum += out[k * 4];
      if (w[k] > w[largest]) largest = k;
    }
    out[largest * 4] = uint16_t(out[largest * 4] + (kHorizontalSum - sum));
    for (int k = 0; k < taps; ++k) std::fill(out + k * 4 + 1, out + k * 4 + 4, out[k * 4]);
  }
  return true;
}

void Resampler::RunFastRows(const SourceRows& source, uint8_t* target, int rowBegin, int rowEnd,
                            uint8_t* scratch) const {
  const int span = columnEnd_ - columnBegin_, tw = window_.width;
  const size_t targetRowBytes = size_t(tw) * 4, columnOffset = size_t(columnBegin_) * 4;
  const HorizontalKernel horizontal = kHorizontal[columns_.taps];

  for (int y0 = rowBegin; y0 < rowEnd; y0 += kGroupRows) {
    const int rowCount = std::min(kGroupRows, rowEnd - y0);
    // The taps of each row of the group: only those that carry weight; a
    // lone one weighs 65536.
    const uint8_t* rows[kGroupRows][Resampler::kFastMaxTaps];
    uint16_t w[kGroupRows][Resampler::kFastMaxTaps];
    int n[kGroupRows] = {};
    for (int r = 0; r < rowCount; ++r) {
      const uint32_t* wv = rows_.weights.get() + size_t(y0 + r) * size_t(rows_.taps);
      for (int k = 0; k < rows_.taps; ++k) {
        if (wv[k] == 0) continue;
        rows[r][n[r]] = source.row(rows_.first[y0 + r] + k) + columnOffset;
        w[r][n[r]++] = uint16_t(std::min<uint32_t>(wv[k], 65535));
      }
    }
    // Column strips, all rows of the group per strip: the source rows the
    // group shares, and the strip of scratch it writes, stay in L1.
    for (int x0 = 0; x0 < span; x0 += kStripPixels) {
      const int stripWidth = std::min(kStripPixels, span - x0);
      for (int r = 0; r < rowCount; ++r) {
        const uint8_t* stripRows[Resampler::kFastMaxTaps];
        for (int k = 0; k < n[r]; ++k) stripRows[k] = rows[r][k] + size_t(x0) * 4;
        kVertical[n[r]](stripRows, w[r], stripWidth, scratch + size_t(x0) * kColumnBytes, r);
      }
    }
    horizontal(scratch, localFirst_.get(), weightVec_.get(), tw,
               target + size_t(y0) * targetRowBytes, targetRowBytes, rowCount);
  }
}

}  // namespace plombix

#else  // no SSE2: Prepare never selects the fast path

namespace plombix {
bool Resampler::PrepareFast() { return false; }
void Resampler::RunFastRows(const SourceRows& source, uint8_t* target, int rowBegin, int rowEnd,
                            uint8_t* scratch) const {
  RunReferenceRows(source, target, rowBegin, rowEnd, scratch);
}
}  // namespace plombix

#endif
