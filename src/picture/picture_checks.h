// What the bytes of a picture file say before a decoder reads them: whether
// all the pixel data that the header announces is there, for the formats
// whose decoders deliver a file cut short without an error (the missing
// part blank, black or garbage), and whether a GIF's pixels can be
// transparent.
//
// Each function reads only the `size` bytes given, never past them, and
// judges only what it understands: a header it cannot make sense of is
// left to the decoder (true), which refuses what it cannot read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plombix {

// BMP: every row of uncompressed pixels lies inside the file; an RLE8 or
// RLE4 stream reaches its end-of-bitmap code, or ends every row, before
// the file ends.
[[nodiscard]] bool BmpDataComplete(const uint8_t* data, size_t size);

// GIF: the first image's LZW data yields at least width x height pixels
// of its image descriptor before its data (or the file) ends.
[[nodiscard]] bool GifDataComplete(const uint8_t* data, size_t size);

// GIF: the graphic control block before the first image names a
// transparent colour index.
[[nodiscard]] bool GifHasTransparentIndex(const uint8_t* data, size_t size);

// GIF: the canvas a decoder draws the first image on, the logical screen
// widened to hold the image where the image is larger (0 x 0 when the
// header is too short to tell).
void GifCanvasSize(const uint8_t* data, size_t size, int64_t* width, int64_t* height);

// XBM: the bits array holds height x ceil(width / 8) whole hexadecimal
// values (each followed by another byte, so that none is cut in two).
[[nodiscard]] bool XbmDataComplete(const uint8_t* data, size_t size);

}  // namespace plombix
