// Whole-picture PNG decoding: find and check the image data, inflate it in
// one call, unfilter the rows into the pixel format in the same buffer.
//
// Why the pixels may be written over the inflated rows: with R = 1 + stored
// row bytes, S = height x R and P = height x width x 4, the stored rows
// start at B = max(S, P) - S, so stored row y begins at B + y x R and pixel
// row y ends at (y + 1) x 4 x width. When R > 4 x width (RGBA) B is 0 and
// (y + 1) x R > (y + 1) x 4 x width; otherwise B + (y + 1) x R =
// P - (height - y - 1) x R >= (y + 1) x 4 x width because 4 x width >= R.
// Either way pixel rows 0 .. y never reach stored row y + 1: a group of
// stored rows copied aside before its pixels are written is all that a
// group needs.
#include "png_inflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>

#include "pixel_alloc.h"
#include "png_unfilter.h"

namespace plombix {
namespace {

constexpr size_t kGroupRows = 8;  // RGB(A) rows copied aside and unfiltered at once

uint32_t Be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The run of IDAT chunks: where its first chunk starts, how many there are
// and how many bytes of data they hold.
struct ImageData {
  size_t first = 0;
  size_t chunks = 0;
  size_t bytes = 0;
};

// False when there is no run, or a chunk before its end is cut short. The
// run ends at the first other chunk, or where too little is left of the
// file to name one.
bool FindImageData(const uint8_t* data, size_t size, ImageData* found) {
  *found = {};
  for (size_t at = 8; size - at >= 8;) {
    const uint32_t length = Be32(data + at);
    const bool imageData = std::memcmp(data + at + 4, "IDAT", 4) == 0;
    if (found->chunks && !imageData) return true;
    if (size - at < 12 || length > size - at - 12) return false;
    if (imageData) {
      if (!found->chunks) found->first = at;
      ++found->chunks;
      found->bytes += length;
    }
    at += 12 + size_t(length);
  }
  return found->chunks > 0;
}

struct Sizes {
  size_t rowBytes, storedBytes, pictureBytes, bufferBytes, asideBytes;
};

Sizes SizesOf(const PngPixelLayout& layout) {
  Sizes s;
  const size_t width = size_t(layout.width), height = size_t(layout.height);
  s.rowBytes = width * size_t(layout.channels);
  s.storedBytes = height * (1 + s.rowBytes);
  s.pictureBytes = height * width * 4;
  s.bufferBytes = std::max(s.storedBytes, s.pictureBytes);
  s.asideBytes = layout.channels >= 3 ? kGroupRows * (1 + s.rowBytes) + kUnfilterSlackBytes
                                      : 2 * s.rowBytes;
  return s;
}

void PutPixel(uint8_t* out, uint32_t pixel) { std::memcpy(out, &pixel, 4); }

// One unfiltered grey, grey + alpha or palette row into the pixel format.
void SmallRowToBgra(const PngPixelLayout& layout, const uint8_t* in, uint8_t* out) {
  const int width = layout.width;
  if (layout.palette) {
    for (int x = 0; x < width; ++x) PutPixel(out + x * 4, layout.colours[in[x]]);
  } else if (layout.channels == 2) {
    for (int x = 0; x < width; ++x)
      PutPixel(out + x * 4, uint32_t(in[x * 2 + 1]) << 24 | 0x010101u * in[x * 2]);
  } else {
    for (int x = 0; x < width; ++x) {
      const uint32_t grey = 0x010101u * in[x];
      PutPixel(out + x * 4, layout.keyed && grey == layout.key ? grey : grey | 0xFF000000u);
    }
  }
}

// RGB pixels of the key colour become transparent.
void ClearKeyColour(uint8_t* pixels, size_t count, uint32_t key) {
  for (size_t i = 0; i < count; ++i) {
    uint32_t pixel;
    std::memcpy(&pixel, pixels + i * 4, 4);
    if ((pixel & 0xFFFFFFu) == key) PutPixel(pixels + i * 4, key);
  }
}

DecodeError Unfilter(const PngPixelLayout& layout, const Sizes& s, uint8_t* buffer) {
  const uint8_t* stored = buffer + (s.bufferBytes - s.storedBytes);
  const size_t storedStride = 1 + s.rowBytes, outStride = size_t(layout.width) * 4;
  const size_t height = size_t(layout.height);
  std::unique_ptr<uint8_t[]> aside = AllocateArray<uint8_t>(s.asideBytes);
  if (!aside) return DecodeError::OutOfMemory;
  if (layout.channels >= 3) {
    std::memset(aside.get() + kGroupRows * storedStride, 0, kUnfilterSlackBytes);
    for (size_t y = 0; y < height; y += kGroupRows) {
      const size_t count = std::min(kGroupRows, height - y);
      std::memcpy(aside.get(), stored + y * storedStride, count * storedStride);
      uint8_t* out = buffer + y * outStride;
      if (!UnfilterRowsToBgra(aside.get(), layout.width, layout.channels, int(count),
                              y ? out - outStride : nullptr, out))
        return DecodeError::Corrupt;
      if (layout.keyed) ClearKeyColour(out, count * size_t(layout.width), layout.key);
    }
    return DecodeError::None;
  }
  uint8_t* row = aside.get();
  uint8_t* above = row + s.rowBytes;
  for (size_t y = 0; y < height; ++y) {
    const uint8_t* in = stored + y * storedStride;
    if (in[0] > 4) return DecodeError::Corrupt;
    std::memcpy(row, in + 1, s.rowBytes);
    UnfilterRow(in[0], row, y ? above : nullptr, s.rowBytes, layout.channels);
    SmallRowToBgra(layout, row, buffer + y * outStride);
    std::swap(row, above);
  }
  return DecodeError::None;
}

}  // namespace

std::unique_ptr<PngPixelLayout> MakePngPixelLayout(spng_ctx* ctx, const spng_ihdr& ihdr,
                                                  const spng_trns* transparency, DecodeError* error) {
  *error = DecodeError::None;
  if (ihdr.bit_depth != 8 || ihdr.interlace_method != SPNG_INTERLACE_NONE) return nullptr;
  auto layout = std::make_unique<PngPixelLayout>();
  layout->width = int(ihdr.width);
  layout->height = int(ihdr.height);
  switch (ihdr.color_type) {
    case SPNG_COLOR_TYPE_GRAYSCALE:
      layout->channels = 1;
      layout->keyed = transparency && transparency->gray <= 255;
      layout->key = layout->keyed ? 0x010101u * transparency->gray : 0;
      break;
    case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA: layout->channels = 2; break;
    case SPNG_COLOR_TYPE_TRUECOLOR:
      layout->channels = 3;
      layout->keyed = transparency && transparency->red <= 255 && transparency->green <= 255 &&
                      transparency->blue <= 255;
      layout->key = layout->keyed ? uint32_t(transparency->red) << 16 |
                                        uint32_t(transparency->green) << 8 | transparency->blue
                                  : 0;
      break;
    case SPNG_COLOR_TYPE_INDEXED: {
      spng_plte plte{};
      if (spng_get_plte(ctx, &plte) != 0) {
        *error = DecodeError::Corrupt;
        return nullptr;
      }
      layout->channels = 1;
      layout->palette = true;
      // As libspng: indices past the palette are black, entries past the
      // tRNS chunk opaque.
      for (uint32_t i = 0; i < 256; ++i) {
        const spng_plte_entry e = i < plte.n_entries ? plte.entries[i] : spng_plte_entry{};
        const uint32_t alpha =
            transparency && i < transparency->n_type3_entries ? transparency->type3_alpha[i] : 255;
        layout->colours[i] = alpha << 24 | uint32_t(e.red) << 16 | uint32_t(e.green) << 8 | e.blue;
      }
      break;
    }
    default: layout->channels = 4; break;
  }
  return layout;
}

int64_t PngWholeExtraBytes(const PngPixelLayout& layout, const uint8_t* data, size_t size) {
  const Sizes s = SizesOf(layout);
  ImageData found;
  const size_t joined = FindImageData(data, size, &found) && found.chunks > 1 ? found.bytes : 0;
  return int64_t(s.bufferBytes - s.pictureBytes + s.asideBytes + joined);
}

DecodeError DecodePngWhole(const uint8_t* data, size_t size, const PngPixelLayout& layout,
                           std::shared_ptr<uint8_t[]>* pixels, bool* longer) {
  *longer = false;
  ImageData found;
  if (!FindImageData(data, size, &found)) return DecodeError::Corrupt;
  std::unique_ptr<uint8_t[]> joined;
  if (found.chunks > 1) {
    joined = AllocateArray<uint8_t>(found.bytes);
    if (!joined) return DecodeError::OutOfMemory;
  }
  size_t at = found.first, filled = 0;
  for (size_t i = 0; i < found.chunks; ++i) {
    const size_t length = Be32(data + at);
    if (uint32_t(libdeflate_crc32(0, data + at + 4, length + 4)) != Be32(data + at + 8 + length))
      return DecodeError::Corrupt;
    if (joined) std::memcpy(joined.get() + filled, data + at + 8, length);
    filled += length;
    at += 12 + length;
  }
  const uint8_t* compressed = joined ? joined.get() : data + found.first + 8;

  const Sizes s = SizesOf(layout);
  std::shared_ptr<uint8_t[]> buffer = AllocateArray<uint8_t>(s.bufferBytes);
  if (!buffer) return DecodeError::OutOfMemory;
  libdeflate_decompressor* inflater = libdeflate_alloc_decompressor();
  if (!inflater) return DecodeError::OutOfMemory;
  // Without an out-count the stream must give exactly storedBytes.
  const libdeflate_result result =
      libdeflate_zlib_decompress(inflater, compressed, filled,
                                 buffer.get() + (s.bufferBytes - s.storedBytes), s.storedBytes, nullptr);
  libdeflate_free_decompressor(inflater);
  *longer = result == LIBDEFLATE_INSUFFICIENT_SPACE;
  if (result != LIBDEFLATE_SUCCESS) return DecodeError::Corrupt;
  joined.reset();

  const DecodeError error = Unfilter(layout, s, buffer.get());
  if (error != DecodeError::None) return error;
  *pixels = std::move(buffer);
  return DecodeError::None;
}

}  // namespace plombix
