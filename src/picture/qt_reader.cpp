// Qt's image readers (and the format plug-ins installed with Qt): picture
// files in every format but JPEG and PNG, decoded whole from memory, and
// the built-in bitmaps. The only place of the picture layer that uses Qt.
//
// Limits: the size a reader announces is checked against the decode budget
// before it decodes (at the bytes a pixel of the format it will decode to,
// at least 4, since the picture is then converted to the pixel format);
// Qt's own allocation limit is set to the budget as well, and a reader that
// announces nothing has its result checked before the conversion.
//
// Orientation: the reader's transformation (TIFF orientation) is taken as
// the picture's orientation and applied by the caller, like a JPEG's.
#include <QBuffer>
#include <QByteArray>
#include <QColorSpace>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QString>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "decode_budget.h"
#include "decoder.h"
#include "image_reader.h"
#include "pixel_alloc.h"

namespace plombix {
namespace {

// Qt counts its allocation limit in mebibytes. It is one process-wide
// value: set while the program starts, before any thread can be reading
// images, so that no reader on any thread races with the setting.
constexpr int kReaderAllocationLimitMb = int(kDecodeBudgetBytes >> 20);
const bool allocationLimitSet = [] {
  QImageReader::setAllocationLimit(kReaderAllocationLimitMb);
  return true;
}();

// What the first bytes of a file tell about the stored depth, for the
// containers where Qt's decoded format hides it.
struct HeaderFacts {
  bool gif = false;     // always a palette image, whatever Qt decodes it to
  bool bmp = false;
  int bmpBitCount = 0;  // stored bits a pixel of a BMP, 0 when not known
};

uint32_t ReadLe(const uint8_t* bytes, size_t offset, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | bytes[offset + size_t(i)];
  return value;
}

HeaderFacts InspectHeader(const uint8_t* head, size_t size) {
  HeaderFacts facts;
  if (size >= 6 && (std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0))
    facts.gif = true;
  facts.bmp = size >= 2 && head[0] == 'B' && head[1] == 'M';
  if (size >= 30 && facts.bmp) {
    const uint32_t infoSize = ReadLe(head, 14, 4);
    if (infoSize == 12) facts.bmpBitCount = int(ReadLe(head, 24, 2));  // OS/2 core header
    else if (infoSize >= 40) facts.bmpBitCount = int(ReadLe(head, 28, 2));
  }
  return facts;
}

// Qt's BMP and GIF readers deliver a file cut short without an error (the
// missing rows stay blank). These two checks refuse such files from their
// structure: an uncompressed BMP must hold all the rows its header
// announces; a GIF must hold every block up to its trailer. Other formats'
// readers fail on a cut file by themselves.
bool BmpComplete(const uint8_t* data, size_t size) {
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
    return true;  // a header Qt will judge by itself
  }
  // Only uncompressed rows (BI_RGB, BI_BITFIELDS, BI_ALPHABITFIELDS) have
  // a size known in advance.
  if (compression != 0 && compression != 3 && compression != 6) return true;
  if (width <= 0 || height == 0 || bitCount <= 0) return true;
  const int64_t rowBytes = (width * bitCount + 31) / 32 * 4;
  return dataOffset + rowBytes * (height < 0 ? -height : height) <= int64_t(size);
}

bool GifComplete(const uint8_t* data, size_t size) {
  size_t at = 13;  // signature and logical screen descriptor
  if (size < at) return false;
  if (data[10] & 0x80) at += size_t(3) << ((data[10] & 7) + 1);
  // Skips data sub-blocks (length, bytes) up to the empty one; false when
  // the file ends first.
  const auto skipBlocks = [&] {
    while (at < size) {
      const size_t length = data[at];
      at += 1 + length;
      if (length == 0) return true;
    }
    return false;
  };
  while (at < size) {
    switch (data[at]) {
      case 0x21:  // extension: label, then sub-blocks
        at += 2;
        if (!skipBlocks()) return false;
        break;
      case 0x2C: {  // image: descriptor, local colour table, code size, data
        if (at + 10 > size) return false;
        const uint8_t flags = data[at + 9];
        at += 10;
        if (flags & 0x80) at += size_t(3) << ((flags & 7) + 1);
        at += 1;
        if (!skipBlocks()) return false;
        break;
      }
      case 0x3B: return true;  // the trailer
      default: return false;
    }
  }
  return false;
}

// The picture's orientation for the reader's transformation (Qt mirrors
// and flips first, then turns 90 degrees clockwise).
Orientation FromTransformation(QImageIOHandler::Transformations t) {
  switch (int(t)) {
    case QImageIOHandler::TransformationMirror: return Orientation::MirrorHorizontal;
    case QImageIOHandler::TransformationFlip: return Orientation::MirrorVertical;
    case QImageIOHandler::TransformationRotate180: return Orientation::Rotate180;
    case QImageIOHandler::TransformationRotate90: return Orientation::Rotate90;
    case QImageIOHandler::TransformationMirrorAndRotate90: return Orientation::Transverse;
    case QImageIOHandler::TransformationFlipAndRotate90: return Orientation::Transpose;
    case QImageIOHandler::TransformationRotate270: return Orientation::Rotate270;
    default: return Orientation::Normal;
  }
}

int BytesPerPixel(QImage::Format format) {
  if (format == QImage::Format_Invalid) return 4;
  return std::max(4, QImage::toPixelFormat(format).bitsPerPixel() / 8);
}

// Hands the QImage's own buffer (32 bits a pixel, rows packed) over without
// copying it; the QImage lives as long as the pixels.
std::shared_ptr<uint8_t[]> AdoptImage(QImage&& image) {
  auto owner = std::make_shared<QImage>(std::move(image));
  uint8_t* bits = owner->bits();  // sole owner: no detach copy
  return std::shared_ptr<uint8_t[]>(owner, bits);
}

struct Converted {
  DecodeError error = DecodeError::None;
  int depth = 0;
  std::shared_ptr<uint8_t[]> pixels;
  bool opaqueRows = true;  // 255 in every fourth byte
};

// Expands a palette image (Mono or Indexed8) to 32-bit pixels, colour from
// the palette and the palette's alpha dropped. An index beyond the palette
// (a damaged file) gives black.
Converted ExpandPalette(QImage&& image, int depth) {
  const QList<QRgb> palette = image.colorTable();
  if (palette.isEmpty() || palette.size() > 256) return {DecodeError::BadPalette};
  if (image.format() != QImage::Format_Indexed8) {
    image.convertTo(QImage::Format_Indexed8);  // keeps the colour table
    if (image.format() != QImage::Format_Indexed8) return {DecodeError::OutOfMemory};
  }
  uint32_t lookup[256] = {};
  for (qsizetype i = 0; i < palette.size(); ++i) lookup[i] = palette[i] | 0xFF000000u;

  const int width = image.width();
  const int height = image.height();
  std::shared_ptr<uint8_t[]> pixels = AllocateArray<uint8_t>(size_t(width) * size_t(height) * 4);
  if (!pixels) return {DecodeError::OutOfMemory};
  for (int y = 0; y < height; ++y) {
    const uchar* indices = image.constScanLine(y);
    uint8_t* out = pixels.get() + size_t(y) * size_t(width) * 4;
    for (int x = 0; x < width; ++x) std::memcpy(out + size_t(x) * 4, &lookup[indices[x]], 4);
  }
  return {DecodeError::None, depth, std::move(pixels)};
}

// Brings a decoded QImage into the pixel format and decides its depth.
Converted Convert(QImage&& image, const HeaderFacts& facts) {
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
    if (image.format() != target || image.isNull()) return {DecodeError::OutOfMemory};
  }
  if (image.bytesPerLine() != qsizetype(image.width()) * 4) return {DecodeError::Corrupt};
  return {DecodeError::None, depth, AdoptImage(std::move(image)),
          target == QImage::Format_RGB32 || depth == 32};
}

