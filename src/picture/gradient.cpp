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
// The vector kernels keep q and r of 4 (8) consecutive columns in 32-bit
// lanes and step them by 4B (8B) the same way; the quotient and remainder of
// the first columns come from 64-bit divisions once per run. Everything is
// exact: the results equal the direct formula bit for bit.
//
// Lane ranges: a picture has fewer than 2^29 pixels (its byte count fits a
// 32-bit int), so D < 2^29 and r + rB < 2^30 fits a signed 32-bit lane;
// 0 <= q <= 255 at every column that is stored.
//
// Each run fills a row of colour words (0x00RRGGBB) that is then merged into
// the picture row(s) keeping every fourth byte: forwards for the left part,
// mirrored for the right part of the quarters layout.
#include "gradient.h"

#include <cstddef>

#include "simd_level.h"

#if defined(__SSE2__)
#include <immintrin.h>
#define PLOMBIX_X86 1
#endif

namespace plombix {
namespace {

constexpr int kRunPixels = 4096;  // colour words computed per run (16 KiB)

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

// Quotient and remainder of N(x) and of the step `step` x B, per channel.
struct RunStart {
  DivMod at[3];
  DivMod step[3];
};

RunStart StartRun(const Line lines[3], int64_t d, int64_t x0, int64_t step) {
  RunStart s;
  for (int c = 0; c < 3; ++c) {
    s.at[c] = FloorDivMod(lines[c].a + x0 * lines[c].b, d);
    s.step[c] = FloorDivMod(step * lines[c].b, d);
  }
  return s;
}

// Colours for columns x0 .. x0 + n - 1.
void RunScalar(uint32_t* out, int64_t x0, int n, const Line lines[3], int64_t d) {
  const RunStart s = StartRun(lines, d, x0, 1);
  int64_t q[3], r[3];
  for (int c = 0; c < 3; ++c) {
    q[c] = s.at[c].q;
    r[c] = s.at[c].r;
  }
  for (int x = 0; x < n; ++x) {
    out[x] = uint32_t(q[0]) | uint32_t(q[1]) << 8 | uint32_t(q[2]) << 16;
    for (int c = 0; c < 3; ++c) {
      q[c] += s.step[c].q;
      r[c] += s.step[c].r;
      if (r[c] >= d) {
        r[c] -= d;
        ++q[c];
      }
    }
  }
}

void MergeScalar(uint8_t* row, const uint32_t* colours, int n) {
  for (int x = 0; x < n; ++x) {
    row[4 * x + 0] = uint8_t(colours[x]);
    row[4 * x + 1] = uint8_t(colours[x] >> 8);
    row[4 * x + 2] = uint8_t(colours[x] >> 16);
  }
}

// Pixel `end - 1 - i` takes colours[i].
void MergeMirroredScalar(uint8_t* rowEnd, const uint32_t* colours, int n) {
  for (int i = 0; i < n; ++i) {
    uint8_t* p = rowEnd - 4 * (i + 1);
    p[0] = uint8_t(colours[i]);
    p[1] = uint8_t(colours[i] >> 8);
    p[2] = uint8_t(colours[i] >> 16);
  }
}

#if PLOMBIX_X86

void RunSse2(uint32_t* out, int64_t x0, int n, const Line lines[3], int64_t d) {
  // Lane j starts at column x0 + j; all lanes step by four columns.
  const RunStart one = StartRun(lines, d, x0, 1);
  const RunStart four = StartRun(lines, d, x0, 4);
  __m128i q[3], r[3], q4[3], r4[3];
  for (int c = 0; c < 3; ++c) {
    int32_t lq[4], lr[4];
    int64_t cq = one.at[c].q, cr = one.at[c].r;
    for (int j = 0; j < 4; ++j) {
      lq[j] = int32_t(cq);
      lr[j] = int32_t(cr);
      cq += one.step[c].q;
      cr += one.step[c].r;
      if (cr >= d) {
        cr -= d;
        ++cq;
      }
    }
    q[c] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lq));
    r[c] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lr));
    q4[c] = _mm_set1_epi32(int32_t(four.step[c].q));
    r4[c] = _mm_set1_epi32(int32_t(four.step[c].r));
  }
  const __m128i dv = _mm_set1_epi32(int32_t(d));
  const __m128i dm1 = _mm_set1_epi32(int32_t(d - 1));
  int x = 0;
  for (;; x += 4) {
    const __m128i colour =
        _mm_or_si128(q[0], _mm_or_si128(_mm_slli_epi32(q[1], 8), _mm_slli_epi32(q[2], 16)));
    if (x + 4 > n) {
      alignas(16) uint32_t last[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(last), colour);
      for (int j = 0; x + j < n; ++j) out[x + j] = last[j];
      break;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), colour);
    for (int c = 0; c < 3; ++c) {
      r[c] = _mm_add_epi32(r[c], r4[c]);
      q[c] = _mm_add_epi32(q[c], q4[c]);
      const __m128i wrap = _mm_cmpgt_epi32(r[c], dm1);  // all ones where r >= d
      r[c] = _mm_sub_epi32(r[c], _mm_and_si128(wrap, dv));
      q[c] = _mm_sub_epi32(q[c], wrap);
    }
  }
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

