// Row kernels: alpha blend, alpha set, byte mapping, video-range table.
//
// Blend ("over", straight alpha) of picture pixel s over frame pixel d,
// a = s.alpha, f = d.alpha, b = 255 - a. In fractions of 255 the result's
// alpha is a + f(1 - a) and its colour (s a + d f (1 - a)) / alpha; scaled
// by 255 x 255 that is, in integers:
//   ws = 255 a,  wd = f b,  D = ws + wd          (D <= 65025; D / 255 is
//                                                 the exact result alpha)
//   colour := (s x ws + d x wd) / D              (blue, green, red)
//   alpha  := 255 - ((255 - f) x b) / 255
// Every division truncates. (255 - f) x b = 65025 - D, so the stored alpha
// is D / 255 rounded up. D = 0 only where a = 0 and f = 0; the frame pixel
// then stays as it is, as it does for every a = 0.
//
// Over an opaque frame pixel (f = 255): wd = 255 b, D = 255 x 255, and
//   colour = 255 (s a + d b) / (255 x 255) = (s a + d b) / 255
// exactly (the common factor cancels before truncation), so the kernels
// compute that form there: opaque frames keep the arithmetic they always
// had. a = 0 gives colour d, alpha f (frame unchanged); a = 255 gives
// colour s, alpha 255 (frame := picture).
//
// Opaque-frame form, division by 255: x / 255 = (x x 0x8081) >> 23 for
// 0 <= x <= 65535. 0x8081 x 255 = 2^23 + 127, so (x x 0x8081) / 2^23 =
// x / 255 + 127x / (255 x 2^23). Writing x = 255q + r (r <= 254) the
// fraction stays below 1 while r + 127x / 2^23 < 255, i.e. for every
// x < 66052. In 16-bit lanes this is mulhi(x, 0x8081) >> 7 (the two shifts
// compose because both floor). Both numerators are at most 65025.
//
// One formula for all four lanes: the vector kernels flip the frame's alpha
// byte (f XOR 255 = 255 - f) and clear the picture's, so every lane
// computes (d' x b + s' x a) / 255; the alpha lane's result q is then
// flipped back (q XOR 255 = 255 - q, since q <= 255).
//
// General form in the vector kernels, for groups of pixels whose frame is
// not opaque throughout: single precision. s x ws and d x wd are integers
// below 255 x 65025 < 2^24 and so is their sum N (N <= 255 D), so products
// and sum are exact. The quotient N / D is rounded to nearest: an integer
// k comes out exactly; otherwise N / D = k + r / D with 1 <= r < D lies at
// least 1 / D >= 1 / 65025 > 2^-16 below k + 1, while floats below 256 are
// at most 2^-16 apart, so it rounds to a value in [k, k + 1) and
// truncation gives k. Where a = 0 the frame weight is made odd (wd | 1),
// which keeps colour d (d wd / wd) and keeps D from 0. The alpha lane takes
// the integer form above.
//
// Shortcuts that stay exact: a group whose alphas are all 0 leaves the
// frame as it is, one whose alphas are all 255 is the picture's group.
//
// The kernels read the frame from `under` and write to `out`; blending in
// place passes the same row twice, and a transparent group then needs no
// store at all.
//
// Video-range table: 0..15 -> 0, 16..235 -> floor((i - 16) x 255 / 219),
// 236..255 -> 255. With v = clamp(i, 16, 235) - 16 (0..219):
//   v x 255 / 219 = v + v x 36 / 219 = v + v x 12 / 73,
// and floor(y / 73) = mulhi(y, 898) for 0 <= y <= 12 x 219 = 2628:
// 898 / 65536 - 1 / 73 < 3.8e-6, so the error stays under 0.01 while the
// fraction y mod 73 / 73 is at most 72/73 < 0.99. MapBytes uses this exact
// arithmetic whenever it is handed the video-range table itself, and a
// table lookup for any other table.
#include "pixel_ops.h"

#include <cstring>

#include "simd_level.h"

#if defined(__SSE2__)
#include <immintrin.h>
#define PLOMBIX_X86 1
#endif

