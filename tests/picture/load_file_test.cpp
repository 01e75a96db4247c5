// Decoding whole files: PictureBuffer::LoadFile and the decoder behind it
// (DecodeImageFile, ProbeImageFile): names, depths,
// pixels, orientation, the decode budget, damaged and changing files, and
// what survives each kind of failure.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageReader>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <tuple>

#include "decode_budget.h"
#include "decoder.h"
#include "file_bytes.h"
#include "picture_buffer.h"
#include "picture_test_support.h"
#include "pixel_alloc.h"
#include "prepare.h"

namespace plombix {
namespace {

using testing::MakeBmp;
using testing::MakeJpeg;
using testing::MakePng;
using testing::MakePngHeader;
using testing::PixelAt;
using testing::RandomImage;
using testing::Sizes;
using Colour = testing::JpegOptions::Colour;

bool EveryFourthByteIs(const PictureBuffer& p, uint8_t value) {
  for (int i = 3; i < p.byteCount; i += 4)
    if (p.pixelData[size_t(i)] != value) return false;
  return true;
}

// A flat-coloured image (survives JPEG without ringing).
QImage Flat(int w, int h, QRgb colour, QImage::Format format = QImage::Format_RGB32) {
  QImage image(w, h, format);
  image.fill(colour);
  return image;
}

// Four flat quarters (red, green, blue, white from the top left,
// clockwise): any turn or mirror moves them.
QImage Quarters(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      image.setPixel(x, y, y < h / 2 ? (x < w / 2 ? 0xFFFF0000 : 0xFF00FF00)
                                     : (x < w / 2 ? 0xFFFFFFFF : 0xFF0000FF));
  return image;
}

int Distance(uint32_t a, uint32_t b) {
  int worst = 0;
  for (int s = 0; s < 24; s += 8)
    worst = std::max(worst, std::abs(int((a >> s) & 255) - int((b >> s) & 255)));
  return worst;
}

// A 6 x 4 palette image: entry 0 opaque 0x204060 everywhere but (1, 1),
// which takes entry 1, a half-transparent red.
QImage Palette6x4() {
  QImage image(6, 4, QImage::Format_Indexed8);
  image.setColorTable({0xFF204060, 0x80FF0000});
  image.fill(0);
  image.setPixel(1, 1, 1);
  return image;
}

// 8-bit RGB rows of a PNG: pixel (x, y) = (x, y, x + y).
void RgbRow(int y, uint8_t* row, int width) {
  for (int x = 0; x < width; ++x) {
    row[x * 3] = uint8_t(x);
    row[x * 3 + 1] = uint8_t(y);
    row[x * 3 + 2] = uint8_t(x + y);
  }
}

class LoadFile : public ::testing::Test {
 protected:
  void TearDown() override { SetFileReadHookForTesting({}); }
  // Writes `bytes` (or `image` in `format`) as `name` in the folder.
  std::string file(const std::string& name, const std::vector<uint8_t>& bytes) {
    EXPECT_TRUE(testing::WriteBytes(dir.file(name), bytes)) << name;
    return dir.file(name);
  }
  std::string file(const std::string& name, const QImage& image, const char* format, int quality = -1) {
    EXPECT_TRUE(testing::WriteImage(image, dir.file(name), format, quality)) << name;
    return dir.file(name);
  }
  testing::TempDir dir;
  PictureBuffer picture;
};

TEST_F(LoadFile, NamesComeFromThePathEvenWhenTheLoadFails) {
  EXPECT_FALSE(picture.LoadFile("no-such-picture.png"));  // no slash: the path is the name
  EXPECT_EQ(picture.fileName, "no-such-picture.png");
  EXPECT_EQ(picture.filePath, "no-such-picture.png");
  ASSERT_TRUE(picture.LoadFile(file("a.png", Flat(2, 2, 0xFF102030), "png")));
  EXPECT_EQ(picture.fileName, "a.png");
  EXPECT_FALSE(picture.LoadFile(""));  // an empty path empties the names, keeps the pixels
  EXPECT_EQ(picture.fileName + picture.filePath, "");
  EXPECT_EQ(picture.width, 2);
  // Content decides, not the extension, and any path bytes work.
  const std::string odd = dir.file("really-a-png-\xff.jpg");  // not UTF-8
  ASSERT_EQ(std::rename(file("plain.png", Flat(3, 3, 0xFF00FF00), "png").c_str(), odd.c_str()), 0);
  ASSERT_TRUE(picture.LoadFile(odd));
  EXPECT_EQ(picture.fileName, "really-a-png-\xff.jpg");
  EXPECT_EQ(picture.sourceBitsPerPixel, 24);
}

TEST_F(LoadFile, FailedDecodeKeepsPixelsSizesAndBitmapButNamesTheNewPath) {
  ASSERT_TRUE(picture.LoadFile(file("good.png", RandomImage(7, 5, QImage::Format_ARGB32, 11), "png")));
  const uint8_t* pixels = picture.pixelData.get();
  const uint32_t corner = PixelAt(picture, 6, 4);
  const auto bitmap = picture.decodedImage;
  const std::string bad = file("broken.png", {0x89, 'P', 'N', 'G', 1, 2, 3});
  EXPECT_FALSE(picture.LoadFile(bad));
  EXPECT_EQ(picture.fileName, "broken.png");
  EXPECT_EQ(picture.filePath, bad);
  EXPECT_EQ(picture.pixelData.get(), pixels);
  EXPECT_EQ(PixelAt(picture, 6, 4), corner);
  EXPECT_EQ(picture.decodedImage, bitmap);
  EXPECT_EQ(Sizes(picture), std::tuple(7, 5, 140, 32, 1));
}

TEST_F(LoadFile, PngWithAlphaKeepsItsStraightAlphaExactly) {
  const QImage image = RandomImage(13, 9, QImage::Format_ARGB32, 5);
  for (bool interlaced : {false, true}) {
    const std::string path =
        interlaced ? file("alpha-interlaced.png", MakePng(13, 9, {6, 8, true}, [&](int y, uint8_t* row) {
          for (int x = 0; x < 13; ++x) {
            const QRgb c = image.pixel(x, y);
            const uint8_t rgba[4] = {uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c)),
                                     uint8_t(qAlpha(c))};
            std::memcpy(row + x * 4, rgba, 4);
          }
        }))
                   : file("alpha.png", image, "png");
    SCOPED_TRACE(path);
    ASSERT_TRUE(picture.LoadFile(path));
    EXPECT_EQ(std::tuple(picture.sourceWidth, picture.sourceHeight), std::tuple(13, 9));
    EXPECT_EQ(Sizes(picture), std::tuple(13, 9, 13 * 9 * 4, 32, 1));
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 13; ++x) ASSERT_EQ(PixelAt(picture, x, y), image.pixel(x, y)) << x << "," << y;
  }
}

