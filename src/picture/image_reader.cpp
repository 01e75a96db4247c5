// OpenImage: the format is recognised by the file's first bytes; the name's
// suffix speaks only for formats without a signature.
#include "image_reader.h"

#include <cstring>
#include <new>

namespace plombix {
namespace {

bool IsJpeg(const uint8_t* data, size_t size) {
  return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

bool IsPng(const uint8_t* data, size_t size) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return size >= 8 && std::memcmp(data, kSignature, 8) == 0;
}

DecodeError Open(const uint8_t* data, size_t size, std::unique_ptr<ImageReader>* reader,
                 std::string_view fileName) {
  if (IsJpeg(data, size)) return OpenJpegImage(data, size, reader);
  if (IsPng(data, size)) return OpenPngImage(data, size, reader);
  if (IsTgaFile(data, size, fileName)) return OpenTgaImage(data, size, reader);
  return OpenQtImage(data, size, reader, fileName);
}

}  // namespace

DecodeError OpenImage(const uint8_t* data, size_t size, std::unique_ptr<ImageReader>* reader,
                      std::string_view fileName) {
  reader->reset();
  if (!data || size == 0) return DecodeError::NotAnImage;
  try {
    const DecodeError error = Open(data, size, reader, fileName);
    if (error == DecodeError::None) (*reader)->AddFixedBytes(int64_t(size));
    return error;
  } catch (const std::bad_alloc&) {
    reader->reset();
    return DecodeError::OutOfMemory;
  }
}

}  // namespace plombix
