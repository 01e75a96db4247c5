// Row filters undone, one row at a time (any level) or eight rows along a
// diagonal (AVX2).
//
// The diagonal: a group of eight rows is worked in steps; at step t, row k
// of the group makes its pixel x = t - k. Its a is its own pixel x - 1, made
// at step t - 1; its b is row k - 1's pixel x, also made at step t - 1; its
// c is row k - 1's pixel x - 1, made at step t - 2, which is the b of the
// step before. So a step needs nothing from memory but the stored bytes and,
// for row 0, the row above the group. A row whose x is below 0 gets stored
// bytes of 0, and with a, b and c all 0 every filter makes 0 of them: just
// what its first pixel needs as a and c. Pixels beyond the row's end are
// made and never stored nor used by a pixel that is.
//
// Each step keeps a pixel per row in 16-bit lanes (blue, green, red, alpha;
// rows 0-3 in one vector, 4-7 in the other), so |a + b - 2c| fits. The sum
// of prediction and stored byte is taken byte-wise (add_epi8): the upper
// byte of each lane stays 0 and the lower one wraps modulo 256 as it should.
// In the middle of the rows four steps go together: four pixels of each row
// are loaded, put into blue-green-red-alpha order and transposed into four
// steps' worth, and the four steps' results transposed back into four
// pixels a row.
#include "png_unfilter.h"

#include <cstdlib>
#include <cstring>

#include "simd_level.h"

#if defined(__SSE2__)
#include <immintrin.h>
#define PLOMBIX_X86 1
#endif