namespace plombix {
namespace {

inline unsigned Div255(unsigned x) { return (x * 0x8081u) >> 23; }

void BlendRowScalar(uint8_t* out, const uint8_t* under, const uint8_t* src, size_t pixels) {
  for (size_t i = 0; i < pixels; ++i, out += 4, under += 4, src += 4) {
    const unsigned a = src[3], f = under[3];
    const unsigned b = 255 - a;
    const unsigned d0 = under[0], d1 = under[1], d2 = under[2];
    if (f == 255) {
      out[0] = uint8_t(Div255(d0 * b + src[0] * a));
      out[1] = uint8_t(Div255(d1 * b + src[1] * a));
      out[2] = uint8_t(Div255(d2 * b + src[2] * a));
      out[3] = 255;
      continue;
    }
    const unsigned ws = 255 * a, wd = f * b, den = ws + wd;
    if (den == 0) {  // both transparent: the frame pixel stays
      if (out != under) std::memcpy(out, under, 4);
      continue;
    }
    out[0] = uint8_t((src[0] * ws + d0 * wd) / den);
    out[1] = uint8_t((src[1] * ws + d1 * wd) / den);
    out[2] = uint8_t((src[2] * ws + d2 * wd) / den);
    out[3] = uint8_t(255 - Div255((255 - f) * b));
  }
}

void ExpandRangeScalar(uint8_t* data, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) {
    unsigned v = data[i] < 16 ? 16 : data[i] > 235 ? 235 : data[i];
    v -= 16;
    data[i] = uint8_t(v + ((v * 12 * 898) >> 16));
  }
}

void MapBytesTable(uint8_t* data, size_t bytes, const std::array<uint8_t, 256>& table) {
  size_t i = 0;
  // Eight lookups per 64-bit word keep loads and stores wide.
  for (; i + 8 <= bytes; i += 8) {
    uint64_t word;
    std::memcpy(&word, data + i, 8);
    uint64_t out = 0;
    for (int k = 0; k < 8; ++k) out |= uint64_t(table[(word >> (8 * k)) & 0xFF]) << (8 * k);
    std::memcpy(data + i, &out, 8);
  }
  for (; i < bytes; ++i) data[i] = table[data[i]];
}

#if PLOMBIX_X86

// The general form for four pixels: s the picture's, d the frame's (as
// stored). Products of two bytes and of a byte with 255 stay below 65536,
// so 16-bit multiplies give them in the low half of each 32-bit lane (the
// high halves multiply zeros).
template <int kShift>
inline __m128i OverChannelSse2(__m128i s, __m128i d, __m128 ws, __m128 wd, __m128 den) {
  const __m128i low = _mm_set1_epi32(0xFF);
  const __m128 sc = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(s, kShift), low));
  const __m128 dc = _mm_cvtepi32_ps(_mm_and_si128(_mm_srli_epi32(d, kShift), low));
  const __m128 q = _mm_div_ps(_mm_add_ps(_mm_mul_ps(sc, ws), _mm_mul_ps(dc, wd)), den);
  return _mm_slli_epi32(_mm_cvttps_epi32(q), kShift);
}

inline __m128i OverSse2(__m128i s, __m128i d) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i c255 = _mm_set1_epi32(255);
  const __m128i a = _mm_srli_epi32(s, 24);
  const __m128i f = _mm_srli_epi32(d, 24);
  const __m128i b = _mm_sub_epi32(c255, a);
  const __m128i aZero = _mm_and_si128(_mm_cmpeq_epi32(a, zero), _mm_set1_epi32(1));
  const __m128 ws = _mm_cvtepi32_ps(_mm_mullo_epi16(a, c255));
  const __m128 wd = _mm_cvtepi32_ps(_mm_or_si128(_mm_mullo_epi16(f, b), aZero));
  const __m128 den = _mm_add_ps(ws, wd);
  const __m128i x = _mm_mullo_epi16(_mm_sub_epi32(c255, f), b);
  const __m128i q = _mm_srli_epi32(_mm_mulhi_epu16(x, _mm_set1_epi32(0x8081)), 7);
  __m128i out = _mm_slli_epi32(_mm_sub_epi32(c255, q), 24);
  out = _mm_or_si128(out, OverChannelSse2<0>(s, d, ws, wd, den));
  out = _mm_or_si128(out, OverChannelSse2<8>(s, d, ws, wd, den));
  return _mm_or_si128(out, OverChannelSse2<16>(s, d, ws, wd, den));
}

