// Gradient fills (formulas in gradient.h).
//
// Every layout computes, for a block of Wl x Hl pixels (the whole picture,
// its top half, or its top-left quarter) and one colour channel,
//   value(x, y) = ((c1(Wl-x) + c2 x)(Hl-y) + (c3(Wl-x) + c4 x) y) / (Wl Hl).
// For a fixed row y the numerator is linear in x:
//   N(x) = A + x B,  A = Wl (c1 (Hl-y) + c3 y),  B = (c2-c1)(Hl-y) + (c4-c3) y,
// with D = Wl Hl. So along a row the value is floor((A + x B) / D), which is
// computed incrementally without a division per pixel: keep the quotient q
// and remainder r (0 <= r < D) of N(x); with B = qB D + rB (floor division,
// 0 <= rB < D, B may be negative),
//   N(x+1) = (q + qB) D + (r + rB),  and r + rB < 2D,
// so one conditional subtraction of D (adding 1 to q) restores 0 <= r < D.
// The vector kernels keep q and r of N = 4 or 8 consecutive columns in
// 32-bit lanes and step them by N x B the same way; the quotients and
// remainders of the first column and of the steps come from 64-bit
// divisions once per row. Everything is exact: the results equal the direct
// formula bit for bit.
//
// Lane ranges: a picture has fewer than 2^29 pixels (its byte count fits a
// 32-bit int), so D < 2^29 and r + rB < 2^30 fits a signed 32-bit lane;
// 0 <= q <= 255 at every column that is stored.
//
// Each row of colour words (0x00RRGGBB) is computed into a buffer and then
// merged into the picture row(s), keeping every fourth byte.
#include "gradient.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "simd_level.h"

#if defined(__SSE2__)
#include <immintrin.h>
#define PLOMBIX_X86 1
#endif

