// The pixels of a non-interlaced PNG with 8-bit samples, decoded whole in
// one go: the image data put together from its IDAT chunks (each whole,
// its CRC matching), inflated by libdeflate in one call (which checks the
// zlib stream's Adler-32 and that the stream gives exactly the bytes the
// header calls for), then unfiltered into the pixel format (png_unfilter.h).
//
// Memory: one buffer of max(width x 4, 1 + stored row bytes) x height bytes.
// The inflated rows lie at its end; the pixels are written from its start,
// a group of rows at a time, each group's stored rows copied aside first
// (RGB, RGBA) or each row unfiltered aside (grey, palette), so no stored
// byte is overwritten before it is read. Beside it, while it decodes: the
// image data put together (when it comes in more than one chunk) and a few
// rows (PngWholeExtraBytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <spng.h>

#include "decode_error.h"

namespace plombix {

struct PngPixelLayout {
  int width = 0;
  int height = 0;
  int channels = 4;  // 1 grey or palette index, 2 grey + alpha, 3 RGB, 4 RGBA
  bool palette = false;
  uint32_t colours[256] = {};  // palette: each index as a pixel (0xAARRGGBB)
  bool keyed = false;          // grey or RGB: pixels of colour `key` get alpha 0
  uint32_t key = 0;            // as a pixel without alpha (0x00RRGGBB)
};

// The layout of a picture whose header (and chunks up to the image data)
// libspng has read: for a non-interlaced picture with 8-bit samples; null
// for any other. `transparency`: the tRNS chunk, where it applies (null
// for a palette whose entries are all opaque). A palette picture without a
// palette is Corrupt. Indices past the palette are black, entries past the
// tRNS chunk opaque, as libspng makes them.
[[nodiscard]] std::unique_ptr<PngPixelLayout> MakePngPixelLayout(spng_ctx* ctx, const spng_ihdr& ihdr,
                                                                 const spng_trns* transparency,
                                                                 DecodeError* error);

// What DecodePngWhole holds besides width x height x 4 bytes, for the
// decode budget. `data`, `size`: the whole file.
[[nodiscard]] int64_t PngWholeExtraBytes(const PngPixelLayout& layout, const uint8_t* data,
                                         size_t size);

// Decodes the image data of the PNG file in `data` (`size` bytes, whose
// header says what `layout` says) into `*pixels`: rows of width x 4 bytes,
// packed, from its start. Corrupt: no image data, an IDAT chunk cut short
// or failing its CRC, a stream that does not inflate to exactly the rows,
// a bad Adler-32 or filter type. OutOfMemory. A stream that gives more
// than the rows sets `*longer` (and is Corrupt here): a decoder that stops
// after the last row may still make the picture of it.
[[nodiscard]] DecodeError DecodePngWhole(const uint8_t* data, size_t size,
                                         const PngPixelLayout& layout,
                                         std::shared_ptr<uint8_t[]>* pixels, bool* longer);

}  // namespace plombix