TEST_F(LoadFile, EachStoredFormatGetsItsDepthAndKeepsItsColour) {
  // The colour of pixel (2, 2) comes back within `tolerance` (JPEG's loss;
  // TIFF arrives premultiplied from Qt and must come back straight:
  // 0xFF8000 at alpha 0x40 is stored as 0x40, 0x20, 0x00).
  const auto grey = [](QImage::Format f) { return Flat(6, 4, 0xFF808080).convertToFormat(f); };
  const QImage colour = Flat(6, 4, 0xFF3070B0);
  // An RGB PNG whose colour (0x30, 0x70, 0xB0) is transparent by tRNS.
  std::vector<uint8_t> keyed = MakePng(6, 4, {2, 8}, [](int, uint8_t* row) {
    for (int x = 0; x < 6; ++x) std::memcpy(row + x * 3, x == 2 ? "\x30\x70\xB0" : "\x10\x20\x30", 3);
  });
  const std::vector<uint8_t> trns = testing::PngChunk("tRNS", {0, 0x30, 0, 0x70, 0, 0xB0});
  keyed.insert(keyed.begin() + 33, trns.begin(), trns.end());  // after the signature and IHDR
  const struct {
    const char* name;
    std::string path;
    int depth;
    uint8_t fourthByte;  // of every pixel but (2, 2) for the keyed PNG
    uint32_t colour;
    int tolerance;
  } cases[] = {
      {"png 24-bit", file("a.png", Flat(6, 4, 0xFF204060), "png"), 24, 0, 0x204060, 0},
      {"png palette with transparency", file("b.png", Palette6x4(), "png"), 8, 0, 0x204060, 0},
      {"png two colours", file("c.png", Flat(6, 4, 0xFFFFFFFF).convertToFormat(QImage::Format_Mono), "png"),
       1, 0, 0xFFFFFF, 0},
      {"png 8-bit grey", file("d.png", grey(QImage::Format_Grayscale8), "png"), 8, 0, 0x808080, 0},
      {"png 16-bit grey", file("e.png", grey(QImage::Format_Grayscale16), "png"), 32, 255, 0x808080, 1},
      {"png 48-bit colour",
       file("f.png", Flat(6, 4, 0xFF204060).convertToFormat(QImage::Format_RGBX64), "png"), 32, 255, 0x204060,
       1},
      {"png 64-bit with alpha",
       file("g.png", Flat(6, 4, 0x7F204060, QImage::Format_ARGB32).convertToFormat(QImage::Format_RGBA64),
            "png"),
       32, 0x7F, 0x204060, 1},
      {"png rgb with a transparent colour", file("h.png", keyed), 32, 255, 0x3070B0, 0},
      {"jpeg 24-bit", file("a.jpg", MakeJpeg(colour)), 24, 0, 0x3070B0, 3},
      {"jpeg progressive", file("b.jpg", MakeJpeg(colour, {90, true})), 24, 0, 0x3070B0, 3},
      {"jpeg grey", file("c.jpg", MakeJpeg(colour, {90, false, Colour::Grey})), 8, 0, 0x707070, 3},
      {"jpeg cmyk", file("d.jpg", MakeJpeg(colour, {90, false, Colour::Cmyk})), 32, 255, 0x3070B0, 3},
      {"bmp 24-bit", file("a.bmp", Flat(6, 4, 0xFF204060), "bmp"), 24, 0, 0x204060, 0},
      {"tiff with alpha", file("a.tiff", Flat(6, 4, 0x40FF8000, QImage::Format_ARGB32), "tiff"), 32, 0x40,
       0xFF8000, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(picture.LoadFile(c.path));
    EXPECT_EQ(std::tuple(picture.sourceBitsPerPixel, picture.bitsPerPixel, picture.width, picture.height),
              std::tuple(c.depth, 32, 6, 4));
    if (c.path == dir.file("h.png")) {
      EXPECT_EQ(PixelAt(picture, 2, 2), 0x003070B0u);  // the keyed colour, transparent
      EXPECT_EQ(PixelAt(picture, 3, 2), 0xFF102030u);
      continue;
    }
    EXPECT_TRUE(EveryFourthByteIs(picture, c.fourthByte));
    EXPECT_LE(Distance(PixelAt(picture, 2, 2), c.colour), c.tolerance);
    EXPECT_EQ(ProbeImageFile(c.path), DecodeError::None);
  }
  // The half-transparent palette entry kept its colour.
  ASSERT_TRUE(picture.LoadFile(file("p.png", Palette6x4(), "png")));
  EXPECT_EQ(PixelAt(picture, 1, 1), 0x00FF0000u);
}

TEST_F(LoadFile, GifAndBmpDepthsComeFromTheFileHeader) {
  // A GIF's transparency is lost but the colour kept. Palette: 0 red,
  // 1 green (transparent), 2 blue.
  const std::vector<uint8_t> indices = {0, 1, 2, 1, 0, 2};
  ASSERT_TRUE(
      picture.LoadFile(file("clip.gif", testing::MakeGif(3, 2, {0xFF0000, 0x00FF00, 0x0000FF}, indices, 1))));
  EXPECT_EQ(picture.sourceBitsPerPixel, 8);
  EXPECT_TRUE(EveryFourthByteIs(picture, 0));
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(PixelAt(picture, i % 3, i / 3), (0xFF0000u >> (8 * indices[size_t(i)])) & 0xFFFFFFu) << i;
  // BMPs of 24, 32 and 16 bits; 5-bit channels lose their three low bits.
  const std::vector<uint32_t> rgb = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x808080, 0x000000};
  for (auto [bits, fourthByte, tolerance] : {std::tuple{24, 0, 0}, {32, 255, 0}, {16, 0, 8}}) {
    SCOPED_TRACE(bits);
    ASSERT_TRUE(picture.LoadFile(file(std::to_string(bits) + "-bit.bmp", MakeBmp(3, 2, bits, rgb))));
    EXPECT_EQ(picture.sourceBitsPerPixel, bits);
    EXPECT_TRUE(EveryFourthByteIs(picture, uint8_t(fourthByte)));
    for (int i = 0; i < 6; ++i)
      EXPECT_LE(Distance(PixelAt(picture, i % 3, i / 3), rgb[size_t(i)]), tolerance) << i;
  }
}

