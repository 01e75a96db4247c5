// PictureBuffer::LoadFile and the decoder: names, depths, pixels, and what
// survives each kind of failure.
#include <gtest/gtest.h>

#include <QImageWriter>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <tuple>

#include "decoder.h"
#include "picture_buffer.h"
#include "picture_test_support.h"
#include "pixel_alloc.h"

namespace plombix {
namespace {

using testing::MakeBmp;
using testing::MakeGif;
using testing::MakePngHeader;
using testing::PixelAt;
using testing::RandomImage;
using testing::TempDir;
using testing::WriteBytes;
using testing::WriteImage;

bool EveryFourthByteIs(const PictureBuffer& p, uint8_t value) {
  for (int i = 3; i < p.byteCount; i += 4)
    if (p.pixelData[size_t(i)] != value) return false;
  return true;
}

// width, height, byteCount, bitsPerPixel, state.
std::tuple<int, int, int, int, int> Sizes(const PictureBuffer& p) {
  return {p.width, p.height, p.byteCount, p.bitsPerPixel, p.state};
}

// A flat-coloured image (survives JPEG without ringing).
QImage Flat(int w, int h, QRgb colour, QImage::Format format = QImage::Format_RGB32) {
  QImage image(w, h, format);
  image.fill(colour);
  return image;
}

int Distance(uint32_t a, uint32_t b) {
  int worst = 0;
  for (int s = 0; s < 24; s += 8) worst = std::max(worst, std::abs(int((a >> s) & 255) - int((b >> s) & 255)));
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

class LoadFile : public ::testing::Test {
 protected:
  TempDir dir;
  PictureBuffer picture;
};

TEST_F(LoadFile, NamesComeFromThePathEvenWhenTheLoadFails) {
  EXPECT_FALSE(picture.LoadFile("no-such-picture.png"));  // no slash: the path is the name
  EXPECT_EQ(picture.fileName, "no-such-picture.png");
  EXPECT_EQ(picture.filePath, "no-such-picture.png");
  const std::string path = dir.file("a.png");
  ASSERT_TRUE(WriteImage(Flat(2, 2, 0xFF102030), path, "png"));
  ASSERT_TRUE(picture.LoadFile(path));
  EXPECT_EQ(picture.fileName, "a.png");
  EXPECT_FALSE(picture.LoadFile(""));  // an empty path empties the names, keeps the pixels
  EXPECT_EQ(picture.fileName + picture.filePath, "");
  EXPECT_EQ(picture.width, 2);
}

TEST_F(LoadFile, FailedDecodeKeepsPixelsSizesAndBitmapButNamesTheNewPath) {
  const std::string good = dir.file("good.png");
  ASSERT_TRUE(WriteImage(RandomImage(7, 5, QImage::Format_ARGB32, 11), good, "png"));
  ASSERT_TRUE(picture.LoadFile(good));
  const uint8_t* pixels = picture.pixelData.get();
  const uint32_t corner = PixelAt(picture, 6, 4);
  const auto bitmap = picture.decodedImage;

  const std::string bad = dir.file("broken.png");
  ASSERT_TRUE(WriteBytes(bad, {0x89, 'P', 'N', 'G', 1, 2, 3}));
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
  const std::string path = dir.file("alpha.png");
  ASSERT_TRUE(WriteImage(image, path, "png"));
  ASSERT_TRUE(picture.LoadFile(path));
  EXPECT_EQ(std::tuple(picture.sourceWidth, picture.sourceHeight), std::tuple(13, 9));
  EXPECT_EQ(Sizes(picture), std::tuple(13, 9, 13 * 9 * 4, 32, 1));
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 13; ++x) ASSERT_EQ(PixelAt(picture, x, y), image.pixel(x, y)) << x << "," << y;
}

TEST_F(LoadFile, GifTransparencyIsLostButTheColourKept) {
  // Palette: 0 red, 1 green (transparent), 2 blue.
  const std::vector<uint32_t> palette = {0xFF0000, 0x00FF00, 0x0000FF};
  const std::vector<uint8_t> indices = {0, 1, 2, 1, 0, 2};
  const std::string path = dir.file("clip.gif");
  ASSERT_TRUE(WriteBytes(path, MakeGif(3, 2, palette, indices, 1)));
  ASSERT_TRUE(picture.LoadFile(path));
  EXPECT_EQ(picture.sourceBitsPerPixel, 8);
  EXPECT_TRUE(EveryFourthByteIs(picture, 0));
  EXPECT_EQ(PixelAt(picture, 0, 0), 0x00FF0000u);
  EXPECT_EQ(PixelAt(picture, 1, 0), 0x0000FF00u);  // the transparent entry
  EXPECT_EQ(PixelAt(picture, 2, 0), 0x000000FFu);
  EXPECT_EQ(PixelAt(picture, 0, 1), 0x0000FF00u);
}

TEST_F(LoadFile, EachStoredFormatGetsItsDepthAndKeepsItsColour) {
  // The colour of pixel (2, 2) comes back within `tolerance` (JPEG's loss;
  // TIFF arrives premultiplied from Qt and must come back straight:
  // 0xFF8000 at alpha 0x40 is stored as 0x40, 0x20, 0x00).
  const struct {
    const char* name;
    QImage image;
    const char* format;
    int depth;
    uint8_t fourthByte;  // of every pixel
    uint32_t colour;
    int tolerance;
  } cases[] = {
      {"png 24-bit", Flat(6, 4, 0xFF204060), "png", 24, 0, 0x204060, 0},
      {"png palette with transparency", Palette6x4(), "png", 8, 0, 0x204060, 0},
      {"png two colours", Flat(6, 4, 0xFFFFFFFF).convertToFormat(QImage::Format_Mono), "png", 1, 0, 0xFFFFFF, 0},
      {"png 8-bit grey", Flat(6, 4, 0xFF808080).convertToFormat(QImage::Format_Grayscale8), "png", 8, 0, 0x808080, 0},
      {"jpeg 24-bit", Flat(6, 4, 0xFF3070B0), "jpg", 24, 0, 0x3070B0, 3},
      {"jpeg grey", Flat(6, 4, 0xFF808080).convertToFormat(QImage::Format_Grayscale8), "jpg", 8, 0, 0x808080, 3},
      {"png 16-bit grey", Flat(6, 4, 0xFF808080).convertToFormat(QImage::Format_Grayscale16), "png", 32, 255,
       0x808080, 1},
      {"png 48-bit colour", Flat(6, 4, 0xFF204060).convertToFormat(QImage::Format_RGBX64), "png", 32, 255,
       0x204060, 1},
      {"png 64-bit with alpha",
       Flat(6, 4, 0x7F204060, QImage::Format_ARGB32).convertToFormat(QImage::Format_RGBA64), "png", 32, 0x7F,
       0x204060, 1},
      {"bmp 24-bit", Flat(6, 4, 0xFF204060), "bmp", 24, 0, 0x204060, 0},
      {"tiff with alpha", Flat(6, 4, 0x40FF8000, QImage::Format_ARGB32), "tiff", 32, 0x40, 0xFF8000, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(std::string("f.") + c.format);
    ASSERT_TRUE(WriteImage(c.image, path, c.format, 100));
    ASSERT_TRUE(picture.LoadFile(path));
    EXPECT_EQ(picture.sourceBitsPerPixel, c.depth);
    EXPECT_EQ(picture.bitsPerPixel, 32);
    EXPECT_EQ(QSize(picture.width, picture.height), QSize(6, 4));
    EXPECT_TRUE(EveryFourthByteIs(picture, c.fourthByte));
    EXPECT_LE(Distance(PixelAt(picture, 2, 2), c.colour), c.tolerance);
  }
  // The half-transparent palette entry kept its colour.
  ASSERT_TRUE(WriteImage(Palette6x4(), dir.file("p.png"), "png"));
  ASSERT_TRUE(picture.LoadFile(dir.file("p.png")));
  EXPECT_EQ(PixelAt(picture, 1, 1), 0x00FF0000u);
}

TEST_F(LoadFile, BmpDepthsComeFromTheFileHeader) {
  const std::vector<uint32_t> rgb = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0x808080, 0x000000};
  struct Case {
    int bits, depth;
    uint8_t fourthByte;
  } cases[] = {{24, 24, 0}, {32, 32, 255}, {16, 16, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    const std::string path = dir.file("b" + std::to_string(c.bits) + ".bmp");
    ASSERT_TRUE(WriteBytes(path, MakeBmp(3, 2, c.bits, rgb)));
    ASSERT_TRUE(picture.LoadFile(path));
    EXPECT_EQ(picture.sourceBitsPerPixel, c.depth);
    EXPECT_TRUE(EveryFourthByteIs(picture, c.fourthByte));
    // 5-bit channels lose their three low bits.
    const int tolerance = c.bits == 16 ? 8 : 0;
    for (int i = 0; i < 6; ++i) EXPECT_LE(Distance(PixelAt(picture, i % 3, i / 3), rgb[size_t(i)]), tolerance) << i;
  }
}

TEST_F(LoadFile, ExifOrientationIsApplied) {
  QImage image = Flat(4, 2, 0xFFFF0000);
  const std::string path = dir.file("turned.jpg");
  QImageWriter writer(QString::fromStdString(path), "jpg");
  if (!writer.supportsOption(QImageIOHandler::ImageTransformation))
    GTEST_SKIP() << "this Qt writes no orientation";
  writer.setTransformation(QImageIOHandler::TransformationRotate90);
  ASSERT_TRUE(writer.write(image));
  ASSERT_TRUE(picture.LoadFile(path));
  EXPECT_EQ(picture.width, 2);
  EXPECT_EQ(picture.height, 4);
}

TEST_F(LoadFile, ContentDecidesNotTheExtensionAndAnyPathBytesWork) {
  const std::string written = dir.file("plain.png");
  ASSERT_TRUE(WriteImage(Flat(3, 3, 0xFF00FF00), written, "png"));
  const std::string path = dir.file("really-a-png-\xff.jpg");  // not UTF-8
  ASSERT_EQ(std::rename(written.c_str(), path.c_str()), 0);
  ASSERT_TRUE(picture.LoadFile(path));
  EXPECT_EQ(picture.fileName, "really-a-png-\xff.jpg");
  EXPECT_EQ(picture.sourceBitsPerPixel, 24);
}

TEST_F(LoadFile, LargestAllowedWidthLoadsAndOneMoreIsRefused) {
  const std::string wide = dir.file("wide.png");
  ASSERT_TRUE(WriteImage(Flat(PictureBuffer::kMaxDecodeDimension, 1, 0xFF010203), wide, "png"));
  ASSERT_TRUE(picture.LoadFile(wide));
  EXPECT_EQ(picture.width, 16384);
  EXPECT_EQ(picture.byteCount, 16384 * 4);

  const std::string wider = dir.file("wider.png");
  ASSERT_TRUE(WriteImage(Flat(PictureBuffer::kMaxDecodeDimension + 1, 1, 0xFF010203), wider, "png"));
  EXPECT_EQ(DecodeImageFile(wider).error, DecodeError::BadSize);
  EXPECT_FALSE(picture.LoadFile(wider));
  EXPECT_EQ(picture.width, 16384);  // the earlier picture stays
}

TEST_F(LoadFile, HeaderClaimingAHugePictureIsRefusedBeforeDecoding) {
  // 20000 x 20000 x 4 would be 1.6 GB; the answer must come from the
  // header (BadSize), before the reader allocates. The IHDR is followed by
  // the start of an IDAT chunk, so that the header can be read completely.
  const std::vector<uint8_t> idat = {0, 0, 0, 4, 'I', 'D', 'A', 'T', 1, 2, 3, 4, 0, 0, 0, 0};
  const std::string png = dir.file("huge.png");
  ASSERT_TRUE(WriteBytes(png, MakePngHeader(20000, 20000, idat)));
  EXPECT_EQ(DecodeImageFile(png).error, DecodeError::BadSize);
  const std::string tall = dir.file("tall.png");
  ASSERT_TRUE(WriteBytes(tall, MakePngHeader(1, 16385, idat)));
  EXPECT_EQ(DecodeImageFile(tall).error, DecodeError::BadSize);
  const std::string bmp = dir.file("wide.bmp");
  ASSERT_TRUE(WriteBytes(bmp, MakeBmp(1, 1, 24, {0}, 20000, 1)));
  EXPECT_EQ(DecodeImageFile(bmp).error, DecodeError::BadSize);
  // Qt's own reader refuses a BMP area above 16384 x 16384 while reading
  // the header; either way nothing is decoded.
  const std::string square = dir.file("huge.bmp");
  ASSERT_TRUE(WriteBytes(square, MakeBmp(1, 1, 24, {0}, 20000, 20000)));
  const DecodeError squareError = DecodeImageFile(square).error;
  EXPECT_TRUE(squareError == DecodeError::BadSize || squareError == DecodeError::Corrupt);
  for (const std::string& path : {png, tall, bmp, square}) EXPECT_FALSE(picture.LoadFile(path));
  EXPECT_EQ(picture.byteCount, 0);
}

TEST_F(LoadFile, BadFilesFailCleanly) {
  const std::string missing = dir.file("missing.png");
  const std::string empty = dir.file("empty.png");
  ASSERT_TRUE(WriteBytes(empty, {}));
  const std::string text = dir.file("notes.png");
  ASSERT_TRUE(WriteBytes(text, std::vector<uint8_t>(200, 'x')));
  const std::string folder = dir.file("folder.png");
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  const std::string fifo = dir.file("pipe.png");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // opening must not block
  const std::string zeroSize = dir.file("zero.png");
  ASSERT_TRUE(WriteBytes(zeroSize, MakePngHeader(0, 5)));
  std::vector<uint8_t> png = testing::ReadBytes([&] {
    const std::string p = dir.file("src.png");
    (void)WriteImage(RandomImage(8, 8, QImage::Format_ARGB32, 3), p, "png");
    return p;
  }());
  ASSERT_GT(png.size(), 60u);
  png[png.size() - 20] ^= 0x5A;  // inside IDAT: the chunk's CRC no longer matches
  const std::string corrupt = dir.file("corrupt.png");
  ASSERT_TRUE(WriteBytes(corrupt, png));

  struct Case {
    const char* name;
    std::string path;
    DecodeError error;
  } cases[] = {
      {"missing", missing, DecodeError::CannotOpen},
      {"empty", empty, DecodeError::NotAnImage},
      {"not an image", text, DecodeError::NotAnImage},
      {"directory", folder, DecodeError::CannotOpen},
      {"fifo", fifo, DecodeError::CannotOpen},
      {"character device", "/dev/zero", DecodeError::CannotOpen},
      {"corrupt data", corrupt, DecodeError::Corrupt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecodeImageFile(c.path).error, c.error);
    EXPECT_FALSE(picture.LoadFile(c.path));
    EXPECT_EQ(picture.state, 0);
    EXPECT_EQ(picture.byteCount, 0);
    EXPECT_FALSE(picture.decodedImage);
  }
  EXPECT_FALSE(picture.LoadFile(zeroSize));
}

TEST_F(LoadFile, UnreadableFileFails) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not stop reading";
  const std::string path = dir.file("locked.png");
  ASSERT_TRUE(WriteImage(Flat(2, 2, 0xFF000000), path, "png"));
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  EXPECT_EQ(DecodeImageFile(path).error, DecodeError::CannotOpen);
  EXPECT_FALSE(picture.LoadFile(path));
}

TEST_F(LoadFile, TruncatedFilesFailOrGiveTheRightPixels) {
  // A PNG cut short at every length: the load fails, or (when only the
  // trailing chunk is missing) gives back exactly the stored pixels.
  const QImage image = RandomImage(6, 5, QImage::Format_ARGB32, 21);
  const std::string whole = dir.file("whole.png");
  ASSERT_TRUE(WriteImage(image, whole, "png"));
  const std::vector<uint8_t> bytes = testing::ReadBytes(whole);
  const std::string cut = dir.file("cut.png");
  for (size_t length = 0; length < bytes.size(); ++length) {
    ASSERT_TRUE(WriteBytes(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(length))));
    PictureBuffer p;
    if (!p.LoadFile(cut)) {
      EXPECT_EQ(p.byteCount, 0) << length;
      continue;
    }
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) ASSERT_EQ(PixelAt(p, x, y), image.pixel(x, y)) << "length " << length;
  }
}