void MergeMirroredSse2(uint8_t* rowEnd, const uint32_t* colours, int n) {
  const __m128i alpha = _mm_set1_epi32(int(0xFF000000u));
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    __m128i* p = reinterpret_cast<__m128i*>(rowEnd - 4 * (i + 4));
    const __m128i c = _mm_shuffle_epi32(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(colours + i)), _MM_SHUFFLE(0, 1, 2, 3));
    _mm_storeu_si128(p, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(p), alpha), c));
  }
  MergeMirroredScalar(rowEnd - 4 * i, colours + i, n - i);
}

#endif  // PLOMBIX_X86

void Run(uint32_t* out, int64_t x0, int n, const Line lines[3], int64_t d) {
#if PLOMBIX_X86
  if (CurrentSimdLevel() != SimdLevel::Scalar) return RunSse2(out, x0, n, lines, d);
#endif
  RunScalar(out, x0, n, lines, d);
}

void Merge(uint8_t* row, const uint32_t* colours, int n) {
#if PLOMBIX_X86
  if (CurrentSimdLevel() != SimdLevel::Scalar) return MergeSse2(row, colours, n);
#endif
  MergeScalar(row, colours, n);
}

void MergeMirrored(uint8_t* rowEnd, const uint32_t* colours, int n) {
#if PLOMBIX_X86
  if (CurrentSimdLevel() != SimdLevel::Scalar) return MergeMirroredSse2(rowEnd, colours, n);
#endif
  MergeMirroredScalar(rowEnd, colours, n);
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

  alignas(16) uint32_t run[kRunPixels];
  for (int64_t y = 0; y < blk.hl; ++y) {
    Line lines[3];
    RowLines(lines, blk, y, corners);
    uint8_t* top = pixels + size_t(y) * rowBytes;
    uint8_t* bottom = pixels + size_t(H - 1 - y) * rowBytes;
    for (int64_t x0 = 0; x0 < blk.wl; x0 += kRunPixels) {
      const int n = int(blk.wl - x0 < kRunPixels ? blk.wl - x0 : kRunPixels);
      Run(run, x0, n, lines, d);
      Merge(top + 4 * x0, run, n);
      if (mirrorRows) Merge(bottom + 4 * x0, run, n);
      if (mirrorColumns) {
        MergeMirrored(top + rowBytes - 4 * x0, run, n);
        MergeMirrored(bottom + rowBytes - 4 * x0, run, n);
      }
    }
  }
}

void PictureBuffer::GradientFill(GradientLayout layout, uint32_t c1, uint32_t c2, uint32_t c3,
                                 uint32_t c4) {
  if (!pixelData || width < 1 || height < 1 || int64_t(width) * height * 4 > byteCount) return;
  FillGradient(pixelData.get(), width, height, layout, c1, c2, c3, c4);
}

}  // namespace plombix