TEST_F(LoadFile, EveryExifOrientationTurnsThePictureAsQtsReaderDoes) {
  // Source of truth: Qt's own JPEG reader with its automatic transform, on
  // the same file. 48 x 32 quarters; every pixel within JPEG's loss.
  for (int orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE(orientation);
    const std::vector<uint8_t> jpeg = MakeJpeg(Quarters(48, 32), {95, false, Colour::Rgb, orientation});
    const std::string path = file("turned.jpg", jpeg);
    QImageReader reader(QString::fromStdString(path));
    reader.setAutoTransform(true);
    const QImage expected = reader.read().convertToFormat(QImage::Format_RGB32);
    ASSERT_TRUE(picture.LoadFile(path));
    ASSERT_EQ(std::tuple(picture.width, picture.height), std::tuple(expected.width(), expected.height()));
    EXPECT_EQ(std::tuple(picture.sourceWidth, picture.sourceHeight),
              std::tuple(expected.width(), expected.height()));
    int worst = 0;
    for (int y = 0; y < picture.height; ++y)
      for (int x = 0; x < picture.width; ++x)
        worst = std::max(worst, Distance(PixelAt(picture, x, y), expected.pixel(x, y)));
    EXPECT_LE(worst, 24);  // a turn gives a difference of 255 somewhere
  }
}