namespace plombix {
namespace {

// Rows computed ahead into a buffer (at most this many bytes of them, or
// one row): small enough to come from the heap without fresh pages.
constexpr size_t kBlockBytes = size_t(64) << 10;

// value(x) = floor((a + x b) / d) for one channel of one row.
struct Line {
  int64_t a = 0;
  int64_t b = 0;
};

struct DivMod {
  int64_t q = 0;
  int64_t r = 0;
};

inline DivMod FloorDivMod(int64_t n, int64_t d) {
  DivMod out{n / d, n % d};
  if (out.r < 0) {
    out.r += d;
    --out.q;
  }
  return out;
}

// Quotient and remainder of N(0) and of the step `step` x B, per channel.
struct RunStart {
  DivMod at[3];
  DivMod step[3];
};

RunStart StartRun(const Line lines[3], int64_t d, int64_t step) {
  RunStart s;
  for (int c = 0; c < 3; ++c) {
    s.at[c] = FloorDivMod(lines[c].a, d);
    s.step[c] = FloorDivMod(step * lines[c].b, d);
  }
  return s;
}

struct ChannelStepper {
  int64_t q, r, stepQ, stepR;
  void step(int64_t d) {
    q += stepQ;
    r += stepR;
    if (r >= d) {
      r -= d;
      ++q;
    }
  }
};

// Colours for columns 0 .. n - 1.
void RunScalar(uint32_t* out, int n, const Line lines[3], int64_t d) {
  const RunStart s = StartRun(lines, d, 1);
  ChannelStepper blue{s.at[0].q, s.at[0].r, s.step[0].q, s.step[0].r};
  ChannelStepper green{s.at[1].q, s.at[1].r, s.step[1].q, s.step[1].r};
  ChannelStepper red{s.at[2].q, s.at[2].r, s.step[2].q, s.step[2].r};
  for (int x = 0; x < n; ++x) {
    out[x] = uint32_t(blue.q) | uint32_t(green.q) << 8 | uint32_t(red.q) << 16;
    blue.step(d);
    green.step(d);
    red.step(d);
  }
}

void MergeScalar(uint8_t* row, const uint32_t* colours, int n) {
  for (int x = 0; x < n; ++x) {
    row[4 * x + 0] = uint8_t(colours[x]);
    row[4 * x + 1] = uint8_t(colours[x] >> 8);
    row[4 * x + 2] = uint8_t(colours[x] >> 16);
  }
}

// out[i] = in[n - 1 - i] for i < n.
void ReverseScalar(uint32_t* out, const uint32_t* in, int n) {
  for (int i = 0; i < n; ++i) out[i] = in[n - 1 - i];
}

#if PLOMBIX_X86

// The vector runs are written once with the compiler's generic vectors and
// instantiated per width inside functions compiled for SSE2 or AVX2; a
// comparison of two such vectors gives all ones in each lane where it holds.
typedef int32_t Int32x4 __attribute__((vector_size(16)));
typedef int32_t Int32x8 __attribute__((vector_size(32)));

// One channel's quotients and remainders in N lanes (lane j at column j)
// and their step over N columns.
template <typename V>
struct Lanes {
  V q, r, stepQ, stepR;
};

template <typename V, int N>
__attribute__((always_inline)) inline Lanes<V> StartLanes(const RunStart& one, const RunStart& wide,
                                                          int c, int64_t d) {
  Lanes<V> l{};
  int64_t cq = one.at[c].q, cr = one.at[c].r;
  for (int j = 0; j < N; ++j) {
    l.q[j] = int32_t(cq);
    l.r[j] = int32_t(cr);
    cq += one.step[c].q;
    cr += one.step[c].r;
    if (cr >= d) {
      cr -= d;
      ++cq;
    }
  }
  l.stepQ = V{} + int32_t(wide.step[c].q);
  l.stepR = V{} + int32_t(wide.step[c].r);
  return l;
}

// N columns on: r += stepR, q += stepQ, and where r >= d, r -= d and q += 1.
template <typename V>
__attribute__((always_inline)) inline void StepLanes(Lanes<V>& l, int32_t d) {
  l.r += l.stepR;
  l.q += l.stepQ;
  const V wrap = l.r >= d;  // all ones where the remainder overflowed
  l.r -= wrap & d;
  l.q -= wrap;
}

template <typename V, int N>
__attribute__((always_inline)) inline void RunLanes(uint32_t* out, int n, const Line lines[3],
                                                    int64_t d) {
  const RunStart one = StartRun(lines, d, 1);
  const RunStart wide = StartRun(lines, d, N);
  // Separate variables (not an array) keep all the lanes in registers.
  Lanes<V> blue = StartLanes<V, N>(one, wide, 0, d);
  Lanes<V> green = StartLanes<V, N>(one, wide, 1, d);
  Lanes<V> red = StartLanes<V, N>(one, wide, 2, d);
  const int32_t d32 = int32_t(d);
  int x = 0;
  for (; x + N <= n; x += N) {
    const V colour = blue.q | green.q << 8 | red.q << 16;
    std::memcpy(out + x, &colour, sizeof colour);
    StepLanes(blue, d32);
    StepLanes(green, d32);
    StepLanes(red, d32);
  }
  const V colour = blue.q | green.q << 8 | red.q << 16;
  for (int j = 0; x + j < n; ++j) out[x + j] = uint32_t(colour[j]);
}

void RunSse2(uint32_t* out, int n, const Line lines[3], int64_t d) {
  RunLanes<Int32x4, 4>(out, n, lines, d);
}

__attribute__((target("avx2"))) void RunAvx2(uint32_t* out, int n, const Line lines[3], int64_t d) {
  RunLanes<Int32x8, 8>(out, n, lines, d);
  _mm256_zeroupper();
}

void MergeSse2(uint8_t* row, const uint32_t* colours, int n) {
  const __m128i alpha = _mm_set1_epi32(int(0xFF000000u));
  int x = 0;
  for (; x + 4 <= n; x += 4) {
    __m128i* p = reinterpret_cast<__m128i*>(row + 4 * x);
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(colours + x));
    _mm_storeu_si128(p, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(p), alpha), c));
  }
  MergeScalar(row + 4 * x, colours + x, n - x);
}

void ReverseSse2(uint32_t* out, const uint32_t* in, int n) {
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + n - 4 - i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_shuffle_epi32(c, _MM_SHUFFLE(0, 1, 2, 3)));
  }
  for (; i < n; ++i) out[i] = in[n - 1 - i];
}

#endif  // PLOMBIX_X86

void Run(uint32_t* out, int n, const Line lines[3], int64_t d) {
  if (lines[0].b == 0 && lines[1].b == 0 && lines[2].b == 0) {
    // Equal colours along the row (the vertical fills): one value per row.
    const uint32_t colour = uint32_t(lines[0].a / d) | uint32_t(lines[1].a / d) << 8 |
                            uint32_t(lines[2].a / d) << 16;
    int x = 0;
#if PLOMBIX_X86
    const __m128i four = _mm_set1_epi32(int(colour));
    for (; x + 4 <= n; x += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), four);
#endif
    for (; x < n; ++x) out[x] = colour;
    return;
  }
#if PLOMBIX_X86
  switch (CurrentSimdLevel()) {
    case SimdLevel::Avx512:
    case SimdLevel::Avx2: return RunAvx2(out, n, lines, d);
    case SimdLevel::Sse2: return RunSse2(out, n, lines, d);
    case SimdLevel::Scalar: break;
  }
