#include "picture_checks.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace plombix {
namespace {

uint32_t ReadLe(const uint8_t* bytes, size_t offset, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | bytes[offset + size_t(i)];
  return value;
}

// Walks an RLE8 (`fourBits` false) or RLE4 stream from `at`: pairs of
// (count, value) runs, or an escape (0, code): 0 ends a row, 1 ends the
// bitmap, 2 moves by (dx, dy), 3..255 that many literal pixels, padded to
// an even number of bytes.
bool RleComplete(const uint8_t* data, size_t size, size_t at, int64_t rows, bool fourBits) {
  int64_t row = 0;
  while (size - at >= 2) {
    const uint8_t count = data[at], code = data[at + 1];
    at += 2;
    if (count != 0) continue;
    if (code == 1) return true;
    if (code == 0) {
      if (++row >= rows) return true;
    } else if (code == 2) {
      if (size - at < 2) return false;
      row += data[at + 1];
      at += 2;
      if (row >= rows) return true;
    } else {
      const size_t bytes = fourBits ? (size_t(code) + 1) / 2 : code;
      const size_t padded = (bytes + 1) & ~size_t(1);
      if (size - at < padded) return false;
      at += padded;
    }
  }
  return false;
}

// Skips GIF data sub-blocks (length, bytes) from `at` up to the empty one;
// false when the file ends first.
bool SkipSubBlocks(const uint8_t* data, size_t size, size_t& at) {
  while (at < size) {
    const size_t length = data[at];
    at += 1 + length;
    if (length == 0) return at <= size;
  }
  return false;
}

// Number of pixels a GIF image's LZW data (sub-blocks from `at`) decodes
// to, counting each code's string length rather than the string, up to
// `wanted`. A code that no decoder could resolve ends the count.
int64_t GifPixelCount(const uint8_t* data, size_t size, size_t at, int minCodeSize, int64_t wanted) {
  if (minCodeSize < 2 || minCodeSize > 11) return 0;
  const int clear = 1 << minCodeSize, end = clear + 1;
  static thread_local uint16_t lengths[4096];
  for (int i = 0; i < clear; ++i) lengths[i] = 1;
  int codeSize = minCodeSize + 1, next = end + 1, previous = -1;
  uint32_t bits = 0;
  int bitCount = 0;
  int64_t pixels = 0;
  while (at < size && pixels < wanted) {
    const size_t blockEnd = at + 1 + data[at];
    if (data[at] == 0) break;
    for (++at; at < blockEnd && at < size && pixels < wanted; ++at) {
      bits |= uint32_t(data[at]) << bitCount;
      bitCount += 8;
      while (bitCount >= codeSize && pixels < wanted) {
        const int code = int(bits & ((1u << codeSize) - 1));
        bits >>= codeSize;
        bitCount -= codeSize;
        if (code == clear) {
          codeSize = minCodeSize + 1;
          next = end + 1;
          previous = -1;
          continue;
        }
        if (code == end) return pixels;
        if (previous < 0) {
          if (code >= clear) return pixels;
          pixels += 1;
          previous = code;
          continue;
        }
        int length = 0;
        if (code < next && (code < clear || code > end))
          length = lengths[code];
        else if (code == next)
          length = lengths[previous] + 1;
        else
          return pixels;
        pixels += length;
        if (next < 4096) {
          lengths[next] = uint16_t(lengths[previous] + 1);  // at most 4096
          if (++next == (1 << codeSize) && codeSize < 12) ++codeSize;
        }
        previous = code;
      }
    }
  }
  return pixels;
}

// Walks a GIF's blocks up to its first image, calling `onBlock(at)` for
// each graphic control block and, last, for the image descriptor, whose
// answer it returns; false when the file has no whole way to an image.
template <typename OnBlock>
bool ToFirstImage(const uint8_t* data, size_t size, const OnBlock& onBlock) {
  if (size < 13) return false;
  size_t at = 13;
  if (data[10] & 0x80) at += size_t(3) << ((data[10] & 7) + 1);
  while (at < size) {
    if (data[at] == 0x2C) return onBlock(at);
    if (data[at] != 0x21 || size - at < 2) return false;
    if (data[at + 1] == 0xF9) onBlock(at);
    at += 2;
    if (!SkipSubBlocks(data, size, at)) return false;
  }
  return false;
}

// The number after the first `key` in `text` that ends a word (XBM's
// "#define name_width 16"), or -1.
int64_t DefinedNumber(std::string_view text, std::string_view key) {
  for (size_t at = text.find(key); at != std::string_view::npos; at = text.find(key, at + 1)) {
    size_t p = at + key.size();
    if (p < text.size() && !std::isspace(static_cast<unsigned char>(text[p]))) continue;
    while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p]))) ++p;
    int64_t value = 0;
    size_t digits = 0;
    for (; p < text.size() && std::isdigit(static_cast<unsigned char>(text[p])) && digits < 10; ++p, ++digits)
      value = value * 10 + (text[p] - '0');
    return digits ? value : -1;
  }
  return -1;
}

}  // namespace

