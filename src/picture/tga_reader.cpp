// TGA (Truevision) pictures: true colour of 15/16, 24 or 32 bits, grey of
// 8 bits and colour-mapped (8-bit indices into a map of 15/16-, 24- or
// 32-bit entries), stored plain or run-length encoded, from either bottom
// or top corner and either side, with or without the TGA 2.0 extension
// area and footer. Decoded whole at Start into the pixel format.
//
// Qt's own TGA reader reads only plain true colour with a TGA 2.0 footer,
// and the format has no signature of its own: OpenImage sends a file here
// when its footer says TGA 2.0, or when its name ends in .tga and its
// header makes sense as one.
//
// Completeness: the pixel data must hold width x height pixels (a
// run-length packet counts all the pixels it repeats); a file that ends
// sooner is DecodeError::Corrupt. Bytes after the pixels (extension area,
// developer area, footer, anything else) do not matter.
//
// Depth, by the rules of image_reader.h: 32 when the pixels carry alpha (a
// 32-bit picture, or a 32-bit colour map, whose descriptor gives the
// pixels alpha bits, unless the TGA 2.0 extension area says the alpha is
// not to be used), else 32 without alpha for 32 bits, 24, 16 for 15/16
// bits, 8 for grey and colour-mapped pictures.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "decode_budget.h"
#include "image_reader.h"
#include "pixel_alloc.h"

