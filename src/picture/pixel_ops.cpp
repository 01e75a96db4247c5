#include "pixel_ops.h"

namespace plombix {

void BlendRow(uint8_t* dst, const uint8_t* src, size_t pixels) {
  for (size_t i = 0; i < pixels; ++i, dst += 4, src += 4) {
    const unsigned a = src[3];
    const unsigned b = 255 - a;
    for (int c = 0; c < 3; ++c) dst[c] = uint8_t((dst[c] * b + src[c] * a) / 255);
    dst[3] = uint8_t(255 - ((255 - dst[3]) * b) / 255);
  }
}

void SetAlphaRow(uint8_t* data, size_t pixels, uint8_t alpha) {
  for (size_t i = 0; i < pixels; ++i) data[i * 4 + 3] = alpha;
}

void MapBytes(uint8_t* data, size_t bytes, const std::array<uint8_t, 256>& table) {
  for (size_t i = 0; i < bytes; ++i) data[i] = table[data[i]];
}

std::array<uint8_t, 256> MakeRangeTable() {
  std::array<uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    if (i < 16) table[i] = 0;
    else if (i > 235) table[i] = 255;
    else table[i] = uint8_t((i - 16) * 255 / 219);
  }
  return table;
}

}  // namespace plombix
