#include "decoder.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "picture_buffer.h"
#include "pixel_alloc.h"

namespace plombix {
namespace {

// Qt refuses to allocate decoded images above this many megabytes (its own
// default, 128, would refuse most large photos). 2048 admits the largest
// picture we accept, 16384 x 16384, even where a reader decodes into eight
// bytes a pixel (16-bit-per-channel PNG and TIFF).
constexpr int kReaderAllocationLimitMb = 2048;

bool DimensionsAllowed(int width, int height) {
  return width > 0 && height > 0 && width <= PictureBuffer::kMaxDecodeDimension &&
         height <= PictureBuffer::kMaxDecodeDimension;
}

// What the first bytes of a file tell about the stored depth, for the
// containers where Qt's decoded format hides it.
struct HeaderFacts {
  bool gif = false;      // always a palette image, whatever Qt decodes it to
  int bmpBitCount = 0;   // stored bits a pixel of a BMP, 0 when not a BMP
};

uint32_t ReadLe(const QByteArray& bytes, int offset, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | uint8_t(bytes[offset + i]);
  return value;
}

HeaderFacts InspectHeader(const QByteArray& head) {
  HeaderFacts facts;
  if (head.startsWith("GIF87a") || head.startsWith("GIF89a")) facts.gif = true;
  if (head.size() >= 30 && head.startsWith("BM")) {
    const uint32_t infoSize = ReadLe(head, 14, 4);
    if (infoSize == 12) facts.bmpBitCount = int(ReadLe(head, 24, 2));  // OS/2 core header
    else if (infoSize >= 40) facts.bmpBitCount = int(ReadLe(head, 28, 2));
  }
  return facts;
}

// Hands the QImage's own buffer (32 bits a pixel, rows packed) to a
// SourceBitmap without copying it; the QImage lives as long as the pixels.
std::shared_ptr<SourceBitmap> AdoptImage(QImage&& image, int depth) {
  auto owner = std::make_shared<QImage>(std::move(image));
  auto bitmap = std::make_shared<SourceBitmap>();
  bitmap->width = owner->width();
  bitmap->height = owner->height();
  bitmap->bitsPerPixel = depth;
  uint8_t* bits = owner->bits();  // sole owner: no detach copy
  bitmap->pixels = std::shared_ptr<uint8_t[]>(owner, bits);
  return bitmap;
}

// Expands a palette image (Mono or Indexed8) to 32-bit pixels, colour from
// the palette and the palette's alpha dropped. An index beyond the palette
// (a damaged file) gives black.
DecodeResult ExpandPalette(QImage&& image, int depth) {
  const QList<QRgb> palette = image.colorTable();
  if (palette.isEmpty() || palette.size() > 256) return {DecodeError::BadPalette, nullptr};
  if (image.format() != QImage::Format_Indexed8) {
    image.convertTo(QImage::Format_Indexed8);  // keeps the colour table
    if (image.format() != QImage::Format_Indexed8) return {DecodeError::OutOfMemory, nullptr};
  }
  uint32_t lookup[256] = {};
  for (qsizetype i = 0; i < palette.size(); ++i) lookup[i] = palette[i] | 0xFF000000u;

  const int width = image.width();
  const int height = image.height();
  auto pixels = AllocateArray<uint8_t>(size_t(width) * size_t(height) * 4);
  if (!pixels) return {DecodeError::OutOfMemory, nullptr};
  for (int y = 0; y < height; ++y) {
    const uchar* indices = image.constScanLine(y);
    uint8_t* out = pixels.get() + size_t(y) * size_t(width) * 4;
    for (int x = 0; x < width; ++x) std::memcpy(out + size_t(x) * 4, &lookup[indices[x]], 4);
  }
  auto bitmap = std::make_shared<SourceBitmap>();
  bitmap->width = width;
  bitmap->height = height;
  bitmap->bitsPerPixel = depth;
  bitmap->pixels = std::move(pixels);
  return {DecodeError::None, std::move(bitmap)};
}

// Brings a decoded QImage into the pixel format and decides its depth.
DecodeResult ToSourceBitmap(QImage&& image, const HeaderFacts& facts) {
  const QImage::Format format = image.format();
  if (format == QImage::Format_Mono || format == QImage::Format_MonoLSB)
    return ExpandPalette(std::move(image), 1);
  if (format == QImage::Format_Indexed8) return ExpandPalette(std::move(image), 8);

  int depth = 32;
  QImage::Format target = QImage::Format_RGB32;
  if (facts.gif) {
    // Qt expands GIF frames itself; the straight ARGB32 it delivers keeps
    // the colour of transparent entries, and the alpha is ignored from here.
    depth = 8;
    if (format == QImage::Format_ARGB32) target = QImage::Format_ARGB32;
  } else if (format == QImage::Format_Grayscale8) {
    depth = 8;
  } else if (format == QImage::Format_RGB16 || format == QImage::Format_RGB555 ||
             format == QImage::Format_RGB444) {
    depth = 16;
  } else if (format == QImage::Format_RGB888 || format == QImage::Format_BGR888) {
    depth = 24;
  } else if (format == QImage::Format_RGB32 || format == QImage::Format_RGBX8888) {
    // Qt decodes every 24-bit source to RGB32; only a BMP says otherwise.
    depth = facts.bmpBitCount == 32 ? 32 : facts.bmpBitCount == 16 ? 16 : 24;
  } else if (image.hasAlphaChannel()) {
    target = QImage::Format_ARGB32;  // straight alpha, converted from premultiplied
  }
  // Everything else: 32 without alpha, RGB32 has 255 in the fourth byte.

  if (image.format() != target) {
    image.convertTo(target);
    if (image.format() != target || image.isNull()) return {DecodeError::OutOfMemory, nullptr};
  }
  if (image.bytesPerLine() != qsizetype(image.width()) * 4) return {DecodeError::Corrupt, nullptr};
  return {DecodeError::None, AdoptImage(std::move(image), depth)};
}

DecodeResult DecodeDevice(QIODevice& device, const HeaderFacts& facts) {
  QImageReader::setAllocationLimit(kReaderAllocationLimitMb);
  QImageReader reader(&device);
  reader.setAutoTransform(true);
  reader.setDecideFormatFromContent(true);
  if (!reader.canRead()) return {DecodeError::NotAnImage, nullptr};

  // The header's size, before the reader allocates anything.
  const QSize announced = reader.size();
  if (announced.isValid() && !DimensionsAllowed(announced.width(), announced.height()))
    return {DecodeError::BadSize, nullptr};

  QImage image;
  if (!reader.read(&image) || image.isNull()) return {DecodeError::Corrupt, nullptr};
  if (!DimensionsAllowed(image.width(), image.height())) return {DecodeError::BadSize, nullptr};
  return ToSourceBitmap(std::move(image), facts);
}

}  // namespace

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
  if (path.empty()) return {DecodeError::CannotOpen, nullptr};
  try {
    // Opened here rather than by Qt: the path is taken as raw bytes (any
    // encoding), and O_NONBLOCK keeps a FIFO from blocking the open; only
    // regular files are read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return {errno == ENOENT ? DecodeError::NotFound : DecodeError::CannotOpen, nullptr};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      ::close(fd);
      return {DecodeError::CannotOpen, nullptr};
    }
    if (info.st_size == 0) {
      ::close(fd);
      return {DecodeError::NotAnImage, nullptr};
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
      ::close(fd);
      return {DecodeError::CannotOpen, nullptr};
    }
    const HeaderFacts facts = InspectHeader(file.peek(32));
    return DecodeDevice(file, facts);
  } catch (const std::bad_alloc&) {
    return {DecodeError::OutOfMemory, nullptr};
  }
}