template <int kShift>
__attribute__((target("avx2"))) inline __m256i OverChannelAvx2(__m256i s, __m256i d, __m256 ws,
                                                               __m256 wd, __m256 den) {
  const __m256i low = _mm256_set1_epi32(0xFF);
  const __m256 sc = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(s, kShift), low));
  const __m256 dc = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(d, kShift), low));
  const __m256 q = _mm256_div_ps(_mm256_add_ps(_mm256_mul_ps(sc, ws), _mm256_mul_ps(dc, wd)), den);
  return _mm256_slli_epi32(_mm256_cvttps_epi32(q), kShift);
}

// OverSse2 for eight pixels.
__attribute__((target("avx2"))) inline __m256i OverAvx2(__m256i s, __m256i d) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i c255 = _mm256_set1_epi32(255);
  const __m256i a = _mm256_srli_epi32(s, 24);
  const __m256i f = _mm256_srli_epi32(d, 24);
  const __m256i b = _mm256_sub_epi32(c255, a);
  const __m256i aZero = _mm256_and_si256(_mm256_cmpeq_epi32(a, zero), _mm256_set1_epi32(1));
  const __m256 ws = _mm256_cvtepi32_ps(_mm256_mullo_epi16(a, c255));
  const __m256 wd = _mm256_cvtepi32_ps(_mm256_or_si256(_mm256_mullo_epi16(f, b), aZero));
  const __m256 den = _mm256_add_ps(ws, wd);
  const __m256i x = _mm256_mullo_epi16(_mm256_sub_epi32(c255, f), b);
  const __m256i q = _mm256_srli_epi32(_mm256_mulhi_epu16(x, _mm256_set1_epi32(0x8081)), 7);
  __m256i out = _mm256_slli_epi32(_mm256_sub_epi32(c255, q), 24);
  out = _mm256_or_si256(out, OverChannelAvx2<0>(s, d, ws, wd, den));
  out = _mm256_or_si256(out, OverChannelAvx2<8>(s, d, ws, wd, den));
  return _mm256_or_si256(out, OverChannelAvx2<16>(s, d, ws, wd, den));
}

void BlendRowSse2(uint8_t* dst, const uint8_t* under, const uint8_t* src,
                  size_t pixels) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i alphaMask = _mm_set1_epi32(int(0xFF000000u));
  const __m128i all255 = _mm_set1_epi16(255);
  const __m128i magic = _mm_set1_epi16(short(0x8081));
  const bool copyUnder = under != dst;
  size_t i = 0;
  for (; i + 4 <= pixels; i += 4) {
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
    const __m128i sAlpha = _mm_and_si128(s, alphaMask);
    const int transparent = _mm_movemask_epi8(_mm_cmpeq_epi32(sAlpha, zero));
    __m128i* out = reinterpret_cast<__m128i*>(dst + 4 * i);
    const __m128i* below = reinterpret_cast<const __m128i*>(under + 4 * i);
    if (transparent == 0xFFFF) {
      if (copyUnder) _mm_storeu_si128(out, _mm_loadu_si128(below));
      continue;
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(sAlpha, alphaMask)) == 0xFFFF) {
      _mm_storeu_si128(out, s);
      continue;
    }
    const __m128i under4 = _mm_loadu_si128(below);
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(under4, alphaMask), alphaMask)) != 0xFFFF) {
      _mm_storeu_si128(out, OverSse2(s, under4));
      continue;
    }
    const __m128i d = _mm_xor_si128(under4, alphaMask);
    const __m128i sc = _mm_andnot_si128(alphaMask, s);
    // a in both 16-bit halves of each 32-bit lane, then one pixel per half.
    __m128i a32 = _mm_srli_epi32(s, 24);
    a32 = _mm_or_si128(a32, _mm_slli_epi32(a32, 16));
    const __m128i aLo = _mm_unpacklo_epi32(a32, a32);
    const __m128i aHi = _mm_unpackhi_epi32(a32, a32);
    const __m128i bLo = _mm_sub_epi16(all255, aLo);
    const __m128i bHi = _mm_sub_epi16(all255, aHi);
    __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(d, zero), bLo),
                               _mm_mullo_epi16(_mm_unpacklo_epi8(sc, zero), aLo));
    __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(d, zero), bHi),
                               _mm_mullo_epi16(_mm_unpackhi_epi8(sc, zero), aHi));
    lo = _mm_srli_epi16(_mm_mulhi_epu16(lo, magic), 7);
    hi = _mm_srli_epi16(_mm_mulhi_epu16(hi, magic), 7);
    _mm_storeu_si128(out, _mm_xor_si128(_mm_packus_epi16(lo, hi), alphaMask));
  }
  BlendRowScalar(dst + 4 * i, under + 4 * i, src + 4 * i, pixels - i);
}

