// PNG through libspng: rows decoded one at a time as 8-bit RGBA (16-bit
// channels reduced by libspng), red and blue then swapped into the pixel
// format. Interlaced files are decoded whole (their rows only exist after
// the last pass).
//
// Strict about the pixels, lenient about the rest: image data that is cut
// short, fails a chunk's checksum or its own Adler-32, or does not inflate
// is DecodeError::Corrupt; an ancillary chunk with a bad checksum is
// skipped, and once the last image-data chunk is whole and its checksum
// matches, whatever follows (ancillary chunks, cut or not, a missing IEND,
// trailing bytes) does not matter. Ancillary chunks kept in memory are
// capped at 64 MiB.
//
// Depth and alpha, by the rules of image_reader.h: colour types 4 and 6,
// grey or RGB with a tRNS colour, and a palette whose tRNS makes an entry
// less than opaque decode with their alpha (32); grey 16, RGB 16: 32
// without alpha.
#include <libdeflate.h>
#include <spng.h>

#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decode_budget.h"
#include "image_reader.h"
#include "pixel_alloc.h"

namespace plombix {
namespace {

// Ancillary chunks libspng keeps (text, ICC profile, ...): each and all
// together. Image data is streamed and not subject to it.
constexpr size_t kChunkCacheBytes = size_t(64) << 20;

// RGBA -> BGRA in place. As a little-endian word a pixel is
// A << 24 | B << 16 | G << 8 | R; swapping R and B keeps A and G.
void SwapRedBlue(uint8_t* p, size_t pixels) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i keep = _mm_set1_epi32(int(0xFF00FF00u));
  const __m128i swap = _mm_set1_epi32(0x00FF00FF);
  for (; i + 4 <= pixels; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i * 4));
    const __m128i rb = _mm_and_si128(v, swap);
    const __m128i out = _mm_or_si128(_mm_and_si128(v, keep),
                                     _mm_or_si128(_mm_slli_epi32(rb, 16), _mm_srli_epi32(rb, 16)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i * 4), out);
  }
#endif
  for (; i < pixels; ++i) std::swap(p[i * 4], p[i * 4 + 2]);
}

uint32_t Be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Whether the file holds its run of image-data (IDAT) chunks whole, each
// with a matching checksum. libspng checks each IDAT's checksum only when
// it reads the chunk after it, which a file cut after its image data, or
// one without IEND, never has.
bool ImageDataIntact(const uint8_t* data, size_t size) {
  bool inImageData = false;
  for (size_t at = 8; size - at >= 8;) {
    const uint32_t length = Be32(data + at);
    const bool imageData = std::memcmp(data + at + 4, "IDAT", 4) == 0;
    if (inImageData && !imageData) return true;
    if (length > size - at - 12 || size - at < 12) return false;
    if (imageData) {
      const uint32_t crc = uint32_t(libdeflate_crc32(0, data + at + 4, size_t(length) + 4));
      if (crc != Be32(data + at + 8 + length)) return false;
      inImageData = true;
    }
    at += 12 + size_t(length);
  }
  return inImageData;
}

class PngReader final : public ImageReader {
 public:
  PngReader() = default;
  ~PngReader() override {
    if (ctx_) spng_ctx_free(ctx_);
  }

  DecodeError Open(const uint8_t* data, size_t size);
  DecodeError Start(int denominator, bool shrunkAfter) override;
  DecodeError ReadRows(uint8_t* const* rows, int count) override;
  DecodeError Finish() override;
  std::shared_ptr<uint8_t[]> wholePicture() const override { return whole_; }

 private:
  spng_ctx* ctx_ = nullptr;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  int decodeFlags_ = 0;
  bool interlaced_ = false;
  int rowsLeft_ = 0;
  std::shared_ptr<uint8_t[]> whole_;
};