namespace plombix {
namespace {

int Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

// One RGB or RGBA row into the pixel format: the stored bytes moved into
// blue-green-red-alpha order (alpha 0 for RGB), unfiltered there against
// the row above, then RGB made opaque.
bool RowToBgra(const uint8_t* stored, int width, int channels, const uint8_t* prior, uint8_t* out) {
  const int filter = stored[0];
  if (filter > 4) return false;
  const uint8_t* in = stored + 1;
  for (int x = 0; x < width; ++x, in += channels) {
    out[x * 4] = in[2];
    out[x * 4 + 1] = in[1];
    out[x * 4 + 2] = in[0];
    out[x * 4 + 3] = channels == 4 ? in[3] : 0;
  }
  UnfilterRow(filter, out, prior, size_t(width) * 4, 4);
  if (channels == 3)
    for (int x = 0; x < width; ++x) out[x * 4 + 3] = 255;
  return true;
}

#if PLOMBIX_X86
#define PLOMBIX_AVX2 __attribute__((target("avx2")))

constexpr int kGroupRows = 8;
// Where packus_epi16(rows 0-3, rows 4-7) puts each row's pixel, in 32-bit
// units: it packs within 128-bit halves.
constexpr int kPackedSlot[kGroupRows] = {0, 1, 4, 5, 2, 3, 6, 7};

struct Wave {
  __m256i a[2];  // each row's last pixel: a of the next step
  __m256i c[2];  // the b of the last step: c of the next
};

// The filter masks of a group: for rows 0-3 and 4-7, Sub, Up, Average and
// Paeth, all ones in a row's lanes when that is its filter.
struct Masks {
  __m256i m[2][4];
};

template <bool kMixed>
PLOMBIX_AVX2 inline __m256i Predict(__m256i a, __m256i b, __m256i c, const __m256i* masks) {
  const __m256i bc = _mm256_sub_epi16(b, c), ac = _mm256_sub_epi16(a, c);
  const __m256i pa = _mm256_abs_epi16(bc), pb = _mm256_abs_epi16(ac);
  const __m256i pc = _mm256_abs_epi16(_mm256_add_epi16(ac, bc));
  const __m256i least = _mm256_min_epi16(pa, _mm256_min_epi16(pb, pc));
  const __m256i paeth = _mm256_blendv_epi8(_mm256_blendv_epi8(c, b, _mm256_cmpeq_epi16(least, pb)),
                                           a, _mm256_cmpeq_epi16(least, pa));
  if constexpr (!kMixed) {
    return paeth;
  } else {
    const __m256i average = _mm256_srli_epi16(_mm256_add_epi16(a, b), 1);
    return _mm256_or_si256(
        _mm256_or_si256(_mm256_and_si256(masks[0], a), _mm256_and_si256(masks[1], b)),
        _mm256_or_si256(_mm256_and_si256(masks[2], average), _mm256_and_si256(masks[3], paeth)));
  }
}

// One step: `stored0`/`stored1` the stored bytes of rows 0-3 / 4-7 and
// `above` the pixel of the row above the group (lane 0), all as 16-bit
// lanes. Returns the step's pixels as bytes in kPackedSlot order.
template <bool kMixed>
PLOMBIX_AVX2 inline __m256i Step(Wave& w, __m256i stored0, __m256i stored1, __m256i above,
                                 const Masks& masks) {
  // b: each row's lanes take the row above's last pixel.
  const __m256i b0 = _mm256_blend_epi32(_mm256_permute4x64_epi64(w.a[0], 0x90), above, 0x03);
  const __m256i b1 = _mm256_blend_epi32(_mm256_permute4x64_epi64(w.a[1], 0x90),
                                        _mm256_permute4x64_epi64(w.a[0], 0x03), 0x03);
  const __m256i x0 = _mm256_add_epi8(Predict<kMixed>(w.a[0], b0, w.c[0], masks.m[0]), stored0);
  const __m256i x1 = _mm256_add_epi8(Predict<kMixed>(w.a[1], b1, w.c[1], masks.m[1]), stored1);
  w.c[0] = b0;
  w.c[1] = b1;
  w.a[0] = x0;
  w.a[1] = x1;
  return _mm256_packus_epi16(x0, x1);
}

struct Group {
  const uint8_t* stored;  // row 0's filter type byte
  size_t storedStride;
  int width;
  const uint8_t* prior;  // may be null
  uint8_t* out;
  size_t outStride;
};

// A step near either end of the rows, a pixel at a time.
template <bool kMixed, int kChannels>
PLOMBIX_AVX2 void EdgeStep(Wave& w, const Group& g, int t, const Masks& masks) {
  alignas(32) uint8_t in[32] = {};
  for (int k = 0; k < kGroupRows; ++k) {
    const int x = t - k;
    if (x < 0 || x >= g.width) continue;
    const uint8_t* p = g.stored + size_t(k) * g.storedStride + 1 + size_t(x) * kChannels;
    in[k * 4] = p[2];
    in[k * 4 + 1] = p[1];
    in[k * 4 + 2] = p[0];
    in[k * 4 + 3] = kChannels == 4 ? p[3] : 0;
  }
  uint32_t above = 0;
  if (g.prior && t < g.width) std::memcpy(&above, g.prior + size_t(t) * 4, 4);
  const __m256i packed =
      Step<kMixed>(w, _mm256_cvtepu8_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(in))),
                   _mm256_cvtepu8_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(in + 16))),
                   _mm256_cvtepu8_epi16(_mm_cvtsi32_si128(int(above))), masks);
  alignas(32) uint32_t pixels[kGroupRows];
  _mm256_store_si256(reinterpret_cast<__m256i*>(pixels), packed);
  for (int k = 0; k < kGroupRows; ++k) {
    const int x = t - k;
    if (x < 0 || x >= g.width) continue;
    const uint32_t pixel = pixels[kPackedSlot[k]] | (kChannels == 3 ? 0xFF000000u : 0u);
    std::memcpy(g.out + size_t(k) * g.outStride + size_t(x) * 4, &pixel, 4);
  }
}