class QtReader final : public ImageReader {
 public:
  QtReader() = default;
  DecodeError Open(const uint8_t* data, size_t size);
  DecodeError Start(int denominator, bool) override {
    if (denominator != 1) return DecodeError::BadSize;
    width_ = info_.width;
    height_ = info_.height;
    return DecodeError::None;
  }
  DecodeError ReadRows(uint8_t* const* rows, int count) override {
    if (count > height_ - next_) return DecodeError::Corrupt;
    const size_t rowBytes = size_t(width_) * 4;
    for (int i = 0; i < count; ++i, ++next_)
      std::memcpy(rows[i], pixels_.get() + size_t(next_) * rowBytes, rowBytes);
    return DecodeError::None;
  }
  DecodeError Finish() override { return DecodeError::None; }
  std::shared_ptr<uint8_t[]> wholePicture() const override { return pixels_; }

 private:
  std::shared_ptr<uint8_t[]> pixels_;
  int next_ = 0;
};

DecodeError QtReader::Open(const uint8_t* data, size_t size) {
  const QByteArray bytes =
      QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
  QBuffer buffer;
  buffer.setData(bytes);
  if (!buffer.open(QIODevice::ReadOnly)) return DecodeError::OutOfMemory;
  const HeaderFacts facts = InspectHeader(data, size);

  QImageReader reader(&buffer);
  reader.setDecideFormatFromContent(true);
  reader.setAutoTransform(false);
  if (!reader.canRead()) return DecodeError::NotAnImage;

  // The header's size, before the reader allocates anything.
  const QSize announced = reader.size();
  if (announced.isValid()) {
    const DecodeError cost =
        CheckDecodeCost(announced.width(), announced.height(), BytesPerPixel(reader.imageFormat()));
    if (cost != DecodeError::None) return cost;
  }
  info_.orientation = FromTransformation(reader.transformation());

  if ((facts.gif && !GifComplete(data, size)) || (facts.bmp && !BmpComplete(data, size)))
    return DecodeError::Corrupt;
  QImage image;
  if (!reader.read(&image) || image.isNull()) return DecodeError::Corrupt;
  const DecodeError cost = CheckDecodeCost(image.width(), image.height(), BytesPerPixel(image.format()));
  if (cost != DecodeError::None) return cost;

  info_.width = image.width();
  info_.height = image.height();
  const QByteArray icc = image.colorSpace().iccProfile();
  if (!icc.isEmpty())
    info_.iccProfile = std::make_shared<std::vector<uint8_t>>(icc.begin(), icc.end());
  Converted converted = Convert(std::move(image), facts);
  if (converted.error != DecodeError::None) return converted.error;
  info_.bitsPerPixel = converted.depth;
  info_.opaqueRows = converted.opaqueRows;
  pixels_ = std::move(converted.pixels);
  return DecodeError::None;
}

}  // namespace

DecodeError OpenQtImage(const uint8_t* data, size_t size, std::unique_ptr<ImageReader>* reader) {
  try {
    auto qt = std::make_unique<QtReader>();
    const DecodeError error = qt->Open(data, size);
    if (error != DecodeError::None) return error;
    *reader = std::move(qt);
    return DecodeError::None;
  } catch (const std::bad_alloc&) {
    return DecodeError::OutOfMemory;
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
    auto bitmap = std::make_shared<SourceBitmap>();
    bitmap->width = image.width();
    bitmap->height = image.height();
    bitmap->bitsPerPixel = 32;
    bitmap->pixels = AdoptImage(std::move(image));
    return {DecodeError::None, std::move(bitmap)};
  } catch (const std::bad_alloc&) {
    return {DecodeError::OutOfMemory, nullptr};
  }
}

}  // namespace plombix
