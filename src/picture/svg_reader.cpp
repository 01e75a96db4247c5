// SVG (and gzip-compressed SVGZ) through Qt SVG: a drawing, drawn at the
// size the picture is shown at, never drawn small and enlarged.
//
// Its size, for the scaling rules and the labels, is the one it declares
// (width and height, else its viewBox). StartAtSize draws it stretched to
// any target size and keeps only the window the frame shows; Start draws it
// at its declared size. Straight alpha; transparent where nothing is drawn.
// An animated drawing is drawn as it is at its start.
//
// Only what the file holds is drawn: images it names by path or URL are
// left out. Limits: the text (after decompression) at most kSvgTextBytes; the
// document Qt builds from it is counted at kDocumentBytesPerTextByte times
// the text against the decode budget, beside the drawing's pixels. A file
// that is not well-formed XML to its end (cut short) is DecodeError::Corrupt.
#include <zlib.h>

#include <QByteArray>
#include <QImage>
#include <QPainter>
#include <QRectF>
#include <QSvgRenderer>
#include <QXmlStreamReader>
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "decode_budget.h"
#include "image_reader.h"

namespace plombix {
namespace {

constexpr size_t kSvgTextBytes = size_t(64) << 20;
constexpr int64_t kDocumentBytesPerTextByte = 16;
constexpr size_t kSniffBytes = 4096;

bool IsGzip(const uint8_t* data, size_t size) {
  return size >= 3 && data[0] == 0x1F && data[1] == 0x8B && data[2] == 8;
}

// An XML document whose first element is <svg>: "<svg" within the first
// few kilobytes, after nothing but a byte-order mark, white space, an XML
// declaration, comments and a DOCTYPE (which the search skips over).
bool LooksLikeSvg(const uint8_t* data, size_t size) {
  size_t at = 0;
  if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) at = 3;
  while (at < size && std::strchr(" \t\r\n", data[at]) && data[at]) ++at;
  if (at >= size || data[at] != '<') return false;
  const size_t end = std::min(size, kSniffBytes);
  for (size_t i = at; i + 4 <= end; ++i)
    if (std::memcmp(data + i, "<svg", 4) == 0) return true;
  return false;
}

// Inflates a gzip stream holding SVG: NotAnImage as soon as its first
// kilobytes are not SVG, TooLarge beyond kSvgTextBytes, Corrupt when it is
// damaged or cut short.
DecodeError Gunzip(const uint8_t* data, size_t size, QByteArray* out) {
  z_stream stream{};
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return DecodeError::OutOfMemory;
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = uInt(std::min<size_t>(size, UINT32_MAX));
  DecodeError result = DecodeError::Corrupt;
  bool sniffed = false;
  char chunk[1 << 16];
  for (;;) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk);
    stream.avail_out = sizeof chunk;
    const int status = inflate(&stream, Z_NO_FLUSH);
    const size_t got = sizeof chunk - stream.avail_out;
    if (size_t(out->size()) + got > kSvgTextBytes) {
      result = DecodeError::TooLarge;
      break;
    }
    out->append(chunk, qsizetype(got));
    if (!sniffed && (size_t(out->size()) >= kSniffBytes || status == Z_STREAM_END)) {
      sniffed = true;
      if (!LooksLikeSvg(reinterpret_cast<const uint8_t*>(out->constData()), size_t(out->size()))) {
        result = DecodeError::NotAnImage;
        break;
      }
    }
    if (status == Z_STREAM_END) {
      result = DecodeError::None;
      break;
    }
    if (status != Z_OK && !(status == Z_BUF_ERROR && got > 0)) break;  // damaged or cut short
  }
  inflateEnd(&stream);
  return result;
}

// Whether the text is well-formed XML to its end (as Qt SVG also demands,
// so a document cut short is refused), with its external images blanked:
// Qt SVG would draw an <image> from any file its href names, reaching into
// the file system and waiting on a pipe for ever. A picture drawn for
// broadcast keeps to itself, as browsers keep an SVG shown as an image:
// only images embedded as data: URLs are drawn. An external reference
// written so that it cannot be blanked (with character references) refuses
// the file.
bool WellFormedAndSelfContained(QByteArray* text) {
  for (int pass = 0; pass < 2; ++pass) {
    QXmlStreamReader xml(*text);
    QList<QByteArray> external;
    while (!xml.atEnd()) {
      if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != u"image") continue;
      for (const QXmlStreamAttribute& attribute : xml.attributes())
        if (attribute.name() == u"href" && !attribute.value().trimmed().isEmpty() &&
            !attribute.value().trimmed().startsWith(u"data:"))
          external << attribute.value().toUtf8();
    }
    if (xml.hasError()) return false;
    if (external.isEmpty()) return true;
    if (pass == 1) return false;
    for (const QByteArray& reference : external)
      for (const char quote : {'"', '\''})
        text->replace(quote + reference + quote, QByteArray(2, quote));
  }
  return false;
}

