// Every format the Open dialog offers, cut short: refused until its pixel
// data is whole, shown from there on; and pictures that would take more
// than the decode budget, refused before they take it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QByteArray>
#include <QImage>
#include <array>
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
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
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
  return Cat({{'B', 'M'},
              Le(offset + uint32_t(rows.size()), 4),
              Le(0, 4),
              Le(offset, 4),
              Le(40, 4),
              Le(24, 4),
              Le(16, 4),
              Le(1, 2),
              Le(8, 2),
              Le(1, 4),
              Le(uint32_t(rows.size()), 4),
              Le(0, 16),
              palette,
              rows});
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

TEST_F(DecodeFormats, BombsStayWithinTheBudgetPlusOneFrame) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's shadow memory and quarantine are not the decode's";
#endif
  // A TIFF of 10000 x 10000 RGBA whose 625 strips of 16 rows all share one
  // deflated strip of zeros: 400 MB of pixels, twice that while Qt's
  // premultiplied pixels are converted. Layout: header, strip offsets,
  // strip sizes, bits a sample, directory, the strip.
  const QByteArray deflated = qCompress(QByteArray(10000 * 16 * 4, 0)).mid(4);  // without Qt's length
  const uint32_t strips = 625, counts = 8 + 4 * strips, bits = counts + 4 * strips, ifd = bits + 8;
  std::vector<uint8_t> tiff = Cat({{'I', 'I', 42, 0}, Le(ifd, 4)});
  for (uint32_t i = 0; i < 2 * strips; ++i)
    tiff = Cat({tiff, Le(i < strips ? ifd + 138 : uint32_t(deflated.size()), 4)});
  tiff = Cat({tiff, Le(0x00080008, 4), Le(0x00080008, 4), Le(11, 2)});
  for (const auto& [tag, type, count, value] : std::vector<std::array<uint32_t, 4>>{{256, 4, 1, 10000},
                                                                                    {257, 4, 1, 10000},
                                                                                    {258, 3, 4, bits},
                                                                                    {259, 3, 1, 8},
                                                                                    {262, 3, 1, 2},
                                                                                    {273, 4, strips, 8},
                                                                                    {277, 3, 1, 4},
                                                                                    {278, 4, 1, 16},
                                                                                    {279, 4, strips, counts},
                                                                                    {284, 3, 1, 1},
                                                                                    {338, 3, 1, 2}})
    tiff = Cat({tiff, Le(tag, 2), Le(type, 2), Le(count, 4), Le(value, 4)});
  tiff = Cat({tiff, Le(0, 4), std::vector<uint8_t>(deflated.begin(), deflated.end())});
  const std::string bigBmp = dir.file("big.bmp");  // 10000 x 10000 x 24 bits, in a 500 MB file
  ASSERT_TRUE(testing::WriteBytes(bigBmp, Cat({{'B', 'M'},
                                               Le(500000000, 4),
                                               Le(0, 4),
                                               Le(54, 4),
                                               Le(40, 4),
                                               Le(10000, 4),
                                               Le(10000, 4),
                                               Le(1, 2),
                                               Le(24, 2),
                                               Le(0, 24)})));
  ASSERT_EQ(::truncate(bigBmp.c_str(), 500000000), 0);
  const std::string xbm =
      "#define b_width 16384\n#define b_height 7000\nstatic char b_bits[] = {\n0x00, };\n";
  const struct {
    const char* name;
    std::string path;
    DecodeError error;
  } rows[] = {
      // Screen 11000 x 11000, one pixel of image: Qt's reader keeps two
      // canvases of 484 MB.
      {"gif in 35 bytes", dir.file("a.gif"), DecodeError::TooLarge},
      {"xbm in 79 bytes", dir.file("b.xbm"), DecodeError::Corrupt},
      {"tiff in 4 kB", dir.file("c.tif"), DecodeError::TooLarge},
      {"webp 16383 x 8000 in 5 kB", PLOMBIX_TEST_DATA_DIR "/solid-16383x8000.webp", DecodeError::TooLarge},
      {"500 MB bmp", bigBmp, DecodeError::TooLarge},
  };
  ASSERT_TRUE(testing::WriteBytes(rows[0].path, Cat({{'G', 'I', 'F', '8', '9', 'a'},
                                                     Le(11000, 2),
                                                     Le(11000, 2),
                                                     {0x80, 0, 0, 0, 0, 0, 255, 255, 255, 0x2C},
                                                     Le(0, 4),
                                                     Le(1, 2),
                                                     Le(1, 2),
                                                     {0, 2, 2, 0x44, 0x01, 0, 0x3B}})));
  ASSERT_TRUE(testing::WriteBytes(rows[1].path, std::vector<uint8_t>(xbm.begin(), xbm.end())));
  ASSERT_TRUE(testing::WriteBytes(rows[2].path, tiff));
  const int64_t frameBytes = 1920 * 1080 * 4;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    PrepareRequest request;
    request.path = row.path;
    request.outputWidth = 1920;
    request.outputHeight = 1080;
    DecodeError error = DecodeError::None;
    const int64_t peak = PeakDuring([&] { error = PreparePicture(request).error; });
    if (peak < 0) GTEST_SKIP() << "no resettable peak memory here";
    EXPECT_EQ(error, row.error);
    EXPECT_LE(peak, kDecodeBudgetBytes + frameBytes);
    EXPECT_LE(PeakDuring([&] { (void)DecodeImageFile(row.path); }), kDecodeBudgetBytes + frameBytes);
  }
}

}  // namespace
}  // namespace plombix
