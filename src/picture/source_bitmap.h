// SourceBitmap: a decoded image or a built-in bitmap kept beside a picture
// so that it can be resampled again without loss.
#pragma once

#include <cstdint>
#include <memory>

namespace plombix {

struct SourceBitmap {
  int width = 0;
  int height = 0;
  // Depth the image had as decoded (see PictureBuffer::LoadFile), or 32 for
  // a built-in bitmap (loaded in the display's 32-bit format). 32 means the
  // fourth byte of each pixel is alpha and is resampled as its own plane.
  int bitsPerPixel = 0;
  // width x height pixels in the player's pixel format, rows packed
  // top-down. For depths other than 32 the fourth byte carries no meaning
  // (it may be 0 or 255): LoadFile writes 0 there in the picture, and a
  // rescale makes such pictures opaque. Shared so that the decoder can hand
  // over its own buffer without a copy; never written after construction.
  std::shared_ptr<uint8_t[]> pixels;

  int64_t byteCount() const { return int64_t(width) * height * 4; }
};

}  // namespace plombix
