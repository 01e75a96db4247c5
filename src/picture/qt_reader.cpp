// Qt's image readers (and the format plug-ins installed with Qt): picture
// files in every format but JPEG and PNG, decoded whole from memory, and
// the built-in bitmaps. The only place of the picture layer that uses Qt.
//
// Which reader: the one a signature in the first bytes names; failing
// that, the one the file name's suffix names (TGA and WBMP have no
// signature, and guessing from their headers takes them for other
// formats); failing that, whichever of Qt's readers claims the content.
//
// Completeness: Qt's BMP, GIF and XBM readers deliver a file cut short
// without an error, so their pixel data is counted first
// (picture_checks.h); the other readers fail on a cut file by themselves.
//
// Limits: the size a reader announces is checked against the decode budget
// before it decodes, counting the file's bytes, everything the reader
// holds while it decodes and the 32-bit copy the picture is converted to
// (DecodeBytes); the reader is gone before the conversion. Qt's own
// allocation limit is set to the budget as well, and a reader that
// announces nothing has its result checked before the conversion.
//
// Orientation: the reader's transformation (TIFF orientation) is taken as
// the picture's orientation and applied by the caller, like a JPEG's.
#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QString>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "decode_budget.h"
#include "decoder.h"
#include "image_reader.h"
#include "picture_checks.h"
#include "pixel_alloc.h"