class SvgReader final : public ImageReader {
 public:
  SvgReader() = default;
  DecodeError Open(const uint8_t* data, size_t size);
  DecodeError Start(int denominator, bool) override {
    if (denominator != 1) return DecodeError::BadSize;
    return StartAtSize(info_.width, info_.height, TargetWindow{0, 0, info_.width, info_.height});
  }
  DecodeError StartAtSize(int targetWidth, int targetHeight, const TargetWindow& window) override;
  DecodeError ReadRows(uint8_t* const* rows, int count) override;
  // The drawing is whole once drawn (the text was checked at Open).
  DecodeError Finish() override { return pixels_ ? DecodeError::None : DecodeError::Corrupt; }
  std::shared_ptr<uint8_t[]> wholePicture() const override { return pixels_; }

 private:
  QByteArray text_;
  std::shared_ptr<uint8_t[]> pixels_;
  int next_ = 0;
};

DecodeError SvgReader::Open(const uint8_t* data, size_t size) {
  if (IsGzip(data, size)) {
    const DecodeError error = Gunzip(data, size, &text_);
    if (error != DecodeError::None) return error;
  } else {
    if (size > kSvgTextBytes) return DecodeError::TooLarge;
    text_ = QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
  }
  if (!WellFormedAndSelfContained(&text_)) return DecodeError::Corrupt;
  QSvgRenderer renderer;
  renderer.setFramesPerSecond(0);  // no animation timer: the start is drawn
  if (!renderer.load(text_)) return DecodeError::Corrupt;
  const QSize declared = renderer.defaultSize();
  if (declared.width() <= 0 || declared.height() <= 0 || declared.width() > kMaxDecodeSide ||
      declared.height() > kMaxDecodeSide)
    return DecodeError::BadSize;
  info_.width = declared.width();
  info_.height = declared.height();
  info_.bitsPerPixel = 32;
  info_.anySize = true;
  info_.fixedBytes = int64_t(text_.size()) * (1 + kDocumentBytesPerTextByte);
  return DecodeError::None;
}

DecodeError SvgReader::StartAtSize(int targetWidth, int targetHeight, const TargetWindow& window) {
  if (pixels_ || targetWidth <= 0 || targetHeight <= 0 || window.width <= 0 || window.height <= 0 ||
      window.x < 0 || window.y < 0 || window.x + window.width > targetWidth ||
      window.y + window.height > targetHeight)
    return DecodeError::BadSize;
  QSvgRenderer renderer;
  renderer.setFramesPerSecond(0);
  if (!renderer.load(text_)) return DecodeError::Corrupt;
  renderer.setAspectRatioMode(Qt::IgnoreAspectRatio);
  renderer.setCurrentFrame(0);

  auto image =
      std::make_shared<QImage>(window.width, window.height, QImage::Format_ARGB32_Premultiplied);
  if (image->isNull()) return DecodeError::OutOfMemory;
  image->fill(Qt::transparent);
  {
    QPainter painter(image.get());
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    painter.translate(-window.x, -window.y);
    renderer.render(&painter, QRectF(0, 0, targetWidth, targetHeight));
  }
  image->convertTo(QImage::Format_ARGB32);  // straight alpha, in place
  if (image->format() != QImage::Format_ARGB32 ||
      image->bytesPerLine() != qsizetype(window.width) * 4)
    return DecodeError::OutOfMemory;
  uint8_t* bits = image->bits();
  pixels_ = std::shared_ptr<uint8_t[]>(image, bits);
  width_ = window.width;
  height_ = window.height;
  return DecodeError::None;
}

DecodeError SvgReader::ReadRows(uint8_t* const* rows, int count) {
  if (!pixels_ || count > height_ - next_) return DecodeError::Corrupt;
  const size_t rowBytes = size_t(width_) * 4;
  for (int i = 0; i < count; ++i, ++next_)
    std::memcpy(rows[i], pixels_.get() + size_t(next_) * rowBytes, rowBytes);
  return DecodeError::None;
}

}  // namespace

DecodeError OpenSvgImage(const uint8_t* data, size_t size, std::unique_ptr<ImageReader>* reader) {
  if (!IsGzip(data, size) && !LooksLikeSvg(data, size)) return DecodeError::NotAnImage;
  try {
    auto svg = std::make_unique<SvgReader>();
    const DecodeError error = svg->Open(data, size);
    if (error != DecodeError::None) return error;
    *reader = std::move(svg);
    return DecodeError::None;
  } catch (const std::bad_alloc&) {
    return DecodeError::OutOfMemory;
  }
}

}  // namespace plombix
