// Decoding of image files and built-in bitmaps into SourceBitmaps.
//
// This is the only place of the picture layer that uses Qt: Qt's image
// readers (and the image-format plugins installed with Qt) do the decoding;
// the result is plain memory in the player's pixel format.
//
// Depth of a decoded file (SourceBitmap::bitsPerPixel):
//   - a format with an alpha channel, premultiplied or not, at any depth:
//     32, with straight alpha in the fourth byte;
//   - a palette image: its depth, 1 for two-colour images and 8 for any
//     other palette (GIF always 8); the palette's alpha is dropped, so a
//     transparent palette entry keeps its colour and the picture counts as
//     opaque;
//   - 8-bit greyscale: 8; 16-bit RGB: 16; 24-bit RGB (JPEG colour, 24-bit
//     PNG, BMP, ...): 24; a 32-bit BMP without alpha: 32 with 255 in every
//     fourth byte (a 0 there would make the picture invisible, since callers
//     only force opacity for depths other than 32);
//   - anything else (48/64-bit colour, 16-bit greyscale, float formats):
//     32 without alpha, i.e. 255 in every fourth byte.
// For depths other than 32 the fourth byte of the bitmap carries no meaning.
// EXIF orientation is applied. Neither dimension may exceed
// PictureBuffer::kMaxDecodeDimension; a header claiming more is refused
// before any pixel memory is allocated.
//
// Nothing here throws; every failure comes back as a DecodeError.
#pragma once

#include <memory>
#include <string>

#include "source_bitmap.h"

namespace plombix {

enum class DecodeError {
  None,
  CannotOpen,     // unreadable, a directory or not a regular file
  NotAnImage,     // empty, or no image reader recognises the content
  BadSize,        // a dimension of 0 or less, or above the limit
  Corrupt,        // recognised but the reader failed (truncated, damaged)
  BadPalette,     // a palette image with no entries or more than 256
  OutOfMemory,    // the pixels could not be allocated
  UnknownBitmap,  // no built-in bitmap has that id
  NotFound,       // no file at that path
  TooLarge,       // decoding would exceed the decode budget
  Changed,        // the file changed while it was being read
  Cancelled,      // a newer request made this one pointless
};

// A few words for the operator: why a file could not be shown.
[[nodiscard]] const char* DecodeErrorText(DecodeError error);

struct DecodeResult {
  DecodeError error = DecodeError::None;
  std::shared_ptr<const SourceBitmap> bitmap;  // set exactly when error is None

  bool ok() const { return error == DecodeError::None; }
};

// Decodes the file at `path` (bytes of a file-system path, as given).
[[nodiscard]] DecodeResult DecodeImageFile(const std::string& path);

// Loads built-in bitmap `id` (resource ":/bitmaps/<id>.png") in the display
// format: bitsPerPixel 32 always; a bitmap stored without alpha arrives
// with a fourth byte of 0, one stored with alpha keeps its straight alpha.
[[nodiscard]] DecodeResult LoadBuiltInBitmap(int id);

}  // namespace plombix
