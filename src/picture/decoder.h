// Decoding of whole image files and of the built-in bitmaps into
// SourceBitmaps (what LoadFile keeps beside a picture).
//
// The file is read whole first (file_bytes.h: a file that changes while it
// is read is refused) and decoded by the reader its content calls for
// (image_reader.h: JPEG by libjpeg-turbo, PNG by libspng, the rest by Qt's
// readers), at full size. Depths follow the rules stated in image_reader.h:
//   - a format with an alpha channel: 32, straight alpha in the fourth byte;
//   - a palette image: 1 for a 1-bit palette, 8 for any other (GIF always
//     8); the palette's alpha is dropped, so a transparent entry keeps its
//     colour and the picture counts as opaque;
//   - 8-bit grey: 8; 16-bit RGB: 16; 24-bit RGB (JPEG colour, 24-bit PNG,
//     BMP, ...): 24; a 32-bit BMP without alpha: 32 with 255 in every fourth
//     byte (a 0 there would make the picture invisible, since callers only
//     force opacity for depths other than 32);
//   - anything else (48/64-bit colour, 16-bit grey, CMYK): 32 without
//     alpha, i.e. 255 in every fourth byte.
// For depths other than 32 the fourth byte of the bitmap carries no meaning.
// EXIF (and TIFF) orientation is applied. A picture whose decode would
// exceed the decode budget (decode_budget.h) is refused before its pixels
// are allocated; a damaged or cut-short file is refused, never delivered in
// part.
//
// Nothing here throws; every failure comes back as a DecodeError.
#pragma once

#include <memory>
#include <string>

#include "decode_error.h"
#include "source_bitmap.h"

namespace plombix {

struct DecodeResult {
  DecodeError error = DecodeError::None;
  std::shared_ptr<const SourceBitmap> bitmap;  // set exactly when error is None

  bool ok() const { return error == DecodeError::None; }
};

// Decodes the file at `path` (bytes of a file-system path, as given) whole.
[[nodiscard]] DecodeResult DecodeImageFile(const std::string& path);

// Loads built-in bitmap `id` (resource ":/bitmaps/<id>.png") in the display
// format: bitsPerPixel 32 always; a bitmap stored without alpha arrives
// with a fourth byte of 0, one stored with alpha keeps its straight alpha.
[[nodiscard]] DecodeResult LoadBuiltInBitmap(int id);

}  // namespace plombix
