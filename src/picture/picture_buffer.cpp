// PictureBuffer: construction, loading, copying and the per-pixel
// adjustments. Placement and gradient fills live in place.cpp and
// gradient.cpp.
#include "picture_buffer.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decoder.h"
#include "pixel_alloc.h"
#include "prepare.h"
#include "pixel_ops.h"
#include "resample.h"

namespace plombix {
namespace {

// Copies `pixels` pixels with the fourth byte of each written as 0: the
// state of converted pixels until the caller makes them opaque.
void CopyWithoutFourthByte(uint8_t* dst, const uint8_t* src, size_t pixels) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
  for (; i + 4 <= pixels; i += 4) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i * 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i * 4), _mm_and_si128(p, colour));
  }
#endif
  for (; i < pixels; ++i) {
    std::memcpy(dst + i * 4, src + i * 4, 3);
    dst[i * 4 + 3] = 0;
  }
}

enum class FourthByte { AsStored, Zero };

}  // namespace

PictureBuffer::PictureBuffer()
    : rangeTable(MakeRangeTable()), pixelData(AllocateArray<uint8_t>(kInitialBufferBytes)) {}

PictureBuffer::~PictureBuffer() = default;

// Replaces the pixel buffer with a copy of `bitmap`'s pixels. The sizes are 0
// while the new buffer is allocated, and stay 0 when that fails.
static bool FillPixels(PictureBuffer& picture, const SourceBitmap& bitmap, FourthByte fourth) {
  picture.width = picture.height = picture.byteCount = picture.bitsPerPixel = 0;
  picture.placeWidth = picture.placeHeight = picture.windowLeft = picture.windowTop = 0;
  picture.pixelData.reset();
  const size_t bytes = size_t(bitmap.byteCount());
  picture.pixelData = AllocateArray<uint8_t>(bytes);
  if (!picture.pixelData || !bitmap.pixels) return false;
  if (fourth == FourthByte::Zero)
    CopyWithoutFourthByte(picture.pixelData.get(), bitmap.pixels.get(), bytes / 4);
  else
    std::memcpy(picture.pixelData.get(), bitmap.pixels.get(), bytes);
  picture.width = bitmap.width;
  picture.height = bitmap.height;
  picture.bitsPerPixel = 32;
  picture.byteCount = int(bytes);
  return true;
}

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool PictureBuffer::DecodeFile(const std::string& path) {
  fileName = FileNameOf(path);
  filePath = path;

  DecodeResult decoded = DecodeImageFile(path);
  if (!decoded.ok()) return false;
  decodedImage = std::move(decoded.bitmap);
  sourceWidth = decodedImage->width;
  sourceHeight = decodedImage->height;
  sourceBitsPerPixel = decodedImage->bitsPerPixel;
  return true;
}

bool PictureBuffer::FillFromDecoded() {
  if (!decodedImage) return false;
  const FourthByte fourth = sourceBitsPerPixel == 32 ? FourthByte::AsStored : FourthByte::Zero;
  if (!FillPixels(*this, *decodedImage, fourth)) return false;
  state = 1;
  return true;
}

bool PictureBuffer::LoadFile(const std::string& path) {
  return DecodeFile(path) && FillFromDecoded();
}

bool PictureBuffer::AdoptPrepared(PreparedPicture&& prepared) {
  fileName = std::move(prepared.fileName);
  filePath = std::move(prepared.filePath);
  if (!prepared.ok() || !prepared.pixels) return false;
  decodedImage.reset();
  sourceWidth = prepared.sourceWidth;
  sourceHeight = prepared.sourceHeight;
  sourceBitsPerPixel = prepared.sourceBitsPerPixel;
  pixelData = std::move(prepared.pixels);
  width = prepared.width;
  height = prepared.height;
  placeWidth = prepared.placeWidth;
  placeHeight = prepared.placeHeight;
  windowLeft = prepared.windowLeft;
  windowTop = prepared.windowTop;
  bitsPerPixel = 32;
  byteCount = width * height * 4;
  state = 1;
  return true;
}

