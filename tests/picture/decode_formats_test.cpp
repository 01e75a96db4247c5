// Every format the Open dialog offers, cut short: refused until its pixel
// data is whole, shown from there on; and pictures that would take more
// than the decode budget, refused before they take it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QByteArray>
#include <QImage>
#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "decode_budget.h"
#include "decoder.h"
#include "picture_test_support.h"
#include "prepare.h"

namespace plombix {
namespace {

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}
std::vector<uint8_t> Le(uint32_t value, int bytes) {
  std::vector<uint8_t> out;
  for (int i = 0; i < bytes; ++i) out.push_back(i < 4 ? uint8_t(value >> (8 * i)) : 0);
  return out;
}

// A 24 x 16 RLE8 BMP: each row one run of 24 pixels and an end of row,
// then the end of the bitmap (two bytes).
std::vector<uint8_t> RleBmp() {
  std::vector<uint8_t> rows, palette;
  for (int y = 0; y < 16; ++y) rows.insert(rows.end(), {24, uint8_t(y), 0, 0});
  rows.insert(rows.end(), {0, 1});
  for (int i = 0; i < 256; ++i) palette.insert(palette.end(), {uint8_t(i), uint8_t(255 - i), 0, 0});
  const uint32_t offset = 14 + 40 + 1024;
  return Cat({{'B', 'M'}, Le(offset + uint32_t(rows.size()), 4), Le(0, 4), Le(offset, 4), Le(40, 4), Le(24, 4),
              Le(16, 4), Le(1, 2), Le(8, 2), Le(1, 4), Le(uint32_t(rows.size()), 4), Le(0, 16), palette, rows});
}

class DecodeFormats : public ::testing::Test {
 protected:
  std::vector<uint8_t> written(const QImage& image, const char* format) {
    EXPECT_TRUE(testing::WriteImage(image, dir.file("w"), format)) << format;
    return testing::ReadBytes(dir.file("w"));
  }
  testing::TempDir dir;
};

TEST_F(DecodeFormats, EachIsRefusedUntilItsPixelDataIsWholeAndShownFromThere) {
  const QImage image = testing::RandomImage(24, 16, QImage::Format_ARGB32, 21);
  const QImage opaque = image.convertToFormat(QImage::Format_RGB32);
  const QImage mono = opaque.convertToFormat(QImage::Format_Mono);
  const std::vector<uint8_t> xbm = written(mono, "xbm"), xpm = written(opaque, "xpm");
  const size_t xbmEnd =
      xbm.size() - std::string(xbm.begin(), xbm.end()).find_last_of("0123456789abcdefABCDEF") - 1;
  const size_t xpmEnd = xpm.size() - std::string(xpm.begin(), xpm.end()).rfind('"');
  const auto gif =
      testing::MakeGif(24, 16, {0xFF0000, 0x00FF00, 0x0000FF}, std::vector<uint8_t>(24 * 16, 1), 1);
  // `refusedUpTo`: every cut of at most so many bytes is refused; from
  // `shownFrom` bytes on, the picture is whole. What comes after the pixel
  // data: JPEG's end marker (2 bytes), PNG's IEND chunk (12), GIF's block
  // terminator and trailer (the last data byte holds only the end code),
  // an RLE BMP's end of bitmap (2), a TGA 2.0 footer (26), XBM's and XPM's
  // closing characters (after the last value or row string).
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* suffix;
    size_t refusedUpTo, shownFrom;  // counted back from the end of the file
  } rows[] = {
      {"jpeg", testing::MakeJpeg(opaque), "jpg", 3, 2},
      {"jpeg progressive", testing::MakeJpeg(opaque, {90, true}), "jpg", 3, 2},
      {"png", testing::MakePng(24, 16, {6, 8}, [](int y, uint8_t* row) { std::memset(row, y, 96); }), "png",
       13, 12},
      {"png interlaced",
       testing::MakePng(24, 16, {2, 8, true}, [](int y, uint8_t* row) { std::memset(row, y, 72); }), "png",
       13, 12},
      {"gif", gif, "gif", 4, 3},
      {"bmp", written(opaque, "bmp"), "bmp", 1, 0},
      {"bmp rle8", RleBmp(), "bmp", 3, 2},
      {"tiff", written(image, "tiff"), "tif", 1, 0},
      {"webp", written(image, "webp"), "webp", 1, 0},
      {"tga", testing::MakeTga(24, 16, 2, 24), "tga", 1, 0},
      {"tga rle", testing::MakeTga(24, 16, 10, 32), "tga", 1, 0},
      {"tga 2.0", testing::MakeTga(24, 16, 2, 32, true), "tga", 27, 26},
      {"xbm", xbm, "xbm", xbmEnd, xbmEnd - 1},
      {"xpm", xpm, "xpm", xpmEnd, xpmEnd - 1},
      {"pbm", written(mono, "pbm"), "pbm", 1, 0},
      {"pgm", written(opaque, "pgm"), "pgm", 1, 0},
      {"ppm", written(opaque, "ppm"), "ppm", 1, 0},
      {"wbmp", written(mono, "wbmp"), "wbmp", 1, 0},
      {"ico", written(image, "ico"), "ico", 1, 0},
      {"cur", written(image, "cur"), "cur", 1, 0},
      {"icns", written(image, "icns"), "icns", 1, 0},
  };
  const QtMessageHandler previous =
      qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = dir.file(std::string("cut.") + row.suffix);
    const auto decode = [&](size_t length) {
      EXPECT_TRUE(testing::WriteBytes(
          path, std::vector<uint8_t>(row.bytes.begin(), row.bytes.begin() + long(length))));
      return DecodeImageFile(path).error;
    };
    const size_t size = row.bytes.size();
    const size_t limit = size - row.refusedUpTo, step = std::max<size_t>(1, size / 200);
    for (size_t length = 1; length <= limit; length += length + 16 < limit ? step : 1) {
      ASSERT_NE(decode(length), DecodeError::None) << "cut at " << length << " of " << size;
      ASSERT_NE(ProbeImageFile(path), DecodeError::None) << "cut at " << length;
    }
    for (size_t length = size - row.shownFrom; length <= size; ++length)
      EXPECT_EQ(decode(length), DecodeError::None) << "cut at " << length << " of " << size;
  }
  qInstallMessageHandler(previous);
}

