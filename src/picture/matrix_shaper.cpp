// Two kernels of the matrix-shaper conversion: the scalar one (the
// reference, and the path without AVX-512), and an AVX-512 one that works
// on 32 pixels at a time in 16-bit lanes. There is no SSE2 or AVX2 version:
// without word permutes the table look-ups cost more than the scalar loop.
#include "matrix_shaper.h"

#include <algorithm>

#include "simd_level.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace plombix {
namespace {

constexpr int32_t kRound = 1 << (MatrixShaperTables::kShift - 1);

void ConvertScalar(const MatrixShaperTables& t, uint8_t* pixels, size_t count) {
  for (size_t i = 0; i < count; ++i, pixels += 4) {
    const int32_t* b = t.contribution[0][pixels[0]];
    const int32_t* g = t.contribution[1][pixels[1]];
    const int32_t* r = t.contribution[2][pixels[2]];
    for (int o = 0; o < 3; ++o) {
      const int32_t sum = (b[o] + g[o] + r[o] + kRound) >> MatrixShaperTables::kShift;
      pixels[o] = t.encode[std::clamp(sum, 0, MatrixShaperTables::kOne)];
    }
  }
}

#if defined(__x86_64__)

#define AVX512 __attribute__((target("avx512f,avx512bw")))

// The masked forms of the 32-bit shifts, with every lane selected: GCC 12's
// plain forms warn of an uninitialised operand inside their own header.
constexpr __mmask16 kAll16 = 0xFFFF;

// The threshold tables of the binary search's permuted steps: for step s
// the candidates out + s where out is a multiple of 2s, i.e.
// threshold[j 2s + s] for j = 0 .. 128 / s - 1, at least 32 words each
// (step 2: 64, step 1: 128).
struct SearchTables {
  alignas(64) uint16_t step[3][32];  // steps 16, 8, 4 (padded with 0)
  alignas(64) uint16_t two[64];
  alignas(64) uint16_t one[128];
};

SearchTables MakeSearchTables(const uint16_t* threshold) {
  SearchTables s{};
  for (int k = 0, step = 16; step >= 4; ++k, step /= 2)
    for (int j = 0; j < 128 / step; ++j) s.step[k][j] = threshold[j * 2 * step + step];
  for (int j = 0; j < 64; ++j) s.two[j] = threshold[j * 4 + 2];
  for (int j = 0; j < 128; ++j) s.one[j] = threshold[j * 2 + 1];
  return s;
}

AVX512 inline __m512i Lookup256(const __m512i table[8], __m512i v) {
  const __m512i r0 = _mm512_permutex2var_epi16(table[0], v, table[1]);
  const __m512i r1 = _mm512_permutex2var_epi16(table[2], v, table[3]);
  const __m512i r2 = _mm512_permutex2var_epi16(table[4], v, table[5]);
  const __m512i r3 = _mm512_permutex2var_epi16(table[6], v, table[7]);
  const __mmask32 bit6 = _mm512_test_epi16_mask(v, _mm512_set1_epi16(64));
  const __mmask32 bit7 = _mm512_test_epi16_mask(v, _mm512_set1_epi16(128));
  return _mm512_mask_blend_epi16(bit7, _mm512_mask_blend_epi16(bit6, r0, r1),
                                 _mm512_mask_blend_epi16(bit6, r2, r3));
}

struct SearchVectors {
  __m512i top[7];  // thresholds 128; 64, 192; 32, 96, 160, 224 (broadcast)
  __m512i step[3], two[2], one[4];
};

// The number of thresholds at or below x (x in 0..16384), by eight halvings.
// The first three pick their threshold by blends on the earlier answers,
// the others by word permutes.
AVX512 inline __m512i Encode(const SearchVectors& s, __m512i x) {
  const __mmask32 k128 = _mm512_cmpge_epu16_mask(x, s.top[0]);
  const __mmask32 k64 = _mm512_cmpge_epu16_mask(x, _mm512_mask_blend_epi16(k128, s.top[1], s.top[2]));
  const __m512i t32 = _mm512_mask_blend_epi16(k64, _mm512_mask_blend_epi16(k128, s.top[3], s.top[5]),
                                              _mm512_mask_blend_epi16(k128, s.top[4], s.top[6]));
  const __mmask32 k32 = _mm512_cmpge_epu16_mask(x, t32);
  __m512i out = _mm512_maskz_mov_epi16(k128, _mm512_set1_epi16(128));
  out = _mm512_mask_add_epi16(out, k64, out, _mm512_set1_epi16(64));
  out = _mm512_mask_add_epi16(out, k32, out, _mm512_set1_epi16(32));
  for (int k = 0, step = 16, shift = 5; k < 3; ++k, step /= 2, --shift) {
    const __m512i candidate = _mm512_permutexvar_epi16(_mm512_srli_epi16(out, unsigned(shift)), s.step[k]);
    out = _mm512_mask_add_epi16(out, _mm512_cmpge_epu16_mask(x, candidate), out, _mm512_set1_epi16(short(step)));
  }
  const __m512i two = _mm512_permutex2var_epi16(s.two[0], _mm512_srli_epi16(out, 2), s.two[1]);
  out = _mm512_mask_add_epi16(out, _mm512_cmpge_epu16_mask(x, two), out, _mm512_set1_epi16(2));
  const __m512i index = _mm512_srli_epi16(out, 1);
  const __m512i one =
      _mm512_mask_blend_epi16(_mm512_test_epi16_mask(index, _mm512_set1_epi16(64)),
                              _mm512_permutex2var_epi16(s.one[0], index, s.one[1]),
                              _mm512_permutex2var_epi16(s.one[2], index, s.one[3]));
  return _mm512_mask_add_epi16(out, _mm512_cmpge_epu16_mask(x, one), out, _mm512_set1_epi16(1));
}

// Words 0..255 of byte `shift` of every pixel of p0 then p1, lane-wise
// interleaved by the pack (undone by the unpacks at the end).
AVX512 inline __m512i Channel(__m512i p0, __m512i p1, unsigned shift) {
  const __m512i mask = _mm512_set1_epi32(0xFF);
  return _mm512_packus_epi32(_mm512_and_si512(_mm512_maskz_srli_epi32(kAll16, p0, shift), mask),
                             _mm512_and_si512(_mm512_maskz_srli_epi32(kAll16, p1, shift), mask));
}

AVX512 void ConvertAvx512(const MatrixShaperTables& t, uint8_t* pixels, size_t count) {
  __m512i linear[3][8];
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 8; ++i) linear[c][i] = _mm512_load_si512(&t.linear[c][i * 32]);
  __m512i pairBG[3], pairR1[3];  // matrix words (blue, green) and (red, rounding) per output
  for (int o = 0; o < 3; ++o) {
    pairBG[o] = _mm512_set1_epi32(int(uint16_t(t.matrix[o][0]) | uint32_t(uint16_t(t.matrix[o][1])) << 16));
    pairR1[o] = _mm512_set1_epi32(int(uint16_t(t.matrix[o][2]) | uint32_t(kRound) << 16));
  }
  const SearchTables tables = MakeSearchTables(t.threshold);
  SearchVectors search;
  const int firstSteps[7] = {128, 64, 192, 32, 96, 160, 224};
  for (int k = 0; k < 7; ++k) search.top[k] = _mm512_set1_epi16(short(t.threshold[firstSteps[k]]));
  for (int k = 0; k < 3; ++k) search.step[k] = _mm512_load_si512(tables.step[k]);
  for (int i = 0; i < 2; ++i) search.two[i] = _mm512_load_si512(tables.two + i * 32);
  for (int i = 0; i < 4; ++i) search.one[i] = _mm512_load_si512(tables.one + i * 32);
  const __m512i one = _mm512_set1_epi16(1), zero = _mm512_setzero_si512();
  const __m512i top = _mm512_set1_epi16(short(MatrixShaperTables::kOne));
  const __m512i alphaMask = _mm512_set1_epi32(int(0xFF000000u));