__attribute__((target("avx2"))) void BlendRowAvx2(uint8_t* dst, const uint8_t* under,
                                                  const uint8_t* src, size_t pixels) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i alphaMask = _mm256_set1_epi32(int(0xFF000000u));
  const __m256i all255 = _mm256_set1_epi16(255);
  const __m256i magic = _mm256_set1_epi16(short(0x8081));
  // Byte shuffles that spread each pixel's alpha over its four 16-bit lanes
  // (-128 = a zero byte), for the low and the high pair of pixels per half.
  const __m256i spreadLo = _mm256_setr_epi8(3, -128, 3, -128, 3, -128, 3, -128, 7, -128, 7, -128,
                                            7, -128, 7, -128, 3, -128, 3, -128, 3, -128, 3, -128,
                                            7, -128, 7, -128, 7, -128, 7, -128);
  const __m256i spreadHi = _mm256_add_epi8(spreadLo, _mm256_set1_epi16(8));
  const bool copyUnder = under != dst;
  size_t i = 0;
  for (; i + 8 <= pixels; i += 8) {
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
    __m256i* out = reinterpret_cast<__m256i*>(dst + 4 * i);
    const __m256i* below = reinterpret_cast<const __m256i*>(under + 4 * i);
    if (_mm256_testz_si256(s, alphaMask)) {  // all alphas 0
      if (copyUnder) _mm256_storeu_si256(out, _mm256_loadu_si256(below));
      continue;
    }
    if (_mm256_testc_si256(s, alphaMask)) {  // all alphas 255
      _mm256_storeu_si256(out, s);
      continue;
    }
    const __m256i under8 = _mm256_loadu_si256(below);
    const __m256i d = _mm256_xor_si256(under8, alphaMask);
    if (!_mm256_testz_si256(d, alphaMask)) {  // some frame alpha below 255
      _mm256_storeu_si256(out, OverAvx2(s, under8));
      continue;
    }
    const __m256i sc = _mm256_andnot_si256(alphaMask, s);
    // Unpacks work within 128-bit halves; packus undoes them the same way.
    const __m256i aLo = _mm256_shuffle_epi8(s, spreadLo);
    const __m256i aHi = _mm256_shuffle_epi8(s, spreadHi);
    const __m256i bLo = _mm256_sub_epi16(all255, aLo);
    const __m256i bHi = _mm256_sub_epi16(all255, aHi);
    __m256i lo = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(d, zero), bLo),
                                  _mm256_mullo_epi16(_mm256_unpacklo_epi8(sc, zero), aLo));
    __m256i hi = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(d, zero), bHi),
                                  _mm256_mullo_epi16(_mm256_unpackhi_epi8(sc, zero), aHi));
    lo = _mm256_srli_epi16(_mm256_mulhi_epu16(lo, magic), 7);
    hi = _mm256_srli_epi16(_mm256_mulhi_epu16(hi, magic), 7);
    _mm256_storeu_si256(out, _mm256_xor_si256(_mm256_packus_epi16(lo, hi), alphaMask));
  }
  // The compiler does not clear the upper register halves before a tail
  // call; legacy SSE code after dirty upper halves runs several times slower.
  _mm256_zeroupper();
  BlendRowSse2(dst + 4 * i, under + 4 * i, src + 4 * i, pixels - i);
}