TEST_F(LoadFile, AllocationFailureAfterDecodingLeavesSizesAtZero) {
  PictureBuffer earlier;
  const std::string first = dir.file("first.png");
  ASSERT_TRUE(WriteImage(Flat(4, 4, 0xFF112233), first, "png"));
  ASSERT_TRUE(picture.LoadFile(first));
  const auto oldBitmap = picture.decodedImage;

  const std::string second = dir.file("second.jpg");
  ASSERT_TRUE(WriteImage(Flat(10, 6, 0xFF445566), second, "jpg"));
  InjectAllocationFailures(0, 1);  // the decoder hands over Qt's buffer; the pixel buffer fails
  EXPECT_FALSE(picture.LoadFile(second));
  InjectAllocationFailures(0, 0);
  EXPECT_EQ(Sizes(picture), std::tuple(0, 0, 0, 0, 1));  // state unchanged by a failure after decoding
  EXPECT_NE(picture.decodedImage, oldBitmap);
  EXPECT_EQ(std::tuple(picture.sourceWidth, picture.sourceHeight, picture.sourceBitsPerPixel), std::tuple(10, 6, 24));
  EXPECT_FALSE(picture.usable());
  // The kept bitmap still serves a rescale.
  EXPECT_TRUE(picture.ScaleTo(5, 3));
  EXPECT_TRUE(picture.usable());
}

TEST_F(LoadFile, AllocationFailureWhileDecodingChangesNothing) {
  const std::string first = dir.file("first.png");
  ASSERT_TRUE(WriteImage(Flat(4, 4, 0xFF112233), first, "png"));
  ASSERT_TRUE(picture.LoadFile(first));
  const auto oldBitmap = picture.decodedImage;
  const std::string palette = dir.file("palette.png");
  ASSERT_TRUE(WriteImage(Palette6x4(), palette, "png"));
  // Palette pictures are expanded into memory of our own: that fails.
  InjectAllocationFailures(0, 1);
  EXPECT_FALSE(picture.LoadFile(palette));
  InjectAllocationFailures(0, 0);
  EXPECT_EQ(picture.decodedImage, oldBitmap);
  EXPECT_EQ(picture.width, 4);
  EXPECT_EQ(picture.sourceBitsPerPixel, 24);
  EXPECT_EQ(picture.fileName, "palette.png");
}

}  // namespace
}  // namespace plombix