  size_t i = 0;
  for (; i + 32 <= count; i += 32) {
    uint8_t* p = pixels + i * 4;
    const __m512i p0 = _mm512_loadu_si512(p), p1 = _mm512_loadu_si512(p + 64);
    const __m512i lb = Lookup256(linear[0], Channel(p0, p1, 0));
    const __m512i lg = Lookup256(linear[1], Channel(p0, p1, 8));
    const __m512i lr = Lookup256(linear[2], Channel(p0, p1, 16));
    const __m512i bgLo = _mm512_unpacklo_epi16(lb, lg), bgHi = _mm512_unpackhi_epi16(lb, lg);
    const __m512i r1Lo = _mm512_unpacklo_epi16(lr, one), r1Hi = _mm512_unpackhi_epi16(lr, one);
    __m512i out[3];
    for (int o = 0; o < 3; ++o) {
      const __m512i lo = _mm512_maskz_srai_epi32(kAll16, 
          _mm512_add_epi32(_mm512_madd_epi16(bgLo, pairBG[o]), _mm512_madd_epi16(r1Lo, pairR1[o])),
          MatrixShaperTables::kShift);
      const __m512i hi = _mm512_maskz_srai_epi32(kAll16, 
          _mm512_add_epi32(_mm512_madd_epi16(bgHi, pairBG[o]), _mm512_madd_epi16(r1Hi, pairR1[o])),
          MatrixShaperTables::kShift);
      // Saturation keeps the order, so clamping after it is clamping the sum.
      const __m512i sum = _mm512_min_epi16(_mm512_max_epi16(_mm512_packs_epi32(lo, hi), zero), top);
      out[o] = Encode(search, sum);
    }
    const __m512i bg = _mm512_or_si512(out[0], _mm512_slli_epi16(out[1], 8));
    _mm512_storeu_si512(p, _mm512_or_si512(_mm512_unpacklo_epi16(bg, out[2]),
                                           _mm512_and_si512(p0, alphaMask)));
    _mm512_storeu_si512(p + 64, _mm512_or_si512(_mm512_unpackhi_epi16(bg, out[2]),
                                                _mm512_and_si512(p1, alphaMask)));
  }
  ConvertScalar(t, pixels + i * 4, count - i);
}

#endif

}  // namespace

void MatrixShaperTables::Derive() {
  for (int c = 0; c < 3; ++c)
    for (int v = 0; v < 256; ++v)
      for (int o = 0; o < 3; ++o) contribution[c][v][o] = int32_t(matrix[o][c]) * linear[c][v];
  int x = 0;
  threshold[0] = 0;
  for (int k = 1; k < 256; ++k) {
    while (x <= kOne && encode[x] < k) ++x;
    threshold[k] = x <= kOne ? uint16_t(x) : uint16_t(0xFFFF);
  }
}

void ConvertMatrixShaper(const MatrixShaperTables& tables, uint8_t* pixels, size_t count) {
#if defined(__x86_64__)
  if (CurrentSimdLevel() >= SimdLevel::Avx512) return ConvertAvx512(tables, pixels, count);
#endif
  ConvertScalar(tables, pixels, count);
}

}  // namespace plombix