bool PictureBuffer::LoadResourceBitmap(int id) {
  DecodeResult loaded = LoadBuiltInBitmap(id);
  if (!loaded.ok()) return false;
  resourceBitmap = std::move(loaded.bitmap);
  resourceId = id;
  sourceWidth = resourceBitmap->width;
  sourceHeight = resourceBitmap->height;
  if (!FillPixels(*this, *resourceBitmap, FourthByte::AsStored)) return false;
  state = 1;
  return true;
}

bool PictureBuffer::CopyFrom(const PictureBuffer& source) {
  if (source.state != 1) return false;
  if (&source == this) return true;
  if (byteCount != source.byteCount) {
    pixelData.reset();
    byteCount = source.byteCount;
    if (byteCount > 0) pixelData = AllocateArray<uint8_t>(size_t(byteCount));
    if (byteCount > 0 && !pixelData) {
      byteCount = bitsPerPixel = width = height = 0;
      return false;
    }
  }
  width = source.width;
  height = source.height;
  bitsPerPixel = source.bitsPerPixel;
  placeWidth = source.placeWidth;
  placeHeight = source.placeHeight;
  windowLeft = source.windowLeft;
  windowTop = source.windowTop;
  if (byteCount > 0) std::memcpy(pixelData.get(), source.pixelData.get(), size_t(byteCount));
  state = 1;
  return true;
}

void PictureBuffer::SetAlpha(uint8_t alpha) {
  if (!pixelData || byteCount <= 0) return;
  SetAlphaRow(pixelData.get(), size_t(byteCount) / 4, alpha);
}

void PictureBuffer::ApplyRangeTable() {
  if (!pixelData || byteCount <= 0) return;
  MapBytes(pixelData.get(), size_t(byteCount), rangeTable);
}

void PictureBuffer::Empty() {
  sourceWidth = sourceHeight = sourceBitsPerPixel = 0;
  width = height = byteCount = bitsPerPixel = 0;
  placeWidth = placeHeight = windowLeft = windowTop = 0;
  state = 0;
  decodedImage.reset();
  pixelData.reset();
  pixelData = AllocateArray<uint8_t>(64);
}

bool PictureBuffer::ScaleFrom(int targetWidth, int targetHeight, const SourceBitmap& source) {
  sourceWidth = source.width;
  sourceHeight = source.height;
  if (!source.pixels) return false;

  // Tables and scratch first: if they cannot be had, nothing has changed.
  Resampler resampler;
  if (!resampler.Prepare(source.width, source.height, targetWidth, targetHeight)) return false;

  const size_t bytes = size_t(targetWidth) * size_t(targetHeight) * 4;
  const bool reuse = pixelData && byteCount > 0 && size_t(byteCount) == bytes;
  width = height = byteCount = bitsPerPixel = 0;
  placeWidth = placeHeight = windowLeft = windowTop = 0;
  // A buffer of the right size is written over in place: pictures rescaled
  // to the output size again and again allocate (and page-fault) nothing.
  if (!reuse) {
    pixelData.reset();
    pixelData = AllocateArray<uint8_t>(bytes);
    if (!pixelData) return false;
  }
  resampler.Run(source.pixels.get(), pixelData.get());
  width = targetWidth;
  height = targetHeight;
  bitsPerPixel = 32;
  byteCount = int(bytes);
  // Without its own alpha a picture is opaque after every rescale.
  if (source.bitsPerPixel != 32) SetAlpha(255);
  return true;
}

bool PictureBuffer::ScaleTo(int targetWidth, int targetHeight) {
  if (!decodedImage) return false;
  const std::shared_ptr<const SourceBitmap> source = decodedImage;
  return ScaleFrom(targetWidth, targetHeight, *source);
}

}  // namespace plombix