bool BmpDataComplete(const uint8_t* data, size_t size) {
  if (size < 30) return false;
  const int64_t dataOffset = ReadLe(data, 10, 4);
  const uint32_t infoSize = ReadLe(data, 14, 4);
  int64_t width = 0, height = 0, bitCount = 0, compression = 0;
  if (infoSize == 12) {
    width = ReadLe(data, 18, 2);
    height = ReadLe(data, 20, 2);
    bitCount = ReadLe(data, 24, 2);
  } else if (infoSize >= 40 && size >= 34) {
    width = int32_t(ReadLe(data, 18, 4));
    height = int32_t(ReadLe(data, 22, 4));
    bitCount = ReadLe(data, 28, 2);
    compression = ReadLe(data, 30, 4);
  } else {
    return true;
  }
  const int64_t rows = height < 0 ? -height : height;
  if (width <= 0 || rows == 0 || bitCount <= 0 || dataOffset >= int64_t(size)) return width <= 0 || rows == 0;
  if (compression == 1 || compression == 2)
    return RleComplete(data, size, size_t(dataOffset), rows, compression == 2);
  // BI_RGB, BI_BITFIELDS and BI_ALPHABITFIELDS rows have a size known in
  // advance; other compressions are for the decoder to refuse.
  if (compression != 0 && compression != 3 && compression != 6) return true;
  const int64_t rowBytes = (width * bitCount + 31) / 32 * 4;
  return dataOffset + rowBytes * rows <= int64_t(size);
}

bool GifDataComplete(const uint8_t* data, size_t size) {
  return ToFirstImage(data, size, [&](size_t at) {
    if (data[at] != 0x2C) return false;  // a graphic control block
    if (size - at < 11) return false;
    const int64_t width = ReadLe(data, at + 5, 2), height = ReadLe(data, at + 7, 2);
    const uint8_t flags = data[at + 9];
    at += 10;
    if (flags & 0x80) at += size_t(3) << ((flags & 7) + 1);
    if (at + 1 >= size) return false;
    const int64_t wanted = width * height;
    return GifPixelCount(data, size, at + 1, data[at], wanted) >= wanted;
  });
}

bool GifHasTransparentIndex(const uint8_t* data, size_t size) {
  bool transparent = false;
  (void)ToFirstImage(data, size, [&](size_t at) {
    if (data[at] == 0x2C) return true;
    // The last control block before the image counts.
    transparent = size - at >= 8 && data[at + 2] == 4 && (data[at + 3] & 1);
    return false;
  });
  return transparent;
}

void GifCanvasSize(const uint8_t* data, size_t size, int64_t* width, int64_t* height) {
  *width = *height = 0;
  if (size < 13) return;
  *width = ReadLe(data, 6, 2);
  *height = ReadLe(data, 8, 2);
  (void)ToFirstImage(data, size, [&](size_t at) {
    if (data[at] != 0x2C || size - at < 10) return false;
    *width = std::max<int64_t>(*width, int64_t(ReadLe(data, at + 1, 2)) + ReadLe(data, at + 5, 2));
    *height = std::max<int64_t>(*height, int64_t(ReadLe(data, at + 3, 2)) + ReadLe(data, at + 7, 2));
    return true;
  });
}

bool XbmDataComplete(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const int64_t width = DefinedNumber(text, "_width"), height = DefinedNumber(text, "_height");
  const size_t open = text.find('{');
  if (width <= 0 || height <= 0 || open == std::string_view::npos) return true;
  const int64_t wanted = height * ((width + 7) / 8);
  int64_t values = 0;
  for (size_t at = text.find("0x", open); at != std::string_view::npos && values < wanted;
       at = text.find("0x", at + 2)) {
    size_t p = at + 2;
    while (p < size && std::isxdigit(static_cast<unsigned char>(text[p]))) ++p;
    if (p == at + 2) continue;
    if (p >= size) break;  // the last value may be cut short
    ++values;
  }
  return values >= wanted;
}

}  // namespace plombix
