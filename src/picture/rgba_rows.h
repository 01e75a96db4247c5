// Rows as libheif and libjxl deliver them into the pixel format (blue,
// green, red, alpha): RGBA bytes with red and blue swapped, and separate
// planes interleaved.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace plombix {

// Copies `pixels` RGBA pixels from `from` to `to` (which may be the same
// buffer) as BGRA. As a little-endian word a pixel is A << 24 | B << 16 |
// G << 8 | R; swapping R and B keeps A and G.
inline void CopyRgbaAsBgra(uint8_t* to, const uint8_t* from, size_t pixels) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i keep = _mm_set1_epi32(int(0xFF00FF00u));
  const __m128i swap = _mm_set1_epi32(0x00FF00FF);
  for (; i + 4 <= pixels; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i * 4));
    const __m128i rb = _mm_and_si128(v, swap);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i * 4),
                     _mm_or_si128(_mm_and_si128(v, keep),
                                  _mm_or_si128(_mm_slli_epi32(rb, 16), _mm_srli_epi32(rb, 16))));
  }
#endif
  for (; i < pixels; ++i) {
    const uint8_t r = from[i * 4], g = from[i * 4 + 1], b = from[i * 4 + 2], a = from[i * 4 + 3];
    to[i * 4] = b, to[i * 4 + 1] = g, to[i * 4 + 2] = r, to[i * 4 + 3] = a;
  }
}

// Writes `pixels` pixels of the planes `blue`, `green`, `red` and `alpha`
// (null: 255) into `to`.
inline void InterleaveBgra(uint8_t* to, const uint8_t* blue, const uint8_t* green, const uint8_t* red,
                           const uint8_t* alpha, size_t pixels) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i opaque = _mm_set1_epi8(char(0xFF));
  for (; i + 16 <= pixels; i += 16) {
    const auto load = [&](const uint8_t* plane) {
      return plane ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(plane + i)) : opaque;
    };
    const __m128i b = load(blue), g = load(green), r = load(red), a = load(alpha);
    const __m128i bgLo = _mm_unpacklo_epi8(b, g), bgHi = _mm_unpackhi_epi8(b, g);
    const __m128i raLo = _mm_unpacklo_epi8(r, a), raHi = _mm_unpackhi_epi8(r, a);
    __m128i* out = reinterpret_cast<__m128i*>(to + i * 4);
    _mm_storeu_si128(out, _mm_unpacklo_epi16(bgLo, raLo));
    _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(bgLo, raLo));
    _mm_storeu_si128(out + 2, _mm_unpacklo_epi16(bgHi, raHi));
    _mm_storeu_si128(out + 3, _mm_unpackhi_epi16(bgHi, raHi));
  }
#endif
  for (; i < pixels; ++i) {
    to[i * 4] = blue[i], to[i * 4 + 1] = green[i], to[i * 4 + 2] = red[i];
    to[i * 4 + 3] = alpha ? alpha[i] : 255;
  }
}

}  // namespace plombix
