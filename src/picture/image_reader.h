// ImageReader: one picture file's decoder, delivering rows in the player's
// pixel format (blue, green, red, alpha; straight alpha; 255 in the fourth
// byte of a picture without alpha), top row first, as stored (before its
// orientation is applied).
//
// The file's format is decided by its content; the file name's suffix
// only where the content has no signature (TGA, WBMP):
//   JPEG  libjpeg-turbo (jpeg_reader.cpp): streamed a band of rows at a
//         time, optionally at 1/2, 1/4 or 1/8 of its size (scaled inverse
//         DCT); EXIF orientation from the APP1 block;
//   PNG   libspng (png_reader.cpp): streamed row by row (interlaced files
//         whole);
//   TGA   tga_reader.cpp: decoded whole;
//   other Qt's image readers (qt_reader.cpp): decoded whole; orientation
//         as the reader reports it (TIFF).
// A picture whose pixel data is cut short or broken (coded data that runs
// out or does not decode, a checksum over image data that does not match,
// fewer pixels than the header announces) is DecodeError::Corrupt: it is
// never delivered in part. Faults that leave every pixel intact (a missing
// end marker after complete data, stray bytes before a marker, trailing
// bytes, a damaged ancillary chunk) are accepted, as image tools do.
//
// Depth (ImageInfo::bitsPerPixel), the rule of decoder.h:
//   - pixels that can be transparent (PNG grey+alpha or RGBA, PNG grey or
//     RGB with a tRNS colour, a PNG palette whose tRNS makes an entry less
//     than opaque, a GIF naming a transparent index, any other palette
//     with a transparent entry, any Qt format with alpha, TGA with alpha
//     bits): 32, straight alpha;
//   - an opaque palette: 1 for a 1-bit palette, 8 for any other (GIF 8);
//   - 8-bit grey (JPEG grey, PNG grey): 8; 1-bit grey PNG: 1;
//   - 24-bit colour (JPEG colour, PNG RGB, BMP 24): 24; BMP 16: 16;
//   - anything else (16-bit channels, CMYK JPEG, 32-bit BMP): 32 without
//     alpha (255 in every fourth byte).
//
// Use: OpenImage reads the header (a Qt format is decoded whole here);
// the caller checks the cost (decode_budget.h) for the scale it wants,
// calls Start once, then ReadRows until every row has come, then Finish.
// A reader belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "decode_error.h"
#include "orientation.h"

namespace plombix {

struct ImageInfo {
  int width = 0;   // stored size, at full scale, before orientation
  int height = 0;
  int bitsPerPixel = 0;
  int bytesPerPixel = 4;   // what the decoder holds a pixel in at full size
  // Working memory the scale does not reduce, the file's own bytes
  // included (OpenImage adds them: they stay in memory while it decodes).
  int64_t fixedBytes = 0;
  Orientation orientation = Orientation::Normal;
  bool scalable = false;   // Start accepts 2, 4 and 8 as well as 1
  // The rows of a picture without alpha (bitsPerPixel != 32) come with 255
  // in every fourth byte already; false when that byte may hold anything.
  bool opaqueRows = false;
};

class ImageReader {
 public:
  virtual ~ImageReader() = default;
  ImageReader(const ImageReader&) = delete;
  ImageReader& operator=(const ImageReader&) = delete;

  const ImageInfo& info() const { return info_; }

  // Starts decoding at 1/denominator of the stored size (1; 2, 4 or 8 only
  // when scalable). Rows then have ScaledSide(info().width, denominator)
  // pixels, and there are ScaledSide(info().height, denominator) of them.
  // With `shrunkAfter` (the rows will be shrunk by at least kFastShrink in
  // both directions) a decoder may take a faster, coarser step where the
  // shrink averages the difference away (JPEG: chroma upsampled by
  // repetition instead of interpolation).
  [[nodiscard]] virtual DecodeError Start(int denominator, bool shrunkAfter = false) = 0;

  // Decodes the next `count` rows into rows[0] .. rows[count - 1], each
  // width x 4 bytes. Never more rows than are left.
  [[nodiscard]] virtual DecodeError ReadRows(uint8_t* const* rows, int count) = 0;

  // After the last row: checks that the rest of the file is intact.
  [[nodiscard]] virtual DecodeError Finish() = 0;

  // When the reader holds the whole decoded picture (after Start), its
  // pixels, rows packed; ReadRows then only copies from it. Null for the
  // streaming readers.
  virtual std::shared_ptr<uint8_t[]> wholePicture() const { return nullptr; }

  // OpenImage: the file's bytes, held while the reader decodes.
  void AddFixedBytes(int64_t bytes) { info_.fixedBytes += bytes; }

  int width() const { return width_; }    // after Start
  int height() const { return height_; }

 protected:
  ImageReader() = default;
  ImageInfo info_;
  int width_ = 0;
  int height_ = 0;
};

// The shrink from which ImageReader::Start may decode more coarsely.
constexpr double kFastShrink = 1.5;

// Side of a picture decoded at 1/denominator: rounded up, as the JPEG
// decoder's scaled sizes are.
constexpr int ScaledSide(int side, int denominator) { return (side + denominator - 1) / denominator; }

// Opens the `size` bytes of a picture file, which must outlive the reader.
// `fileName` (the file's path or name; may be empty) is looked at only for
// its suffix, where the content does not name the format. Errors:
// NotAnImage (no decoder recognises it), BadSize, TooLarge (a
// whole-picture decoder's cost checked before it decodes), Corrupt,
// BadPalette, OutOfMemory.
[[nodiscard]] DecodeError OpenImage(const uint8_t* data, size_t size,
                                    std::unique_ptr<ImageReader>* reader,
                                    std::string_view fileName = {});

// Decoders behind OpenImage, by format (content already recognised).
[[nodiscard]] DecodeError OpenJpegImage(const uint8_t* data, size_t size,
                                        std::unique_ptr<ImageReader>* reader);
[[nodiscard]] DecodeError OpenPngImage(const uint8_t* data, size_t size,
                                       std::unique_ptr<ImageReader>* reader);
[[nodiscard]] DecodeError OpenTgaImage(const uint8_t* data, size_t size,
                                       std::unique_ptr<ImageReader>* reader);
[[nodiscard]] DecodeError OpenQtImage(const uint8_t* data, size_t size,
                                      std::unique_ptr<ImageReader>* reader,
                                      std::string_view fileName = {});

// Whether a file is TGA: its footer says TGA 2.0, or `fileName` ends in
// .tga (.icb, .vda, .vst) and its header makes sense as TGA.
[[nodiscard]] bool IsTgaFile(const uint8_t* data, size_t size, std::string_view fileName);

}  // namespace plombix