namespace plombix {
namespace {

using namespace std::string_view_literals;

// Qt counts its allocation limit in mebibytes. It is one process-wide
// value: set while the program starts, before any thread can be reading
// images, so that no reader on any thread races with the setting.
constexpr int kReaderAllocationLimitMb = int(kDecodeBudgetBytes >> 20);
const bool allocationLimitSet = [] {
  QImageReader::setAllocationLimit(kReaderAllocationLimitMb);
  return true;
}();

// What the first bytes of a file tell: whether they name the format at
// all (else the file name's suffix does, as for Qt's own file reader), and
// the stored depth, for the containers where Qt's decoded format hides it.
struct HeaderFacts {
  bool identified = false;  // a signature names the format
  bool gif = false;         // a palette image, whatever Qt decodes it to
  bool gifTransparent = false;
  int64_t gifWidth = 0;     // the canvas Qt's GIF reader allocates
  int64_t gifHeight = 0;
  bool bmp = false;
  int bmpBitCount = 0;      // stored bits a pixel of a BMP, 0 when not known
  bool xbm = false;
  bool tiff = false;
  bool webp = false;
};

uint32_t ReadLe(const uint8_t* bytes, size_t offset, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | bytes[offset + size_t(i)];
  return value;
}

bool StartsWith(const uint8_t* data, size_t size, std::string_view text, size_t at = 0) {
  return size >= at + text.size() && std::memcmp(data + at, text.data(), text.size()) == 0;
}

HeaderFacts InspectHeader(const uint8_t* head, size_t size) {
  HeaderFacts facts;
  facts.gif = StartsWith(head, size, "GIF87a") || StartsWith(head, size, "GIF89a");
  facts.gifTransparent = facts.gif && GifHasTransparentIndex(head, size);
  if (facts.gif) GifCanvasSize(head, size, &facts.gifWidth, &facts.gifHeight);
  facts.bmp = StartsWith(head, size, "BM");
  if (size >= 30 && facts.bmp) {
    const uint32_t infoSize = ReadLe(head, 14, 4);
    if (infoSize == 12) facts.bmpBitCount = int(ReadLe(head, 24, 2));  // OS/2 core header
    else if (infoSize >= 40) facts.bmpBitCount = int(ReadLe(head, 28, 2));
  }
  facts.tiff = StartsWith(head, size, "II*") || StartsWith(head, size, "MM\0*"sv);
  facts.webp = StartsWith(head, size, "RIFF") && StartsWith(head, size, "WEBP", 8);
  const std::string_view text(reinterpret_cast<const char*>(head), std::min<size_t>(size, 512));
  facts.xbm = text.find("#define") != std::string_view::npos && text.find("_width") != std::string_view::npos;
  // ICO and CUR: reserved 0, type 1 or 2, at least one image.
  const bool icon = size >= 6 && ReadLe(head, 0, 2) == 0 &&
                    (ReadLe(head, 2, 2) == 1 || ReadLe(head, 2, 2) == 2) && ReadLe(head, 4, 2) > 0;
  const bool pnm = size >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6' && std::isspace(head[2]);
  facts.identified = facts.gif || facts.bmp || facts.tiff || facts.webp || facts.xbm || icon || pnm ||
                     StartsWith(head, size, "icns") || StartsWith(head, size, "\x8aMNG"sv) ||
                     text.find("/* XPM */") != std::string_view::npos;
  return facts;
}

// The format Qt reads files named with `fileName`'s suffix by, or empty.
QByteArray SuffixFormat(std::string_view fileName) {
  const size_t slash = fileName.rfind('/');
  const size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  const QByteArray suffix =
      QByteArray(fileName.data() + dot + 1, qsizetype(fileName.size() - dot - 1)).toLower();
  return QImageReader::supportedImageFormats().contains(suffix) ? suffix : QByteArray();
}

// The most memory a decode of a `fileBytes` file takes, from the size and
// the format the reader will decode to (Invalid when it does not say): the
// file (twice for WebP: Qt's reader copies it), the reader's own image (two
// for a GIF: Qt keeps the canvas beside the frame; a quarter more for TIFF
// strips and WebP's planes), then, while it is still held, the 32-bit
// pixels it is converted to.
int64_t DecodeBytes(int64_t width, int64_t height, QImage::Format format, const HeaderFacts& facts,
                    size_t fileBytes) {
  const int64_t pixels = width * height;
  if (format == QImage::Format_Invalid && facts.webp)
    format = QImage::Format_ARGB32;  // Qt's WebP reader says nothing
  const int bits = format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
  const int64_t image = (width * bits + 31) / 32 * 4 * height;
  int64_t reading = facts.gif ? 2 * image : image;
  if (facts.tiff || facts.webp) reading += image / 4;
  const bool keptAsIs = format == QImage::Format_RGB32 || format == QImage::Format_ARGB32;
  return int64_t(fileBytes) * (facts.webp ? 2 : 1) + std::max(reading, keptAsIs ? image : image + pixels * 4);
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

// Expands a palette image (Mono, MonoLSB or Indexed8) straight to 32-bit
// pixels. A palette with an entry less than opaque (an XPM's "None", an
// icon's mask) gives a picture with alpha (depth 32); otherwise the
// entries count as opaque and the picture keeps `depth`. An index beyond
// the palette (a damaged file) gives black.
Converted ExpandPalette(const QImage& image, int depth) {
  const QList<QRgb> palette = image.colorTable();
  if (palette.isEmpty() || palette.size() > 256) return {DecodeError::BadPalette};
  bool transparent = false;
  for (QRgb entry : palette) transparent = transparent || qAlpha(entry) != 255;
  uint32_t lookup[256] = {};
  for (qsizetype i = 0; i < palette.size(); ++i)
    lookup[i] = transparent ? palette[i] : palette[i] | 0xFF000000u;

  const int width = image.width();
  const int height = image.height();
  std::shared_ptr<uint8_t[]> pixels = AllocateArray<uint8_t>(size_t(width) * size_t(height) * 4);
  if (!pixels) return {DecodeError::OutOfMemory};
  const QImage::Format format = image.format();
  for (int y = 0; y < height; ++y) {
    const uchar* in = image.constScanLine(y);
    uint8_t* out = pixels.get() + size_t(y) * size_t(width) * 4;
    for (int x = 0; x < width; ++x) {
      const int index = format == QImage::Format_Indexed8 ? in[x]
                        : format == QImage::Format_Mono    ? (in[x >> 3] >> (7 - (x & 7))) & 1
                                                           : (in[x >> 3] >> (x & 7)) & 1;
      std::memcpy(out + size_t(x) * 4, &lookup[index], 4);
    }
  }
  return {DecodeError::None, transparent ? 32 : depth, std::move(pixels)};
}

// Brings a decoded QImage into the pixel format and decides its depth.
Converted Convert(QImage&& image, const HeaderFacts& facts) {
  const QImage::Format format = image.format();
  if (format == QImage::Format_Mono || format == QImage::Format_MonoLSB) return ExpandPalette(image, 1);
  if (format == QImage::Format_Indexed8) return ExpandPalette(image, 8);

  int depth = 32;
  QImage::Format target = QImage::Format_RGB32;
  if (facts.gif) {
    // Qt expands GIF frames itself: a GIF that names a transparent index
    // has alpha, any other is an opaque palette image.
    depth = facts.gifTransparent ? 32 : 8;
    if (facts.gifTransparent) target = QImage::Format_ARGB32;
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
  DecodeError Open(const uint8_t* data, size_t size, std::string_view fileName);
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
  // Decodes into `image`; the reader and its buffers are gone on return.
  DecodeError Read(const uint8_t* data, size_t size, std::string_view fileName, const HeaderFacts& facts,
                   QImage* image);

  std::shared_ptr<uint8_t[]> pixels_;
  int next_ = 0;
};

DecodeError QtReader::Read(const uint8_t* data, size_t size, std::string_view fileName,
                           const HeaderFacts& facts, QImage* image) {
  const QByteArray bytes =
      QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
  QBuffer buffer;
  buffer.setData(bytes);
  if (!buffer.open(QIODevice::ReadOnly)) return DecodeError::OutOfMemory;
  // What the bytes alone can tell comes first: Qt's GIF reader decodes a
  // frame on its canvas to answer even the size.
  if (facts.gif) {
    const DecodeError cost =
        CheckDecodeCost(std::max<int64_t>(facts.gifWidth, 1), std::max<int64_t>(facts.gifHeight, 1), 0,
                        DecodeBytes(facts.gifWidth, facts.gifHeight, QImage::Format_ARGB32, facts, size));
    if (cost != DecodeError::None) return cost;
  }
  if ((facts.gif && !GifDataComplete(data, size)) || (facts.bmp && !BmpDataComplete(data, size)) ||
      (facts.xbm && !XbmDataComplete(data, size)))
    return DecodeError::Corrupt;
  QImageReader reader(&buffer);
  const QByteArray suffixFormat = facts.identified ? QByteArray() : SuffixFormat(fileName);
  if (!suffixFormat.isEmpty()) {
    reader.setFormat(suffixFormat);
    reader.setDecideFormatFromContent(false);
  } else {
    reader.setDecideFormatFromContent(true);
  }
  reader.setAutoTransform(false);
  if (!reader.canRead()) return DecodeError::NotAnImage;

  // The header's size, before the reader allocates anything.
  const QSize announced = reader.size();
  if (announced.isValid()) {
    const DecodeError cost = CheckDecodeCost(
        announced.width(), announced.height(), 0,
        DecodeBytes(announced.width(), announced.height(), reader.imageFormat(), facts, size));
    if (cost != DecodeError::None) return cost;
  }
  info_.orientation = FromTransformation(reader.transformation());
  if (!reader.read(image) || image->isNull()) return DecodeError::Corrupt;
  return DecodeError::None;
}

DecodeError QtReader::Open(const uint8_t* data, size_t size, std::string_view fileName) {
  const HeaderFacts facts = InspectHeader(data, size);
  QImage image;
  DecodeError error = Read(data, size, fileName, facts, &image);
  if (error != DecodeError::None) return error;
  // What a reader that announced nothing (or something else) really made.
  error = CheckDecodeCost(image.width(), image.height(), 0,
                          DecodeBytes(image.width(), image.height(), image.format(), facts, size));
  if (error != DecodeError::None) return error;

  info_.width = image.width();
  info_.height = image.height();
  Converted converted = Convert(std::move(image), facts);
  if (converted.error != DecodeError::None) return converted.error;
  info_.bitsPerPixel = converted.depth;
  info_.opaqueRows = converted.opaqueRows;
  pixels_ = std::move(converted.pixels);
  return DecodeError::None;
}

}  // namespace

DecodeError OpenQtImage(const uint8_t* data, size_t size, std::unique_ptr<ImageReader>* reader,
                        std::string_view fileName) {
  try {
    auto qt = std::make_unique<QtReader>();
    const DecodeError error = qt->Open(data, size, fileName);
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
