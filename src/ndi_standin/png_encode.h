// PNG encoding of 32-bit BGRA/BGRX pictures with fast settings (zlib level 1,
// the "sub" filter only): published frames are encoded on demand, and speed
// matters more than size.
#pragma once

#include <cstdint>
#include <string>

namespace plombix::standin {

enum class PngAlpha {
  Keep,  // BGRA: an 8-bit RGBA PNG, straight alpha as stored
  Drop,  // BGRX: an 8-bit RGB PNG, the fourth byte ignored
};

// Encodes `width` x `height` pixels (bytes blue, green, red, alpha; rows
// top-down, `strideBytes` apart, stride >= width * 4) into `*png`. Returns
// false (and leaves `*png` empty) for a bad size or an encoder failure.
[[nodiscard]] bool EncodeBgraPng(const uint8_t* pixels, int width, int height, int strideBytes,
                                 PngAlpha alpha, std::string* png);

}  // namespace plombix::standin
