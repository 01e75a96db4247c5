// Helpers shared by the kernel tests: running a check at every SIMD level
// the machine offers, and pictures built by hand.
#pragma once

#include <gtest/gtest.h>

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
