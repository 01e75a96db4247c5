#include "decoder.h"

#include <new>
#include <utility>

#include "decode_budget.h"
#include "file_bytes.h"
#include "image_reader.h"
#include "orientation.h"
#include "pixel_alloc.h"
#include "stream_decode.h"

namespace plombix {

const char* DecodeErrorText(DecodeError error) {
  switch (error) {
    case DecodeError::None: return "no error";
    case DecodeError::CannotOpen: return "cannot be read";
    case DecodeError::NotAnImage: return "not a picture";
    case DecodeError::BadSize: return "picture size not supported";
    case DecodeError::Corrupt: return "damaged or incomplete";
    case DecodeError::BadPalette: return "damaged colour table";
    case DecodeError::OutOfMemory: return "not enough memory";
    case DecodeError::UnknownBitmap: return "no such built-in picture";
    case DecodeError::NotFound: return "file not found";
    case DecodeError::TooLarge: return "too big to load";
    case DecodeError::Changed: return "file changed while loading";
    case DecodeError::Cancelled: return "replaced by a newer picture";
  }
  return "cannot be loaded";
}

DecodeResult DecodeImageFile(const std::string& path) {
  try {
    FileBytes file;
    DecodeError error = ReadFileBytes(path, &file);
    if (error != DecodeError::None) return {error, nullptr};
    std::unique_ptr<ImageReader> reader;
    error = OpenImage(file.data.get(), file.size, &reader, path);
    if (error != DecodeError::None) return {error, nullptr};
    const ImageInfo& info = reader->info();
    // The whole picture, and a second one while it is turned upright.
    const int64_t turnedBytes =
        info.orientation != Orientation::Normal ? int64_t(info.width) * info.height * 4 : 0;
    error = CheckDecodeCost(info.width, info.height, info.bytesPerPixel, info.fixedBytes + turnedBytes);
    if (error == DecodeError::None) error = reader->Start(1);
    if (error != DecodeError::None) return {error, nullptr};

    const int width = reader->width(), height = reader->height();
    std::shared_ptr<uint8_t[]> pixels = reader->wholePicture();
    if (pixels) {
      error = reader->Finish();
    } else {
      pixels = AllocateArray<uint8_t>(size_t(width) * size_t(height) * 4);
      if (!pixels) return {DecodeError::OutOfMemory, nullptr};
      error = DecodeWhole(*reader, pixels.get());
    }
    if (error != DecodeError::None) return {error, nullptr};

    auto bitmap = std::make_shared<SourceBitmap>();
    bitmap->bitsPerPixel = info.bitsPerPixel;
    bitmap->width = width;
    bitmap->height = height;
    if (info.orientation != Orientation::Normal) {
      std::shared_ptr<uint8_t[]> shown = AllocateArray<uint8_t>(size_t(width) * size_t(height) * 4);
      if (!shown) return {DecodeError::OutOfMemory, nullptr};
      OrientPixels(info.orientation, pixels.get(), width, height, shown.get());
      pixels = std::move(shown);
      if (SwapsSides(info.orientation)) std::swap(bitmap->width, bitmap->height);
    }
    bitmap->pixels = std::move(pixels);
    return {DecodeError::None, std::move(bitmap)};
  } catch (const std::bad_alloc&) {
    return {DecodeError::OutOfMemory, nullptr};
  }
}

}  // namespace plombix