DecodeError PngReader::Open(const uint8_t* data, size_t size) {
  data_ = data;
  size_ = size;
  ctx_ = spng_ctx_new(0);
  if (!ctx_) return DecodeError::OutOfMemory;
  if (spng_set_crc_action(ctx_, SPNG_CRC_ERROR, SPNG_CRC_DISCARD) != 0 ||
      spng_set_chunk_limits(ctx_, kChunkCacheBytes, kChunkCacheBytes) != 0 ||
      spng_set_png_buffer(ctx_, data, size) != 0)
    return DecodeError::OutOfMemory;

  spng_ihdr ihdr{};
  const int error = spng_get_ihdr(ctx_, &ihdr);
  if (error == SPNG_EWIDTH || error == SPNG_EHEIGHT || error == SPNG_EUSER_WIDTH ||
      error == SPNG_EUSER_HEIGHT)
    return DecodeError::BadSize;
  if (error != 0) return DecodeError::Corrupt;
  if (ihdr.width == 0 || ihdr.height == 0 || ihdr.width > uint32_t(kMaxDecodeSide) ||
      ihdr.height > uint32_t(kMaxDecodeSide))
    return DecodeError::BadSize;

  info_.width = int(ihdr.width);
  info_.height = int(ihdr.height);
  info_.opaqueRows = true;  // 8-bit RGBA from a picture decoded without its alpha: 255
  info_.bytesPerPixel = ihdr.bit_depth == 16 ? 8 : 4;
  interlaced_ = ihdr.interlace_method != SPNG_INTERLACE_NONE;

  spng_trns trns{};
  const int trnsError = spng_get_trns(ctx_, &trns);
  if (trnsError != 0 && trnsError != SPNG_ECHUNKAVAIL) return DecodeError::Corrupt;
  const bool transparentColour = trnsError == 0;
  bool transparentEntry = false;
  if (transparentColour && ihdr.color_type == SPNG_COLOR_TYPE_INDEXED)
    for (uint32_t i = 0; i < trns.n_type3_entries && i < 256; ++i)
      transparentEntry = transparentEntry || trns.type3_alpha[i] != 255;
  switch (ihdr.color_type) {
    case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
    case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA: info_.bitsPerPixel = 32; break;
    case SPNG_COLOR_TYPE_INDEXED:
      info_.bitsPerPixel = transparentEntry ? 32 : ihdr.bit_depth == 1 ? 1 : 8;
      break;
    case SPNG_COLOR_TYPE_GRAYSCALE:
      info_.bitsPerPixel = transparentColour || ihdr.bit_depth == 16 ? 32
                           : ihdr.bit_depth == 1                     ? 1
                                                                     : 8;
      break;
    default:  // truecolour
      info_.bitsPerPixel = transparentColour || ihdr.bit_depth == 16 ? 32 : 24;
      break;
  }
  if (transparentColour && (ihdr.color_type != SPNG_COLOR_TYPE_INDEXED || transparentEntry))
    decodeFlags_ = SPNG_DECODE_TRNS;
  return DecodeError::None;
}

DecodeError PngReader::Start(int denominator, bool) {
  if (denominator != 1) return DecodeError::BadSize;
  width_ = info_.width;
  height_ = info_.height;
  rowsLeft_ = height_;
  if (!interlaced_) {
    return spng_decode_image(ctx_, nullptr, 0, SPNG_FMT_RGBA8,
                             decodeFlags_ | SPNG_DECODE_PROGRESSIVE) == 0
               ? DecodeError::None
               : DecodeError::Corrupt;
  }
  size_t bytes = 0;
  if (spng_decoded_image_size(ctx_, SPNG_FMT_RGBA8, &bytes) != 0 ||
      bytes != size_t(width_) * size_t(height_) * 4)
    return DecodeError::Corrupt;
  std::unique_ptr<uint8_t[]> pixels = AllocateArray<uint8_t>(bytes);
  if (!pixels) return DecodeError::OutOfMemory;
  if (spng_decode_image(ctx_, pixels.get(), bytes, SPNG_FMT_RGBA8, decodeFlags_) != 0)
    return DecodeError::Corrupt;
  SwapRedBlue(pixels.get(), bytes / 4);
  whole_ = std::move(pixels);
  return DecodeError::None;
}

DecodeError PngReader::ReadRows(uint8_t* const* rows, int count) {
  if (count > rowsLeft_) return DecodeError::Corrupt;
  const size_t rowBytes = size_t(width_) * 4;
  for (int i = 0; i < count; ++i) {
    if (whole_) {
      std::memcpy(rows[i], whole_.get() + size_t(height_ - rowsLeft_) * rowBytes, rowBytes);
    } else {
      const int error = spng_decode_row(ctx_, rows[i], rowBytes);
      // The last row comes with SPNG_EOI.
      if (error != 0 && !(error == SPNG_EOI && rowsLeft_ == 1)) return DecodeError::Corrupt;
      SwapRedBlue(rows[i], size_t(width_));
    }
    --rowsLeft_;
  }
  return DecodeError::None;
}

DecodeError PngReader::Finish() {
  if (!whole_ && rowsLeft_ != 0) return DecodeError::Corrupt;
  // The last row came with the end of the compressed stream and its
  // Adler-32; what is left to prove is the last image-data chunk's own
  // checksum, i.e. that the chunk is whole.
  return ImageDataIntact(data_, size_) ? DecodeError::None : DecodeError::Corrupt;
}

}  // namespace

DecodeError OpenPngImage(const uint8_t* data, size_t size, std::unique_ptr<ImageReader>* reader) {
  auto png = std::make_unique<PngReader>();
  const DecodeError error = png->Open(data, size);
  if (error != DecodeError::None) return error;
  *reader = std::move(png);
  return DecodeError::None;
}

}  // namespace plombix