TEST_F(LoadFile, DecodeBudgetRefusesBombsFromTheHeaderAndAdmitsWhatFits) {
  // Headers announcing sizes on both sides of the budget (2^29 bytes: 2^27
  // pixels at 4 bytes, 2^26 at 8) and of the side cap (65535). A header
  // within the budget gets as far as its missing image data (Corrupt).
  const std::vector<uint8_t> idat = {0, 0, 0, 4, 'I', 'D', 'A', 'T', 1, 2, 3, 4, 0, 0, 0, 0};
  const auto png = [&](uint32_t w, uint32_t h, uint8_t depth) { return MakePngHeader(w, h, idat, depth); };
  const std::vector<uint8_t> smallJpeg = MakeJpeg(Flat(16, 16, 0xFF808080));
  // A 29-byte GIF: screen and image of 65535 x 65535, two bytes of data.
  const std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0,
                                    0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 2, 2, 0x4C, 0x01, 0, 0x3B};
  const std::string xbm =
      "#define b_width 16384\n#define b_height 16384\nstatic char b_bits[] = {\n0x00 };\n";
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    DecodeError error;
  } rows[] = {
      {"png 8-bit 16384 x 8192: exactly the budget", png(16384, 8192, 8), DecodeError::Corrupt},
      {"png 8-bit 16384 x 8193", png(16384, 8193, 8), DecodeError::TooLarge},
      {"png 16-bit 8192 x 8192: exactly the budget", png(8192, 8192, 16), DecodeError::Corrupt},
      {"png 16-bit 8192 x 8193", png(8192, 8193, 16), DecodeError::TooLarge},
      {"png 16-bit 16384 x 16384", png(16384, 16384, 16), DecodeError::TooLarge},
      {"png 65536 x 1: over the side cap", png(65536, 1, 8), DecodeError::BadSize},
      {"png 30000 x 3000 panorama", png(30000, 3000, 8), DecodeError::Corrupt},
      {"jpeg 16384 x 16384", testing::WithJpegSize(smallJpeg, 16384, 16384), DecodeError::TooLarge},
      {"jpeg 16384 x 8192", testing::WithJpegSize(smallJpeg, 16384, 8192), DecodeError::Corrupt},
      {"gif 65535 x 65535 in 29 bytes", gif, DecodeError::TooLarge},
      // Qt's BMP reader itself refuses areas above 16384 x 16384.
      {"bmp 20000 x 20000", MakeBmp(1, 1, 24, {0}, 20000, 20000), DecodeError::Corrupt},
      {"xbm 16384 x 16384", std::vector<uint8_t>(xbm.begin(), xbm.end()), DecodeError::NotAnImage},
  };
  const int64_t peakBefore = testing::PeakResidentBytes();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = file("bomb", row.bytes);
    EXPECT_EQ(DecodeImageFile(path).error, row.error);
    EXPECT_NE(ProbeImageFile(path), DecodeError::None);
    EXPECT_FALSE(picture.LoadFile(path));
  }
  // Nothing near a refused picture's size was ever allocated (the smallest
  // refused here would take over 512 MiB).
  EXPECT_LT(testing::PeakResidentBytes() - peakBefore, int64_t(128) << 20);
  EXPECT_EQ(CheckDecodeCost(11648, 8736, 4), DecodeError::None);  // a 100-megapixel camera
}