namespace plombix {
namespace {

constexpr size_t kHeaderBytes = 18;
constexpr size_t kFooterBytes = 26;
constexpr std::string_view kSignature{"TRUEVISION-XFILE.\0", 18};

unsigned Le16(const uint8_t* p) { return unsigned(p[0]) | unsigned(p[1]) << 8; }
uint32_t Le32(const uint8_t* p) { return Le16(p) | uint32_t(Le16(p + 2)) << 16; }

bool HasFooter(const uint8_t* data, size_t size) {
  return size >= kHeaderBytes + kFooterBytes &&
         std::memcmp(data + size - kSignature.size(), kSignature.data(), kSignature.size()) == 0;
}

// A pixel of `bytes` bytes as 0xAARRGGBB (alpha 255 where it has none).
uint32_t Colour(const uint8_t* p, int bytes) {
  switch (bytes) {
    case 1:
      return 0xFF000000u | uint32_t(p[0]) * 0x010101u;
    case 2: {
      const unsigned v = Le16(p);
      const auto five = [](unsigned c) { return (c << 3) | (c >> 2); };
      return 0xFF000000u | five((v >> 10) & 31) << 16 | five((v >> 5) & 31) << 8 | five(v & 31);
    }
    case 3:
      return 0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    default:
      return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }
}

class TgaReader final : public ImageReader {
 public:
  DecodeError Open(const uint8_t* data, size_t size);
  DecodeError Start(int denominator, bool) override;
  DecodeError ReadRows(uint8_t* const* rows, int count) override {
    if (count > height_ - next_) return DecodeError::Corrupt;
    const size_t rowBytes = size_t(width_) * 4;
    for (int i = 0; i < count; ++i, ++next_)
      std::memcpy(rows[i], whole_.get() + size_t(next_) * rowBytes, rowBytes);
    return DecodeError::None;
  }
  DecodeError Finish() override { return DecodeError::None; }
  std::shared_ptr<uint8_t[]> wholePicture() const override { return whole_; }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pixelsAt_ = 0;
  int pixelBytes_ = 0;
  bool runLength_ = false;
  bool mapped_ = false;
  bool alpha_ = false;
  bool topDown_ = false;
  bool rightToLeft_ = false;
  uint32_t map_[256] = {};
  std::shared_ptr<uint8_t[]> whole_;
  int next_ = 0;
};

DecodeError TgaReader::Open(const uint8_t* data, size_t size) {
  data_ = data;
  size_ = size;
  if (size < kHeaderBytes) return DecodeError::Corrupt;
  const int type = data[2];
  const int depth = data[16];
  const uint8_t descriptor = data[17];
  runLength_ = type >= 9;
  mapped_ = type == 1 || type == 9;
  const bool grey = type == 3 || type == 11;
  if (mapped_ ? depth != 8 || data[1] != 1
      : grey  ? depth != 8
              : depth != 15 && depth != 16 && depth != 24 && depth != 32)
    return DecodeError::NotAnImage;
  info_.width = int(Le16(data + 12));
  info_.height = int(Le16(data + 14));
  if (info_.width == 0 || info_.height == 0) return DecodeError::BadSize;
  topDown_ = descriptor & 0x20;
  rightToLeft_ = descriptor & 0x10;
  pixelBytes_ = (depth + 7) / 8;

  // The TGA 2.0 extension area's attributes type: 0, 1 and 2 mean the
  // alpha bits hold nothing to show (3 is alpha, 4 premultiplied alpha).
  bool alphaUsable = true;
  if (HasFooter(data, size)) {
    const uint32_t extension = Le32(data + size - kFooterBytes);
    if (extension != 0 && size >= kFooterBytes + 495 && extension <= size - kFooterBytes - 495)
      alphaUsable = data[extension + 494] >= 3;
  }
  const bool alphaBits = (descriptor & 0x0F) != 0 && alphaUsable;

  size_t at = kHeaderBytes + data[0];
  if (data[1] == 1) {
    const unsigned first = Le16(data + 3), length = Le16(data + 5);
    const int entryBytes = data[7] == 15 ? 2 : (data[7] + 7) / 8;
    if (data[7] != 15 && data[7] != 16 && data[7] != 24 && data[7] != 32) return DecodeError::BadPalette;
    if (size < at + size_t(length) * size_t(entryBytes)) return DecodeError::Corrupt;
    if (mapped_ && (length == 0 || first + length > 256)) return DecodeError::BadPalette;
    for (unsigned i = 0; mapped_ && i < length; ++i) {
      const uint32_t c = Colour(data + at + size_t(i) * size_t(entryBytes), entryBytes);
      map_[first + i] = entryBytes == 4 && !alphaBits ? c | 0xFF000000u : c;
    }
    alpha_ = mapped_ && entryBytes == 4 && alphaBits;
    at += size_t(length) * size_t(entryBytes);
  }
  if (at > size) return DecodeError::Corrupt;
  pixelsAt_ = at;
  if (!mapped_) alpha_ = depth == 32 && alphaBits;
  info_.bitsPerPixel = alpha_ || depth == 32 ? 32 : mapped_ || grey ? 8 : depth == 24 ? 24 : 16;
  info_.opaqueRows = true;
  return DecodeError::None;
}

DecodeError TgaReader::Start(int denominator, bool) {
  if (denominator != 1) return DecodeError::BadSize;
  width_ = info_.width;
  height_ = info_.height;
  const size_t pixels = size_t(width_) * size_t(height_);
  std::shared_ptr<uint8_t[]> whole = AllocateArray<uint8_t>(pixels * 4);
  if (!whole) return DecodeError::OutOfMemory;

  const uint8_t* at = data_ + pixelsAt_;
  const uint8_t* const end = data_ + size_;
  // Pixels come in stored order: rows from the stored corner, each from
  // its stored side.
  const size_t width = size_t(width_);
  const ptrdiff_t step4 = rightToLeft_ ? -4 : 4;
  const auto rowStart = [&](size_t row) {
    const size_t y = topDown_ ? row : size_t(height_) - 1 - row;
    return whole.get() + (y * width + (rightToLeft_ ? width - 1 : 0)) * 4;
  };
  size_t done = 0, row = 0, column = 0;
  uint8_t* out = rowStart(0);
  const auto put = [&](const uint8_t* p, size_t count) {
    uint32_t value = mapped_ ? map_[*p] : Colour(p, pixelBytes_);
    if (!alpha_) value |= 0xFF000000u;
    for (size_t n = 0; n < count; ++n, ++done) {
      std::memcpy(out, &value, 4);
      out += step4;
      if (++column == width) {
        column = 0;
        if (++row < size_t(height_)) out = rowStart(row);
      }
    }
  };
  const size_t step = size_t(pixelBytes_);
  while (done < pixels) {
    size_t count = pixels - done;
    bool repeat = false;
    if (runLength_) {
      if (at >= end) return DecodeError::Corrupt;
      repeat = *at & 0x80;
      count = std::min<size_t>(count, size_t(*at & 0x7F) + 1);
      ++at;
    }
    if (size_t(end - at) < (repeat ? 1 : count) * step) return DecodeError::Corrupt;
    if (repeat) {
      put(at, count);
      at += step;
    } else {
      for (size_t n = 0; n < count; ++n, at += step) put(at, 1);
    }
  }
  whole_ = std::move(whole);
  return DecodeError::None;
}

}  // namespace

bool IsTgaFile(const uint8_t* data, size_t size, std::string_view fileName) {
  if (HasFooter(data, size)) return true;
  const size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos || size < kHeaderBytes) return false;
  std::string suffix(fileName.substr(dot + 1));
  for (char& c : suffix) c = char(c | 0x20);
  if (suffix != "tga" && suffix != "icb" && suffix != "vda" && suffix != "vst") return false;
  // A header that makes sense as TGA: a known image type and depth, a
  // colour map flag of 0 or 1, sides above 0.
  const int type = data[2], depth = data[16];
  return data[1] <= 1 && (type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11) &&
         (depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32) && Le16(data + 12) > 0 &&
         Le16(data + 14) > 0;
}

DecodeError OpenTgaImage(const uint8_t* data, size_t size, std::unique_ptr<ImageReader>* reader) {
  auto tga = std::make_unique<TgaReader>();
  const DecodeError error = tga->Open(data, size);
  if (error != DecodeError::None) return error;
  *reader = std::move(tga);
  return DecodeError::None;
}

}  // namespace plombix
