// Helpers shared by the kernel tests: running a check at every SIMD level
// the machine offers, and pictures built by hand.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "picture_buffer.h"
#include "simd_level.h"

namespace plombix::testing {

inline const char* LevelName(SimdLevel level) {
  switch (level) {
    case SimdLevel::Scalar: return "scalar";
    case SimdLevel::Sse2: return "sse2";
    case SimdLevel::Avx2: return "avx2";
    case SimdLevel::Avx512: return "avx512";
  }
  return "?";
}

// Runs `check` once per level up to the best one, restoring the level after.
inline void ForEachSimdLevel(const std::function<void()>& check) {
  const SimdLevel before = CurrentSimdLevel();
  for (int l = 0; l <= int(BestSimdLevel()); ++l) {
    const SimdLevel level = SetSimdLevel(SimdLevel(l));
    SCOPED_TRACE(std::string("SIMD level ") + LevelName(level));
    check();
  }
  SetSimdLevel(before);
}

// Makes `picture` a usable width x height picture whose pixel (x, y) is
// pixel(x, y) (0xAARRGGBB), as the loaders would leave it.
inline void MakePicture(PictureBuffer& picture, int width, int height,
                        const std::function<uint32_t(int, int)>& pixel) {
  picture.width = width;
  picture.height = height;
  picture.byteCount = width * height * 4;
  picture.bitsPerPixel = 32;
  picture.state = 1;
  picture.pixelData.reset(new uint8_t[size_t(picture.byteCount)]);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint32_t v = pixel(x, y);
      std::memcpy(picture.pixelData.get() + (size_t(y) * width + x) * 4, &v, 4);
    }
}

inline uint32_t PixelAt(const uint8_t* pixels, int width, int x, int y) {
  uint32_t v;
  std::memcpy(&v, pixels + (size_t(y) * width + x) * 4, 4);
  return v;
}

inline uint32_t PixelAt(const PictureBuffer& picture, int x, int y) {
  return PixelAt(picture.pixelData.get(), picture.width, x, y);
}

// Bytes blue, green, red, alpha of a pixel value.
inline uint8_t Blue(uint32_t p) { return uint8_t(p); }
inline uint8_t Green(uint32_t p) { return uint8_t(p >> 8); }
inline uint8_t Red(uint32_t p) { return uint8_t(p >> 16); }
inline uint8_t Alpha(uint32_t p) { return uint8_t(p >> 24); }

// The blend of one picture pixel over one frame pixel (0xAARRGGBB values),
// written out with the compiler's own division by 255.
inline uint32_t ReferenceBlendPixel(uint32_t frame, uint32_t picture) {
  const uint32_t a = picture >> 24, b = 255 - a;
  uint32_t out = 0;
  for (int c = 0; c < 3; ++c) {
    const uint32_t d = (frame >> (8 * c)) & 0xFF, s = (picture >> (8 * c)) & 0xFF;
    out |= ((d * b + s * a) / 255) << (8 * c);
  }
  return out | (255 - ((255 - (frame >> 24)) * b) / 255) << 24;
}

// Placement worked out per frame pixel rather than per span: frame pixel
// (x, y) shows picture pixel (x - d_x, y - d_y) when that exists and, in a
// dimension where the picture is cut (d < 0), lies between the margins
// (negative margins counting as 0). Copies (mode 2) or blends it into
// `frame`, fw x fh pixels.
inline void ReferencePlace(std::vector<uint32_t>& frame, int fw, int fh, const PictureBuffer& p,
                           int mode) {
  const int dx = (fw - p.width) / 2, dy = (fh - p.height) / 2;
  auto shown = [](int f, int d, int size, int pictureSize, int before, int after) {
    if (f - d < 0 || f - d >= pictureSize) return false;
    return d >= 0 || (f >= std::max(before, 0) && f < size - std::max(after, 0));
  };
  for (int y = 0; y < fh; ++y)
    for (int x = 0; x < fw; ++x)
      if (shown(x, dx, fw, p.width, p.marginLeft, p.marginRight) &&
          shown(y, dy, fh, p.height, p.marginTop, p.marginBottom)) {
        uint32_t& to = frame[size_t(y) * fw + x];
        const uint32_t from = PixelAt(p, x - dx, y - dy);
        to = mode == 2 ? from : ReferenceBlendPixel(to, from);
      }
}

// Pseudo-random bytes from a fixed seed (a 64-bit LCG, fast enough for
// whole frames in unoptimised sanitizer builds).
inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  uint64_t state = 0x9E3779B97F4A7C15ull ^ seed;
  for (auto& b : v) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    b = uint8_t(state >> 56);
  }
  return v;
}

}  // namespace plombix::testing