TEST_F(LoadFile, BadFilesFailCleanly) {
  ASSERT_EQ(::mkdir(dir.file("folder.png").c_str(), 0700), 0);
  ASSERT_EQ(::mkfifo(dir.file("pipe.png").c_str(), 0600), 0);  // opening must not block
  std::vector<uint8_t> png =
      testing::ReadBytes(file("src.png", RandomImage(8, 8, QImage::Format_ARGB32, 3), "png"));
  ASSERT_GT(png.size(), 60u);
  png[png.size() - 20] ^= 0x5A;  // inside IDAT: the chunk's CRC no longer matches
  std::vector<uint8_t> jpeg = MakeJpeg(RandomImage(32, 32, QImage::Format_RGB32, 4));
  jpeg[jpeg.size() / 2] = 0xFF;  // a marker in the middle of the data
  jpeg[jpeg.size() / 2 + 1] = 0xD9;
  const struct {
    const char* name;
    std::string path;
    DecodeError error;
  } cases[] = {
      {"missing", dir.file("missing.png"), DecodeError::NotFound},
      {"empty", file("empty.png", {}), DecodeError::NotAnImage},
      {"not an image", file("notes.png", std::vector<uint8_t>(200, 'x')), DecodeError::NotAnImage},
      {"directory", dir.file("folder.png"), DecodeError::CannotOpen},
      {"fifo", dir.file("pipe.png"), DecodeError::CannotOpen},
      {"character device", "/dev/zero", DecodeError::CannotOpen},
      {"png with a bad checksum", file("corrupt.png", png), DecodeError::Corrupt},
      {"jpeg ending in the middle", file("corrupt.jpg", jpeg), DecodeError::Corrupt},
      {"png of 0 x 5", file("zero.png", MakePngHeader(0, 5)), DecodeError::BadSize},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecodeImageFile(c.path).error, c.error);
    EXPECT_EQ(ProbeImageFile(c.path), c.error);
    EXPECT_FALSE(picture.LoadFile(c.path));
    EXPECT_EQ(std::tuple(picture.state, picture.byteCount), std::tuple(0, 0));
    EXPECT_FALSE(picture.decodedImage);
  }
}

TEST_F(LoadFile, UnreadableFileFails) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not stop reading";
  const std::string path = file("locked.png", Flat(2, 2, 0xFF000000), "png");
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  EXPECT_EQ(DecodeImageFile(path).error, DecodeError::CannotOpen);
  EXPECT_FALSE(picture.LoadFile(path));
}

TEST_F(LoadFile, EveryCutOfAFileIsRefused) {
  // A file cut short at every length fails, whichever decoder reads it,
  // both whole and in the check that decodes without keeping.
  const QImage image = RandomImage(24, 16, QImage::Format_ARGB32, 21);
  const QImage opaque = image.convertToFormat(QImage::Format_RGB32);
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } files[] = {
      {"jpeg", MakeJpeg(opaque)},
      {"jpeg progressive", MakeJpeg(opaque, {90, true})},
      {"png", testing::ReadBytes(file("whole.png", image, "png"))},
      {"png interlaced", MakePng(24, 16, {2, 8, true}, [](int y, uint8_t* row) { RgbRow(y, row, 24); })},
      {"gif", testing::MakeGif(24, 16, {0xFF0000, 0x00FF00, 0x0000FF}, std::vector<uint8_t>(24 * 16, 1), -1)},
      {"bmp", testing::ReadBytes(file("whole.bmp", opaque, "bmp"))},
      {"tiff", testing::ReadBytes(file("whole.tiff", image, "tiff"))},
  };
  // Qt's TIFF reader reports every cut as a warning of its own.
  const QtMessageHandler previous =
      qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    ASSERT_EQ(DecodeImageFile(file("whole", f.bytes)).error, DecodeError::None);
    for (size_t length = 1; length < f.bytes.size(); ++length) {
      const std::string path =
          file("cut", std::vector<uint8_t>(f.bytes.begin(), f.bytes.begin() + long(length)));
      ASSERT_NE(DecodeImageFile(path).error, DecodeError::None) << "cut at " << length;
      ASSERT_NE(ProbeImageFile(path), DecodeError::None) << "cut at " << length;
    }
  }
  qInstallMessageHandler(previous);
}