#endif
  RunScalar(out, n, lines, d);
}

void Merge(uint8_t* row, const uint32_t* colours, int n) {
#if PLOMBIX_X86
  if (CurrentSimdLevel() != SimdLevel::Scalar) return MergeSse2(row, colours, n);
#endif
  MergeScalar(row, colours, n);
}

void Reverse(uint32_t* out, const uint32_t* in, int n) {
#if PLOMBIX_X86
  if (CurrentSimdLevel() != SimdLevel::Scalar) return ReverseSse2(out, in, n);
#endif
  ReverseScalar(out, in, n);
}

// One block (Wl x Hl) of a layout; rows y < Hl are computed, columns x < Wl.
struct Block {
  int64_t wl = 0;
  int64_t hl = 0;
};

void RowLines(Line lines[3], const Block& blk, int64_t y, const uint32_t corners[4]) {
  for (int c = 0; c < 3; ++c) {
    const int shift = 8 * c;
    const int64_t k1 = (corners[0] >> shift) & 0xFF, k2 = (corners[1] >> shift) & 0xFF;
    const int64_t k3 = (corners[2] >> shift) & 0xFF, k4 = (corners[3] >> shift) & 0xFF;
    lines[c].a = blk.wl * (k1 * (blk.hl - y) + k3 * y);
    lines[c].b = (k2 - k1) * (blk.hl - y) + (k4 - k3) * y;
  }
}

}  // namespace

void FillGradient(uint8_t* pixels, int width, int height, GradientLayout layout, uint32_t c1,
                  uint32_t c2, uint32_t c3, uint32_t c4) {
  if (!pixels || width < 1 || height < 1) return;
  const int64_t W = width, H = height;
  if (W * H * 4 > int64_t(INT32_MAX)) return;

  Block blk{W, H};
  if (layout == GradientLayout::MirroredHalves) blk.hl = H / 2;
  if (layout == GradientLayout::MirroredQuarters) blk = Block{W / 2, H / 2};
  if (blk.wl < 1 || blk.hl < 1) return;  // a mirrored layout of a 1-pixel dimension
  const int64_t d = blk.wl * blk.hl;
  const bool mirrorRows = layout != GradientLayout::Full;
  const bool mirrorColumns = layout == GradientLayout::MirroredQuarters;
  const uint32_t corners[4] = {c1, c2, c3, c4};
  const size_t rowBytes = size_t(W) * 4;

  // Rows are computed a block at a time into a buffer, then merged into the
  // picture with every row written in ascending address order: the top
  // rows, then the mirrored bottom rows of the same block from the lowest
  // up. (Walking the bottom half row by row downwards, as the formula's
  // order would, defeats the processor's prefetching and costs twice the
  // time.) The quarters layout mirrors each computed half row into the
  // buffer's right part; the middle column of an odd width stays untouched.
  const int64_t blockRows = std::clamp<int64_t>(int64_t(kBlockBytes) / (W * 4), 1, blk.hl);
  std::unique_ptr<uint32_t[]> block(new (std::nothrow) uint32_t[size_t(blockRows * W)]);
  if (!block) return;
  const int wl = int(blk.wl);
  for (int64_t y0 = 0; y0 < blk.hl; y0 += blockRows) {
    const int64_t rows = std::min(blockRows, blk.hl - y0);
    for (int64_t i = 0; i < rows; ++i) {
      Line lines[3];
      RowLines(lines, blk, y0 + i, corners);
      uint32_t* colours = block.get() + size_t(i * W);
      Run(colours, wl, lines, d);
      if (mirrorColumns) Reverse(colours + (W - wl), colours, wl);
      uint8_t* row = pixels + size_t(y0 + i) * rowBytes;
      Merge(row, colours, wl);
      if (mirrorColumns) Merge(row + 4 * (W - wl), colours + (W - wl), wl);
    }
    if (!mirrorRows) continue;
    for (int64_t r = H - y0 - rows; r < H - y0; ++r) {
      const uint32_t* colours = block.get() + size_t((H - 1 - r - y0) * W);
      uint8_t* row = pixels + size_t(r) * rowBytes;
      Merge(row, colours, wl);
      if (mirrorColumns) Merge(row + 4 * (W - wl), colours + (W - wl), wl);
    }
  }
}

void PictureBuffer::GradientFill(GradientLayout layout, uint32_t c1, uint32_t c2, uint32_t c3,
                                 uint32_t c4) {
  if (!pixelData || width < 1 || height < 1 || int64_t(width) * height * 4 > byteCount) return;
  FillGradient(pixelData.get(), width, height, layout, c1, c2, c3, c4);
}

}  // namespace plombix