DecodeResult LoadBuiltInBitmap(int id) {
  if (id <= 0 || id > 0xFFFF) return {DecodeError::UnknownBitmap, nullptr};
  try {
    QFile file(QStringLiteral(":/bitmaps/%1.png").arg(id));
    if (!file.open(QIODevice::ReadOnly)) return {DecodeError::UnknownBitmap, nullptr};
    QImageReader reader(&file);
    QImage image;
    if (!reader.read(&image) || image.isNull()) return {DecodeError::Corrupt, nullptr};

    // The display format: 32 bits; a bitmap without alpha has 0 there.
    const bool hasAlpha = image.hasAlphaChannel();
    const QImage::Format target = hasAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    if (image.format() != target) {
      image.convertTo(target);
      if (image.format() != target) return {DecodeError::OutOfMemory, nullptr};
    }
    if (!hasAlpha) {
      for (int y = 0; y < image.height(); ++y) {
        uint8_t* row = image.scanLine(y);
        for (int x = 0; x < image.width(); ++x) row[size_t(x) * 4 + 3] = 0;
      }
    }
    return {DecodeError::None, AdoptImage(std::move(image), 32)};
  } catch (const std::bad_alloc&) {
    return {DecodeError::OutOfMemory, nullptr};
  }
}

}  // namespace plombix
