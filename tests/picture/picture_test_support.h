// Helpers of the picture tests: image files written by Qt or put together
// byte by byte, pictures built by hand, pixel access, fixed-seed random
// data, the kernels' SIMD levels and plain references of the blend and the
// placement.
#pragma once

#include <QImage>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "picture_buffer.h"
#include "temp_dir.h"

namespace plombix::testing {

// Writes `image` with Qt's writer for `format` ("png", "jpg", "bmp", ...).
bool WriteImage(const QImage& image, const std::string& path, const char* format, int quality = -1);

// A GIF with a global palette (at most 256 entries) and one image of
// palette indices, row by row; `transparent` >= 0 marks that index
// transparent. The LZW stream uses literal codes only (a clear code before
// the table grows), which every decoder reads.
std::vector<uint8_t> MakeGif(int width, int height, const std::vector<uint32_t>& paletteRgb,
                             const std::vector<uint8_t>& indices, int transparent);

// The first bytes of a PNG (signature and IHDR chunk with a correct CRC)
// announcing width x height, RGBA of `bitDepth` bits a channel, followed by
// `tail`.
std::vector<uint8_t> MakePngHeader(uint32_t width, uint32_t height, const std::vector<uint8_t>& tail = {},
                                   uint8_t bitDepth = 8);

// One PNG chunk: length, type, data, CRC.
std::vector<uint8_t> PngChunk(const char* type, const std::vector<uint8_t>& data);

// A BMP with a 40-byte info header, `bitCount` 16 (5-5-5), 24 or 32 bits a
// pixel, pixels given as 0xRRGGBB, bottom-up as BMP stores them. With
// `claimWidth`/`claimHeight` > 0 the header announces that size instead
// (and the pixel data stays as given).
std::vector<uint8_t> MakeBmp(int width, int height, int bitCount, const std::vector<uint32_t>& rgb,
                             int claimWidth = 0, int claimHeight = 0);

// A TGA of `type` 2 (plain) or 10 (run-length, runs of two pixels), 24 or
// 32 bits, whose stored pixel (column, row) is blue = row, green = column,
// red 0x40, alpha 0xC0 (8 alpha bits), rows bottom-up unless `topDown`;
// with the TGA 2.0 footer (26 bytes) when asked.
std::vector<uint8_t> MakeTga(int width, int height, int type, int depth, bool footer = false,
                             bool topDown = false);

struct JpegOptions {
  enum class Colour { Rgb, Grey, Cmyk };
  int quality = 90;
  bool progressive = false;
  Colour colour = Colour::Rgb;
  // EXIF orientation (1..8) written into an APP1 block; 0 writes none.
  int orientation = 0;
};

// A JPEG of `image` written by libjpeg (independent of the reader under
// test). Grey keeps the green channel; CMYK is written inverted, Adobe
// style, as C = red, M = green, Y = blue, K = 255, which decodes back to the
// same colours.
std::vector<uint8_t> MakeJpeg(const QImage& image, const JpegOptions& options = {});

struct PngOptions {
  int colourType = 6;  // 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGBA
  int bitDepth = 8;
  bool interlaced = false;
  int compressionLevel = 1;
};

// A PNG written by libspng, rows filled by `row(y, bytes)` in the PNG's own
// layout (big-endian samples), one row at a time (whole for interlaced
// files), so that large pictures need no image in memory.
std::vector<uint8_t> MakePng(int width, int height, const PngOptions& options,
                             const std::function<void(int, uint8_t*)>& row);

// A copy of `file` with the frame header's (SOF) width and height replaced.
std::vector<uint8_t> WithJpegSize(std::vector<uint8_t> file, uint16_t width, uint16_t height);

// Peak resident memory of this process so far, in bytes.
int64_t PeakResidentBytes();

// A test image with distinct colours and alphas from a fixed-seed generator.
QImage RandomImage(int width, int height, QImage::Format format, uint32_t seed);

// Pseudo-random bytes from a fixed seed (a 64-bit LCG, fast enough for
// whole frames in unoptimised sanitizer builds).
std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed);

// Makes `picture` a usable width x height picture whose pixel (x, y) is
// pixel(x, y) (0xAARRGGBB), as the loaders would leave it.
void MakePicture(PictureBuffer& picture, int width, int height,
                 const std::function<uint32_t(int, int)>& pixel);

// Pixel (x, y) as 0xAARRGGBB (bytes B, G, R, A).
inline uint32_t PixelAt(const uint8_t* pixels, int width, int x, int y) {
  uint32_t v;
  std::memcpy(&v, pixels + (size_t(y) * size_t(width) + size_t(x)) * 4, 4);
  return v;
}
inline uint32_t PixelAt(const PictureBuffer& picture, int x, int y) {
  return PixelAt(picture.pixelData.get(), picture.width, x, y);
}

// width, height, byteCount, bitsPerPixel, state: the sizes every load,
// copy and rescale sets together.
inline std::tuple<int, int, int, int, int> Sizes(const PictureBuffer& p) {
  return {p.width, p.height, p.byteCount, p.bitsPerPixel, p.state};
}

// Runs `check` once per SIMD level up to the best one, restoring the level.
void ForEachSimdLevel(const std::function<void()>& check);

// The blend of one picture pixel over one frame pixel (0xAARRGGBB values),
// straight alpha, written out with the compiler's own divisions.
uint32_t ReferenceBlendPixel(uint32_t frame, uint32_t picture);

// Placement worked out per frame pixel rather than per span: frame pixel
// (x, y) shows picture pixel (x - d_x, y - d_y) when that exists and, in a
// dimension where the picture is cut (d < 0), lies between the margins
// (negative margins counting as 0). Copies (mode 2) or blends it into
// `frame`, fw x fh pixels.
void ReferencePlace(std::vector<uint32_t>& frame, int fw, int fh, const PictureBuffer& p, int mode);

}  // namespace plombix::testing
