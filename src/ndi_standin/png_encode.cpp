#include "png_encode.h"

#include <spng.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace plombix::standin {

bool EncodeBgraPng(const uint8_t* pixels, int width, int height, int strideBytes, PngAlpha alpha,
                   std::string* png) {
  png->clear();
  // PNG allows up to 2^31-1 a side; far beyond any frame, but keep the row
  // size arithmetic in range.
  if (!pixels || width <= 0 || height <= 0 || width > (1 << 20) || height > (1 << 20) ||
      int64_t(strideBytes) < int64_t(width) * 4)
    return false;
  const int channels = alpha == PngAlpha::Keep ? 4 : 3;
  std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> ctx(spng_ctx_new(SPNG_CTX_ENCODER), spng_ctx_free);
  if (!ctx) return false;
  spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
  spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, 1);
  spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_SUB);
  spng_ihdr ihdr{};
  ihdr.width = uint32_t(width);
  ihdr.height = uint32_t(height);
  ihdr.bit_depth = 8;
  ihdr.color_type = channels == 4 ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
  if (spng_set_ihdr(ctx.get(), &ihdr) != 0) return false;
  if (spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG,
                        SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE) != 0)
    return false;

  std::vector<uint8_t> row(size_t(width) * size_t(channels));
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = pixels + size_t(y) * size_t(strideBytes);
    uint8_t* out = row.data();
    for (int x = 0; x < width; ++x, in += 4, out += channels) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
      if (channels == 4) out[3] = in[3];
    }
    const int rc = spng_encode_row(ctx.get(), row.data(), row.size());
    if (rc != 0 && !(rc == SPNG_EOI && y == height - 1)) return false;
  }
  size_t length = 0;
  int error = 0;
  void* buffer = spng_get_png_buffer(ctx.get(), &length, &error);
  if (!buffer || error != 0) {
    std::free(buffer);
    return false;
  }
  png->assign(static_cast<const char*>(buffer), length);
  std::free(buffer);
  return true;
}

}  // namespace plombix::standin