// The peak resident memory while `work` runs, above what was resident
// before. The kernel's high-water mark is reset first (clear_refs "5",
// Linux 4.0 and later), so each case is measured on its own in this
// process, whatever earlier tests took; -1 when the mark cannot be reset.
int64_t PeakDuring(const std::function<void()>& work) {
  const auto status = [](const char* key) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
      if (line.rfind(key, 0) == 0) return int64_t(std::stoll(line.substr(6))) * 1024;
    return int64_t(-1);
  };
  if (!(std::ofstream("/proc/self/clear_refs") << "5").flush()) return -1;
  const int64_t before = status("VmRSS:");
  work();
  return status("VmHWM:") - before;
}

TEST_F(DecodeFormats, BombsAreRefusedWithinTheBudgetPlusOneFrame) {
  // Headers announcing sizes on both sides of the budget (2^29 bytes: 2^27
  // pixels at 4 bytes, 2^26 at 8, counting the file's own bytes) and of
  // the side cap (65535); a header within the budget gets as far as its
  // missing image data (Corrupt). Whatever the answer, the decode's peak
  // memory stays within the budget and one output frame.
  const std::vector<uint8_t> idat = {0, 0, 0, 4, 'I', 'D', 'A', 'T', 1, 2, 3, 4, 0, 0, 0, 0};
  const auto png = [&](uint32_t w, uint32_t h, uint8_t bits) { return testing::MakePngHeader(w, h, idat, bits); };
  const auto jpeg = [](uint16_t w, uint16_t h) {
    return testing::WithJpegSize(testing::MakeJpeg(QImage(16, 16, QImage::Format_RGB32)), w, h);
  };
  const auto text = [](const std::string& t) { return std::vector<uint8_t>(t.begin(), t.end()); };
  const auto gif = [](uint16_t screen, uint16_t image, uint8_t firstCode) {
    return Cat({{'G', 'I', 'F', '8', '9', 'a'}, Le(screen, 2), Le(screen, 2), {0x80, 0, 0, 0, 0, 0, 9, 9, 9, 0x2C},
                Le(0, 4), Le(image, 2), Le(image, 2), {0, 2, 2, firstCode, 0x01, 0, 0x3B}});
  };
  // A TIFF of 10000 x 10000 RGBA whose 625 strips of 16 rows share one
  // deflated strip of zeros: 400 MB of pixels, twice that while Qt's
  // premultiplied pixels are converted. Header, strip offsets and sizes,
  // bits a sample, directory (138 bytes), the strip.
  const QByteArray deflated = qCompress(QByteArray(10000 * 16 * 4, 0)).mid(4);  // no length prefix
  const uint32_t strips = 625, counts = 8 + 4 * strips, bits = counts + 4 * strips, ifd = bits + 8;
  std::vector<uint8_t> tiff = Cat({{'I', 'I', 42, 0}, Le(ifd, 4)});
  for (uint32_t i = 0; i < 2 * strips; ++i) tiff = Cat({tiff, Le(i < strips ? ifd + 138 : deflated.size(), 4)});
  tiff = Cat({tiff, Le(0x00080008, 4), Le(0x00080008, 4), Le(11, 2)});
  for (const auto& [tag, type, count, value] : std::vector<std::array<uint32_t, 4>>{
           {256, 4, 1, 10000}, {257, 4, 1, 10000}, {258, 3, 4, bits}, {259, 3, 1, 8}, {262, 3, 1, 2},
           {273, 4, strips, 8}, {277, 3, 1, 4}, {278, 4, 1, 16}, {279, 4, strips, counts}, {284, 3, 1, 1},
           {338, 3, 1, 2}})
    tiff = Cat({tiff, Le(tag, 2), Le(type, 2), Le(count, 4), Le(value, 4)});
  tiff = Cat({tiff, Le(0, 4), std::vector<uint8_t>(deflated.begin(), deflated.end())});
  // fileBytes: the file is made this long (with zeros).
  const struct { const char* name; std::vector<uint8_t> bytes; DecodeError error; off_t fileBytes = 0; } rows[] = {
      {"png 8-bit 16384 x 8191", png(16384, 8191, 8), DecodeError::Corrupt},
      {"png 8-bit 16384 x 8192: the budget, and the file", png(16384, 8192, 8), DecodeError::TooLarge},
      {"png 16-bit 8192 x 8191", png(8192, 8191, 16), DecodeError::Corrupt},
      {"png 16-bit 8192 x 8192", png(8192, 8192, 16), DecodeError::TooLarge},
      {"png 65536 x 1: over the side cap", png(65536, 1, 8), DecodeError::BadSize},
      {"png 30000 x 3000 panorama", png(30000, 3000, 8), DecodeError::Corrupt},
      {"jpeg 16384 x 16384", jpeg(16384, 16384), DecodeError::TooLarge},
      {"jpeg 16384 x 8191", jpeg(16384, 8191), DecodeError::Corrupt},
      // Qt's reader keeps two canvases: 2 x 484 MB.
      {"gif of 11000 x 11000 with one pixel, 35 bytes", gif(11000, 1, 0x44), DecodeError::TooLarge},
      {"gif of 65535 x 65535, 35 bytes", gif(65535, 65535, 0x4C), DecodeError::TooLarge},
      {"gif of 8000 x 8000 that holds one pixel", gif(8000, 8000, 0x44), DecodeError::Corrupt},
      {"xbm of 16384 x 7000 in 79 bytes",
       text("#define b_width 16384\n#define b_height 7000\nstatic char b_bits[] = {\n0x00, };\n"),
       DecodeError::Corrupt},
      {"bmp of 20000 x 20000 that holds one pixel", testing::MakeBmp(1, 1, 24, {0}, 20000, 20000),
       DecodeError::Corrupt},
      {"tiff in 4 kB", tiff, DecodeError::TooLarge},
      {"webp of 16383 x 8000 in 5 kB",
       testing::ReadBytes(PLOMBIX_TEST_DATA_DIR "/solid-16383x8000.webp"), DecodeError::TooLarge},
      // 10000 x 10000 x 24 bits, whole, in a 500 MB file: the file and the
      // pixels together are over.
      {"bmp in a 500 MB file", testing::MakeBmp(1, 1, 24, {0}, 10000, 10000), DecodeError::TooLarge, 500000000},
  };
#if defined(__SANITIZE_ADDRESS__)  // its shadow memory and quarantine are not the decode's
  const int64_t limit = INT64_MAX;
#else
  const int64_t limit = kDecodeBudgetBytes + 1920 * 1080 * 4;  // one output frame
#endif
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = dir.file("bomb");
    ASSERT_TRUE(testing::WriteBytes(path, row.bytes));
    if (row.fileBytes) {
      ASSERT_EQ(::truncate(path.c_str(), row.fileBytes), 0);
    }
    DecodeError error = DecodeError::None;
    PrepareRequest request;
    request.path = path;
    request.outputWidth = 1920;
    request.outputHeight = 1080;
    const int64_t decodePeak = PeakDuring([&] { error = DecodeImageFile(path).error; });
    const int64_t preparePeak = PeakDuring([&] { (void)PreparePicture(request); });
    EXPECT_EQ(error, row.error);
    EXPECT_NE(ProbeImageFile(path), DecodeError::None);
    EXPECT_LE(std::max(decodePeak, preparePeak), limit);
  }
  EXPECT_EQ(CheckDecodeCost(11648, 8736, 4), DecodeError::None);  // a 100-megapixel camera
}

}  // namespace
}  // namespace plombix
