// Helpers of the picture-core tests: a temporary folder, image files
// written by Qt or put together byte by byte, and pixel access.
#pragma once

#include <QImage>

#include <cstdint>
#include <string>
#include <vector>

#include "picture_buffer.h"

namespace plombix::testing {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes `image` with Qt's writer for `format` ("png", "jpg", "bmp", ...).
bool WriteImage(const QImage& image, const std::string& path, const char* format, int quality = -1);
bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);

// A GIF with a global palette (at most 256 entries) and one image of
// palette indices, row by row; `transparent` >= 0 marks that index
// transparent. The LZW stream uses literal codes only (a clear code before
// the table grows), which every decoder reads.
std::vector<uint8_t> MakeGif(int width, int height, const std::vector<uint32_t>& paletteRgb,
                             const std::vector<uint8_t>& indices, int transparent);

// The first bytes of a PNG (signature and IHDR chunk with a correct CRC)
// announcing width x height, 8-bit RGBA, followed by `tail`.
std::vector<uint8_t> MakePngHeader(uint32_t width, uint32_t height,
                                   const std::vector<uint8_t>& tail = {});

// A BMP with a 40-byte info header, `bitCount` 16 (5-5-5), 24 or 32 bits a
// pixel, pixels given as 0xRRGGBB, bottom-up as BMP stores them. With
// `claimWidth`/`claimHeight` > 0 the header announces that size instead
// (and the pixel data stays as given).
std::vector<uint8_t> MakeBmp(int width, int height, int bitCount, const std::vector<uint32_t>& rgb,
                             int claimWidth = 0, int claimHeight = 0);

// Pixel (x, y) of a picture's buffer as 0xAARRGGBB (bytes B, G, R, A).
uint32_t PixelAt(const PictureBuffer& picture, int x, int y);
uint32_t PixelAt(const uint8_t* pixels, int width, int x, int y);

// A test image with distinct colours and alphas: pixel (x, y) of colour
// 0xAARRGGBB from a fixed-seed generator.
QImage RandomImage(int width, int height, QImage::Format format, uint32_t seed);

}  // namespace plombix::testing