// Four pixels of rows k and k + 4 from each one's pixel of step t (t - k
// and t - k - 4), in pixel-format order, row k in the lower half.
template <int kChannels>
PLOMBIX_AVX2 inline __m256i LoadPair(const Group& g, int t, int k, __m256i order) {
  const auto at = [&](int row) {
    return reinterpret_cast<const __m128i*>(g.stored + size_t(row) * g.storedStride + 1 +
                                            size_t(t - row) * kChannels);
  };
  return _mm256_shuffle_epi8(
      _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(at(k))), _mm_loadu_si128(at(k + 4)), 1),
      order);
}

// Steps t .. t + 3, where every row's pixels t - k .. t - k + 3 exist.
template <bool kMixed, int kChannels>
PLOMBIX_AVX2 void MiddleSteps(Wave& w, const Group& g, int t, const Masks& masks) {
  const __m256i order =
      kChannels == 4
          ? _mm256_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15, 2, 1, 0, 3, 6, 5, 4,
                             7, 10, 9, 8, 11, 14, 13, 12, 15)
          : _mm256_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1, 2, 1, 0, -1, 5, 4,
                             3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
  const __m256i r0 = LoadPair<kChannels>(g, t, 0, order), r1 = LoadPair<kChannels>(g, t, 1, order);
  const __m256i r2 = LoadPair<kChannels>(g, t, 2, order), r3 = LoadPair<kChannels>(g, t, 3, order);
  const __m256i t0 = _mm256_unpacklo_epi32(r0, r1), t1 = _mm256_unpacklo_epi32(r2, r3);
  const __m256i t2 = _mm256_unpackhi_epi32(r0, r1), t3 = _mm256_unpackhi_epi32(r2, r3);
  const __m256i steps[4] = {_mm256_unpacklo_epi64(t0, t1), _mm256_unpackhi_epi64(t0, t1),
                            _mm256_unpacklo_epi64(t2, t3), _mm256_unpackhi_epi64(t2, t3)};
  const __m128i above = g.prior ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(g.prior + size_t(t) * 4))
                                : _mm_setzero_si128();
  const __m128i aboveAt[4] = {above, _mm_srli_si128(above, 4), _mm_srli_si128(above, 8),
                              _mm_srli_si128(above, 12)};
  const __m256i opaque = _mm256_set1_epi32(kChannels == 3 ? int(0xFF000000u) : 0);
  __m256i made[4];
  for (int j = 0; j < 4; ++j) {
    made[j] = _mm256_or_si256(
        opaque, Step<kMixed>(w, _mm256_cvtepu8_epi16(_mm256_castsi256_si128(steps[j])),
                             _mm256_cvtepu8_epi16(_mm256_extracti128_si256(steps[j], 1)),
                             _mm256_cvtepu8_epi16(aboveAt[j]), masks));
  }
  // Back to rows: halves (0 | 2), (1 | 3), (4 | 6), (5 | 7), four pixels each.
  const __m256i u0 = _mm256_unpacklo_epi32(made[0], made[1]), u1 = _mm256_unpacklo_epi32(made[2], made[3]);
  const __m256i u2 = _mm256_unpackhi_epi32(made[0], made[1]), u3 = _mm256_unpackhi_epi32(made[2], made[3]);
  const __m256i rows[4] = {_mm256_unpacklo_epi64(u0, u1), _mm256_unpackhi_epi64(u0, u1),
                           _mm256_unpacklo_epi64(u2, u3), _mm256_unpackhi_epi64(u2, u3)};
  constexpr int kLow[4] = {0, 1, 4, 5}, kHigh[4] = {2, 3, 6, 7};
  for (int i = 0; i < 4; ++i) {
    const auto at = [&](int k) {
      return reinterpret_cast<__m128i*>(g.out + size_t(k) * g.outStride + size_t(t - k) * 4);
    };
    _mm_storeu_si128(at(kLow[i]), _mm256_castsi256_si128(rows[i]));
    _mm_storeu_si128(at(kHigh[i]), _mm256_extracti128_si256(rows[i], 1));
  }
}