__attribute__((target("avx512f,avx512bw"))) void BlendRowAvx512(uint8_t* dst, const uint8_t* under,
                                                                const uint8_t* src, size_t pixels) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i alphaMask = _mm512_set1_epi32(int(0xFF000000u));
  const __m512i all255 = _mm512_set1_epi16(255);
  const __m512i magic = _mm512_set1_epi16(short(0x8081));
  const __m512i colourMask = _mm512_set1_epi32(0x00FFFFFF);
  // The AVX2 kernel's byte shuffle in every 128-bit quarter.
  const __m512i spreadLo = _mm512_set4_epi64(int64_t(0x8007800780078007ull), int64_t(0x8003800380038003ull),
                                             int64_t(0x8007800780078007ull), int64_t(0x8003800380038003ull));
  const __m512i spreadHi = _mm512_add_epi8(spreadLo, _mm512_set1_epi16(8));
  const bool copyUnder = under != dst;
  size_t i = 0;
  for (; i + 16 <= pixels; i += 16) {
    const __m512i s = _mm512_loadu_si512(src + 4 * i);
    const __m512i sAlpha = _mm512_and_si512(s, alphaMask);
    uint8_t* out = dst + 4 * i;
    const uint8_t* below = under + 4 * i;
    if (_mm512_test_epi32_mask(s, alphaMask) == 0) {  // all alphas 0
      if (copyUnder) _mm512_storeu_si512(out, _mm512_loadu_si512(below));
      continue;
    }
    if (_mm512_cmpeq_epi32_mask(sAlpha, alphaMask) == 0xFFFF) {  // all alphas 255
      _mm512_storeu_si512(out, s);
      continue;
    }
    const __m512i under16 = _mm512_loadu_si512(below);
    const __m512i d = _mm512_xor_si512(under16, alphaMask);
    if (_mm512_test_epi32_mask(d, alphaMask) != 0) {  // some frame alpha below 255
      // The general form eight pixels at a time, from memory again.
      for (size_t half = 0; half < 64; half += 32) {
        const __m256i s8 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i + half));
        const __m256i d8 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(below + half));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + half), OverAvx2(s8, d8));
      }
      continue;
    }
    const __m512i sc = _mm512_and_si512(s, colourMask);
    const __m512i aLo = _mm512_shuffle_epi8(s, spreadLo);
    const __m512i aHi = _mm512_shuffle_epi8(s, spreadHi);
    const __m512i bLo = _mm512_sub_epi16(all255, aLo);
    const __m512i bHi = _mm512_sub_epi16(all255, aHi);
    __m512i lo = _mm512_add_epi16(_mm512_mullo_epi16(_mm512_unpacklo_epi8(d, zero), bLo),
                                  _mm512_mullo_epi16(_mm512_unpacklo_epi8(sc, zero), aLo));
    __m512i hi = _mm512_add_epi16(_mm512_mullo_epi16(_mm512_unpackhi_epi8(d, zero), bHi),
                                  _mm512_mullo_epi16(_mm512_unpackhi_epi8(sc, zero), aHi));
    lo = _mm512_srli_epi16(_mm512_mulhi_epu16(lo, magic), 7);
    hi = _mm512_srli_epi16(_mm512_mulhi_epu16(hi, magic), 7);
    _mm512_storeu_si512(out, _mm512_xor_si512(_mm512_packus_epi16(lo, hi), alphaMask));
  }
  _mm256_zeroupper();
  BlendRowSse2(dst + 4 * i, under + 4 * i, src + 4 * i, pixels - i);
}

void SetAlphaRowSse2(uint8_t* data, size_t pixels, uint8_t alpha) {
  const __m128i keep = _mm_set1_epi32(0x00FFFFFF);
  const __m128i put = _mm_set1_epi32(int(uint32_t(alpha) << 24));
  size_t i = 0;
  for (; i + 4 <= pixels; i += 4) {
    __m128i* p = reinterpret_cast<__m128i*>(data + 4 * i);
    _mm_storeu_si128(p, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(p), keep), put));
  }
  for (; i < pixels; ++i) data[4 * i + 3] = alpha;
}

