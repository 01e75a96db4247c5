// Cross-fade kernel.
//
// Step weight, after the step counter has been decremented:
//   w = (stepsLeft x 256) / steps          (integer division, truncating)
// so the first of n steps gives (n - 1) x 256 / n (234 for the 12 steps of
// 25p) and the last gives 0, the new frame alone.
//
// Every byte (all four channels) becomes
//   out = (previous x w + composed x (256 - w)) >> 8.
// The sum is at most 255 x w + 255 x (256 - w) = 65280, so the whole sum,
// and each product, fits an unsigned 16-bit lane; the shift truncates. w = 256
// gives previous, w = 0 gives composed, exactly.
//
// Large outputs (the NDI frame about to be sent) are written with streaming
// stores: the frame is read next by the sender, not by this thread's cache,
// and skipping the read-for-ownership of the destination saves a third of
// the memory traffic.
#include "fade.h"

#include <cstdint>

#include "simd_level.h"

#if defined(__SSE2__)
#include <immintrin.h>
#define PLOMBIX_X86 1
#endif

namespace plombix {
namespace {

// Outputs at least this large bypass the cache (a 4096 x 2160 frame does;
// a 1920 x 1080 one stays in the last-level cache for its next reader).
constexpr size_t kStreamingBytes = size_t(16) << 20;

void FadeScalar(uint8_t* out, const uint8_t* previous, const uint8_t* composed, size_t count,
                unsigned w) {
  const unsigned v = 256 - w;
  for (size_t i = 0; i < count; ++i) out[i] = uint8_t((previous[i] * w + composed[i] * v) >> 8);
}

#if PLOMBIX_X86

void FadeSse2(uint8_t* out, const uint8_t* previous, const uint8_t* composed, size_t count,
              unsigned w) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i wp = _mm_set1_epi16(short(w));
  const __m128i wc = _mm_set1_epi16(short(256 - w));
  const bool streaming = count >= kStreamingBytes;
  size_t i = 0;
  if (streaming) {
    const size_t head = (16 - (reinterpret_cast<uintptr_t>(out) & 15)) & 15;
    FadeScalar(out, previous, composed, head, w);
    i = head;
  }
  for (; i + 16 <= count; i += 16) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(previous + i));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(composed + i));
    const __m128i lo = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(p, zero), wp),
                                                    _mm_mullo_epi16(_mm_unpacklo_epi8(c, zero), wc)),
                                      8);
    const __m128i hi = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(p, zero), wp),
                                                    _mm_mullo_epi16(_mm_unpackhi_epi8(c, zero), wc)),
                                      8);
    __m128i* dst = reinterpret_cast<__m128i*>(out + i);
    if (streaming) _mm_stream_si128(dst, _mm_packus_epi16(lo, hi));
    else _mm_storeu_si128(dst, _mm_packus_epi16(lo, hi));
  }
  if (streaming) _mm_sfence();
  FadeScalar(out + i, previous + i, composed + i, count - i, w);
}

__attribute__((target("avx2"))) void FadeAvx2(uint8_t* out, const uint8_t* previous,
                                              const uint8_t* composed, size_t count, unsigned w) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i wp = _mm256_set1_epi16(short(w));
  const __m256i wc = _mm256_set1_epi16(short(256 - w));
  const bool streaming = count >= kStreamingBytes;
  size_t i = 0;
  if (streaming) {
    const size_t head = (32 - (reinterpret_cast<uintptr_t>(out) & 31)) & 31;
    FadeScalar(out, previous, composed, head, w);
    i = head;
  }
  for (; i + 32 <= count; i += 32) {
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(previous + i));
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(composed + i));
    const __m256i lo = _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(p, zero), wp),
                         _mm256_mullo_epi16(_mm256_unpacklo_epi8(c, zero), wc)),
        8);
    const __m256i hi = _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(p, zero), wp),
                         _mm256_mullo_epi16(_mm256_unpackhi_epi8(c, zero), wc)),
        8);
    __m256i* dst = reinterpret_cast<__m256i*>(out + i);
    if (streaming) _mm256_stream_si256(dst, _mm256_packus_epi16(lo, hi));
    else _mm256_storeu_si256(dst, _mm256_packus_epi16(lo, hi));
  }
  if (streaming) _mm_sfence();
  _mm256_zeroupper();
  FadeScalar(out + i, previous + i, composed + i, count - i, w);
}

#endif  // PLOMBIX_X86

}  // namespace

int FadeWeight(int stepsLeft, int steps) {
  if (steps <= 0 || stepsLeft <= 0) return 0;
  if (stepsLeft >= steps) return 256;
  return int((int64_t(stepsLeft) * 256) / steps);
}

void FadeBlend(uint8_t* out, const uint8_t* previous, const uint8_t* composed, size_t byteCount,
               int weight) {
  if (byteCount == 0 || !out || !previous || !composed) return;
  const unsigned w = weight < 0 ? 0u : weight > 256 ? 256u : unsigned(weight);
#if PLOMBIX_X86
  switch (CurrentSimdLevel()) {
    case SimdLevel::Avx512:
    case SimdLevel::Avx2: return FadeAvx2(out, previous, composed, byteCount, w);
    case SimdLevel::Sse2: return FadeSse2(out, previous, composed, byteCount, w);
    case SimdLevel::Scalar: break;
  }
#endif
  FadeScalar(out, previous, composed, byteCount, w);
}

}  // namespace plombix