TEST_F(LoadFile, AFileThatChangesWhileItIsReadIsRefused) {
  // The file is changed right after the first part of it has been read:
  // grown, rewritten in place with a new time, replaced by another file.
  const std::vector<uint8_t> jpeg = MakeJpeg(RandomImage(64, 48, QImage::Format_RGB32, 6));
  const std::string path = dir.file("watched.jpg");
  const struct {
    const char* name;
    std::function<void()> change;
  } changes[] = {
      {"appended to", [&] { std::ofstream(path, std::ios::app) << "more"; }},
      {"rewritten, new time",
       [&] {
         const timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
         ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
       }},
      {"replaced", [&] { ASSERT_EQ(std::rename(file("other.jpg", jpeg).c_str(), path.c_str()), 0); }},
      {"removed", [&] { ASSERT_EQ(::unlink(path.c_str()), 0); }},
  };
  for (const auto& c : changes) {
    SCOPED_TRACE(c.name);
    file("watched.jpg", jpeg);
    SetFileReadHookForTesting([&](const std::string&) { c.change(); });
    EXPECT_EQ(DecodeImageFile(path).error, DecodeError::Changed);
    file("watched.jpg", jpeg);
    PrepareRequest request;
    request.path = path;
    request.outputWidth = 64;
    request.outputHeight = 48;
    EXPECT_EQ(PreparePicture(request).error, DecodeError::Changed);
    SetFileReadHookForTesting({});
  }
  file("watched.jpg", jpeg);
  EXPECT_EQ(DecodeImageFile(path).error, DecodeError::None);  // left alone, it loads
}

TEST_F(LoadFile, AllocationFailuresAfterOrWhileDecoding) {
  ASSERT_TRUE(picture.LoadFile(file("first.png", Flat(4, 4, 0xFF112233), "png")));
  const auto first = picture.decodedImage;
  // Each allocation of a decode (file bytes, palette expansion) failing in
  // turn: nothing changes but the name.
  for (int skip = 0; skip < 2; ++skip) {
    SCOPED_TRACE(skip);
    InjectAllocationFailures(skip, 1);
    EXPECT_FALSE(picture.LoadFile(file("palette.bmp", Palette6x4(), "bmp")));
    InjectAllocationFailures(0, 0);
    EXPECT_EQ(picture.decodedImage, first);
    EXPECT_EQ(std::tuple(picture.width, picture.sourceBitsPerPixel), std::tuple(4, 24));
    EXPECT_EQ(picture.fileName, "palette.bmp");
  }
  // Decoded, then the pixel buffer fails: sizes 0, state unchanged, the
  // new bitmap kept and still serving a rescale. Allocations: file bytes,
  // decoded pixels, then the picture's buffer.
  InjectAllocationFailures(2, 1);
  EXPECT_FALSE(picture.LoadFile(file("second.jpg", MakeJpeg(Flat(10, 6, 0xFF445566)))));
  InjectAllocationFailures(0, 0);
  EXPECT_EQ(Sizes(picture), std::tuple(0, 0, 0, 0, 1));
  EXPECT_NE(picture.decodedImage, first);
  EXPECT_EQ(std::tuple(picture.sourceWidth, picture.sourceHeight, picture.sourceBitsPerPixel),
            std::tuple(10, 6, 24));
  EXPECT_FALSE(picture.usable());
  EXPECT_TRUE(picture.ScaleTo(5, 3));
  EXPECT_TRUE(picture.usable());
}

}  // namespace
}  // namespace plombix