void ExpandRangeSse2(uint8_t* data, size_t bytes) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lowest = _mm_set1_epi8(16);
  const __m128i highest = _mm_set1_epi8(char(235));
  const __m128i twelve = _mm_set1_epi16(12);
  const __m128i magic = _mm_set1_epi16(898);
  size_t i = 0;
  for (; i + 16 <= bytes; i += 16) {
    __m128i* p = reinterpret_cast<__m128i*>(data + i);
    const __m128i v = _mm_sub_epi8(_mm_min_epu8(_mm_max_epu8(_mm_loadu_si128(p), lowest), highest), lowest);
    __m128i lo = _mm_unpacklo_epi8(v, zero);
    __m128i hi = _mm_unpackhi_epi8(v, zero);
    lo = _mm_add_epi16(lo, _mm_mulhi_epu16(_mm_mullo_epi16(lo, twelve), magic));
    hi = _mm_add_epi16(hi, _mm_mulhi_epu16(_mm_mullo_epi16(hi, twelve), magic));
    _mm_storeu_si128(p, _mm_packus_epi16(lo, hi));
  }
  ExpandRangeScalar(data + i, bytes - i);
}

__attribute__((target("avx2"))) void ExpandRangeAvx2(uint8_t* data, size_t bytes) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i lowest = _mm256_set1_epi8(16);
  const __m256i highest = _mm256_set1_epi8(char(235));
  const __m256i twelve = _mm256_set1_epi16(12);
  const __m256i magic = _mm256_set1_epi16(898);
  size_t i = 0;
  for (; i + 32 <= bytes; i += 32) {
    __m256i* p = reinterpret_cast<__m256i*>(data + i);
    const __m256i v = _mm256_sub_epi8(
        _mm256_min_epu8(_mm256_max_epu8(_mm256_loadu_si256(p), lowest), highest), lowest);
    __m256i lo = _mm256_unpacklo_epi8(v, zero);
    __m256i hi = _mm256_unpackhi_epi8(v, zero);
    lo = _mm256_add_epi16(lo, _mm256_mulhi_epu16(_mm256_mullo_epi16(lo, twelve), magic));
    hi = _mm256_add_epi16(hi, _mm256_mulhi_epu16(_mm256_mullo_epi16(hi, twelve), magic));
    _mm256_storeu_si256(p, _mm256_packus_epi16(lo, hi));
  }
  _mm256_zeroupper();
  ExpandRangeSse2(data + i, bytes - i);
}

#endif  // PLOMBIX_X86

const std::array<uint8_t, 256>& VideoRangeTable() {
  static const std::array<uint8_t, 256> table = MakeRangeTable();
  return table;
}

}  // namespace

void BlendRowOnto(uint8_t* out, const uint8_t* under, const uint8_t* src, size_t pixels) {
#if PLOMBIX_X86
  switch (CurrentSimdLevel()) {
    case SimdLevel::Avx512: return BlendRowAvx512(out, under, src, pixels);
    case SimdLevel::Avx2: return BlendRowAvx2(out, under, src, pixels);
    case SimdLevel::Sse2: return BlendRowSse2(out, under, src, pixels);
    case SimdLevel::Scalar: break;
  }
#endif
  BlendRowScalar(out, under, src, pixels);
}

void BlendRow(uint8_t* dst, const uint8_t* src, size_t pixels) { BlendRowOnto(dst, dst, src, pixels); }

void SetAlphaRow(uint8_t* data, size_t pixels, uint8_t alpha) {
#if PLOMBIX_X86
  if (CurrentSimdLevel() != SimdLevel::Scalar) return SetAlphaRowSse2(data, pixels, alpha);
#endif
  for (size_t i = 0; i < pixels; ++i) data[i * 4 + 3] = alpha;
}

void MapBytes(uint8_t* data, size_t bytes, const std::array<uint8_t, 256>& table) {
  if (table != VideoRangeTable()) return MapBytesTable(data, bytes, table);
#if PLOMBIX_X86
  switch (CurrentSimdLevel()) {
    case SimdLevel::Avx512:
    case SimdLevel::Avx2: return ExpandRangeAvx2(data, bytes);
    case SimdLevel::Sse2: return ExpandRangeSse2(data, bytes);
    case SimdLevel::Scalar: break;
  }
#endif
  ExpandRangeScalar(data, bytes);
}

std::array<uint8_t, 256> MakeRangeTable() {
  std::array<uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    if (i < 16) table[i] = 0;
    else if (i > 235) table[i] = 255;
    else table[i] = uint8_t((i - 16) * 255 / 219);
  }
  return table;
}

}  // namespace plombix