template <bool kMixed, int kChannels>
PLOMBIX_AVX2 void RunGroup(const Group& g, const Masks& masks) {
  Wave w;
  w.a[0] = w.a[1] = w.c[0] = w.c[1] = _mm256_setzero_si256();
  const int steps = g.width + kGroupRows - 1;
  int t = 0;
  for (; t < kGroupRows - 1; ++t) EdgeStep<kMixed, kChannels>(w, g, t, masks);
  for (; t + 3 < g.width; t += 4) MiddleSteps<kMixed, kChannels>(w, g, t, masks);
  for (; t < steps; ++t) EdgeStep<kMixed, kChannels>(w, g, t, masks);
}

// False when a filter type is above 4.
PLOMBIX_AVX2 bool UnfilterGroupAvx2(const Group& g, int channels) {
  Masks masks;
  bool mixed = false;
  int64_t lanes[4][kGroupRows];
  for (int k = 0; k < kGroupRows; ++k) {
    const int filter = g.stored[size_t(k) * g.storedStride];
    if (filter > 4) return false;
    mixed = mixed || filter != 4;
    for (int f = 0; f < 4; ++f) lanes[f][k] = filter == f + 1 ? -1 : 0;
  }
  for (int half = 0; half < 2; ++half)
    for (int f = 0; f < 4; ++f)
      masks.m[half][f] = _mm256_setr_epi64x(lanes[f][half * 4], lanes[f][half * 4 + 1],
                                            lanes[f][half * 4 + 2], lanes[f][half * 4 + 3]);
  if (channels == 4) {
    if (mixed) RunGroup<true, 4>(g, masks);
    else RunGroup<false, 4>(g, masks);
  } else {
    if (mixed) RunGroup<true, 3>(g, masks);
    else RunGroup<false, 3>(g, masks);
  }
  return true;
}
#endif  // PLOMBIX_X86

}  // namespace

void UnfilterRow(int filter, uint8_t* row, const uint8_t* prior, size_t rowBytes, int bytesPerPixel) {
  const size_t bpp = size_t(bytesPerPixel);
  const auto above = [&](size_t i) { return prior ? int(prior[i]) : 0; };
  const auto left = [&](size_t i) { return i >= bpp ? int(row[i - bpp]) : 0; };
  switch (filter) {
    case 1:
      for (size_t i = bpp; i < rowBytes; ++i) row[i] = uint8_t(row[i] + row[i - bpp]);
      break;
    case 2:
      for (size_t i = 0; prior && i < rowBytes; ++i) row[i] = uint8_t(row[i] + prior[i]);
      break;
    case 3:
      for (size_t i = 0; i < rowBytes; ++i) row[i] = uint8_t(row[i] + (left(i) + above(i)) / 2);
      break;
    case 4:
      for (size_t i = 0; i < rowBytes; ++i)
        row[i] = uint8_t(row[i] + Paeth(left(i), above(i), i >= bpp ? above(i - bpp) : 0));
      break;
    default: break;
  }
}

bool UnfilterRowsToBgra(const uint8_t* stored, int width, int channels, int count,
                        const uint8_t* prior, uint8_t* out) {
  const size_t storedStride = 1 + size_t(width) * size_t(channels);
  const size_t outStride = size_t(width) * 4;
  int y = 0;
#if PLOMBIX_X86
  if (CurrentSimdLevel() >= SimdLevel::Avx2) {
    for (; y + kGroupRows <= count; y += kGroupRows) {
      const Group group{stored + size_t(y) * storedStride, storedStride, width, prior,
                        out + size_t(y) * outStride, outStride};
      if (!UnfilterGroupAvx2(group, channels)) return false;
      prior = out + size_t(y + kGroupRows - 1) * outStride;
    }
  }
#endif
  for (; y < count; ++y) {
    uint8_t* row = out + size_t(y) * outStride;
    if (!RowToBgra(stored + size_t(y) * storedStride, width, channels, prior, row)) return false;
    prior = row;
  }
  return true;
}

}  // namespace plombix
