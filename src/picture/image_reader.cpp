// OpenImage: the format is recognised by the file's first bytes; the name's
// suffix speaks only for formats without a signature.
#include "image_reader.h"

#include <cstring>
#include <new>

#include "colour_manage.h"

namespace plombix {
namespace {

bool IsJpeg(const uint8_t* data, size_t size) {
  return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

bool IsPng(const uint8_t* data, size_t size) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return size >= 8 && std::memcmp(data, kSignature, 8) == 0;
}

// ISO base media files (HEIF, AVIF, but also MP4 ...): a box "ftyp" first.
bool IsIsoMedia(const uint8_t* data, size_t size) {
  return size >= 12 && std::memcmp(data + 4, "ftyp", 4) == 0;
}

// JPEG XL: a bare codestream, or the container's signature box.
bool IsJxl(const uint8_t* data, size_t size) {
  static const uint8_t kContainer[12] = {0, 0, 0, 12, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  return (size >= 2 && data[0] == 0xFF && data[1] == 0x0A) ||
         (size >= 12 && std::memcmp(data, kContainer, 12) == 0);
}

DecodeError Open(const uint8_t* data, size_t size, std::unique_ptr<ImageReader>* reader,
                 std::string_view fileName) {
  if (IsJpeg(data, size)) return OpenJpegImage(data, size, reader);
  if (IsPng(data, size)) return OpenPngImage(data, size, reader);
  if (IsIsoMedia(data, size)) {
    const DecodeError error = OpenHeifImage(data, size, reader);
    if (error != DecodeError::NotAnImage) return error;
  }
  if (IsJxl(data, size)) return OpenJxlImage(data, size, reader);
  if (IsTgaFile(data, size, fileName)) return OpenTgaImage(data, size, reader);
  const DecodeError error = OpenSvgImage(data, size, reader);  // NotAnImage unless SVG or SVGZ
  if (error != DecodeError::NotAnImage) return error;
  return OpenQtImage(data, size, reader, fileName);
}

}  // namespace

DecodeError OpenImage(const uint8_t* data, size_t size, std::unique_ptr<ImageReader>* reader,
                      std::string_view fileName) {
  reader->reset();
  if (!data || size == 0) return DecodeError::NotAnImage;
  try {
    DecodeError error = Open(data, size, reader, fileName);
    if (error == DecodeError::None) error = ManageColour(reader);
    if (error == DecodeError::None) (*reader)->AddFixedBytes(int64_t(size));
    else reader->reset();
    return error;
  } catch (const std::bad_alloc&) {
    reader->reset();
    return DecodeError::OutOfMemory;
  }
}

}  // namespace plombix
