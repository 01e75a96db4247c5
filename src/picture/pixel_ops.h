// Row kernels behind placement and the range table, exposed so that the
// tests can hold them against plain references. Every kernel gives the same
// bytes at every SimdLevel (simd_level.h); derivations in pixel_ops.cpp.
//
// Blend of one picture pixel over one frame pixel, straight alpha, with
// a = picture alpha, f = frame alpha, b = 255 - a, all integer, each
// division truncating:
//   colour := (picture x 255a + frame x f b) / (255a + f b)   (blue, green, red)
//   alpha  := 255 - ((255 - f) x b) / 255
// Over an opaque frame pixel the colour is (frame x b + picture x a) / 255
// exactly; a = 0 leaves the frame pixel as it is.
// Pointers may be unaligned.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace plombix {

// Blends `pixels` picture pixels from `src` over `dst` in place.
void BlendRow(uint8_t* dst, const uint8_t* src, size_t pixels);

// Writes the blend of `src` over `under` to `out` (`under` is not
// changed). `out` may be `under` itself (BlendRow) but may not otherwise
// overlap either input.
void BlendRowOnto(uint8_t* out, const uint8_t* under, const uint8_t* src, size_t pixels);

// Sets the fourth byte of `pixels` pixels.
void SetAlphaRow(uint8_t* data, size_t pixels, uint8_t alpha);

// data[i] = table[data[i]] for i < bytes. Handed the video-range table
// (equal to MakeRangeTable(), as every PictureBuffer's is) it computes the
// same values with vector arithmetic instead of lookups.
void MapBytes(uint8_t* data, size_t bytes, const std::array<uint8_t, 256>& table);

// The video-range expansion table: 0..15 -> 0, 16..235 -> (i-16)*255/219,
// 236..255 -> 255.
std::array<uint8_t, 256> MakeRangeTable();

}  // namespace plombix
