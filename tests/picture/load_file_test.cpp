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
using testing::MakePngHeader;
using testing::PixelAt;
using testing::RandomImage;
using testing::Sizes;

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

class LoadFile : public ::testing::Test {
 protected:
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
  ASSERT_TRUE(picture.LoadFile(file("alpha.png", image, "png")));
  EXPECT_EQ(std::tuple(picture.sourceWidth, picture.sourceHeight), std::tuple(13, 9));
  EXPECT_EQ(Sizes(picture), std::tuple(13, 9, 13 * 9 * 4, 32, 1));
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 13; ++x) ASSERT_EQ(PixelAt(picture, x, y), image.pixel(x, y)) << x << "," << y;
}

TEST_F(LoadFile, EachStoredFormatGetsItsDepthAndKeepsItsColour) {
  // The colour of pixel (2, 2) comes back within `tolerance` (JPEG's loss;
  // TIFF arrives premultiplied from Qt and must come back straight:
  // 0xFF8000 at alpha 0x40 is stored as 0x40, 0x20, 0x00).
  const auto grey = [](QImage::Format f) { return Flat(6, 4, 0xFF808080).convertToFormat(f); };
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
      {"png two colours", Flat(6, 4, 0xFFFFFFFF).convertToFormat(QImage::Format_Mono), "png", 1, 0, 0xFFFFFF,
       0},
      {"png 8-bit grey", grey(QImage::Format_Grayscale8), "png", 8, 0, 0x808080, 0},
      {"jpeg 24-bit", Flat(6, 4, 0xFF3070B0), "jpg", 24, 0, 0x3070B0, 3},
      {"jpeg grey", grey(QImage::Format_Grayscale8), "jpg", 8, 0, 0x808080, 3},
      {"png 16-bit grey", grey(QImage::Format_Grayscale16), "png", 32, 255, 0x808080, 1},
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
    ASSERT_TRUE(picture.LoadFile(file(std::string("f.") + c.format, c.image, c.format, 100)));
    EXPECT_EQ(std::tuple(picture.sourceBitsPerPixel, picture.bitsPerPixel, picture.width, picture.height),
              std::tuple(c.depth, 32, 6, 4));
    EXPECT_TRUE(EveryFourthByteIs(picture, c.fourthByte));
    EXPECT_LE(Distance(PixelAt(picture, 2, 2), c.colour), c.tolerance);
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
    ASSERT_TRUE(picture.LoadFile(file("b" + std::to_string(bits) + ".bmp", MakeBmp(3, 2, bits, rgb))));
    EXPECT_EQ(picture.sourceBitsPerPixel, bits);
    EXPECT_TRUE(EveryFourthByteIs(picture, uint8_t(fourthByte)));
    for (int i = 0; i < 6; ++i)
      EXPECT_LE(Distance(PixelAt(picture, i % 3, i / 3), rgb[size_t(i)]), tolerance) << i;
  }
}

TEST_F(LoadFile, ExifOrientationIsApplied) {
  const std::string path = dir.file("turned.jpg");
  QImageWriter writer(QString::fromStdString(path), "jpg");
  if (!writer.supportsOption(QImageIOHandler::ImageTransformation))
    GTEST_SKIP() << "this Qt writes no orientation";
  writer.setTransformation(QImageIOHandler::TransformationRotate90);
  ASSERT_TRUE(writer.write(Flat(4, 2, 0xFFFF0000)));
  ASSERT_TRUE(picture.LoadFile(path));
  EXPECT_EQ(std::tuple(picture.width, picture.height), std::tuple(2, 4));
}

TEST_F(LoadFile, LargestAllowedWidthLoadsAndOneMoreOrAHugeHeaderIsRefusedBeforeDecoding) {
  ASSERT_TRUE(
      picture.LoadFile(file("wide.png", Flat(PictureBuffer::kMaxDecodeDimension, 1, 0xFF010203), "png")));
  EXPECT_EQ(std::tuple(picture.width, picture.byteCount), std::tuple(16384, 16384 * 4));
  // 20000 x 20000 x 4 would be 1.6 GB; the answer must come from the
  // header (BadSize), before the reader allocates. The IHDR is followed by
  // the start of an IDAT chunk, so that the header can be read completely.
  // Qt's own reader refuses a BMP area above 16384 x 16384 while reading
  // the header: Corrupt is right there too.
  const std::vector<uint8_t> idat = {0, 0, 0, 4, 'I', 'D', 'A', 'T', 1, 2, 3, 4, 0, 0, 0, 0};
  const struct {
    std::string path;
    bool orCorrupt;
  } rows[] = {
      {file("wider.png", Flat(PictureBuffer::kMaxDecodeDimension + 1, 1, 0xFF010203), "png"), false},
      {file("huge.png", MakePngHeader(20000, 20000, idat)), false},
      {file("tall.png", MakePngHeader(1, 16385, idat)), false},
      {file("wide.bmp", MakeBmp(1, 1, 24, {0}, 20000, 1)), false},
      {file("huge.bmp", MakeBmp(1, 1, 24, {0}, 20000, 20000)), true},
  };
  for (const auto& row : rows) {
    const DecodeError error = DecodeImageFile(row.path).error;
    EXPECT_TRUE(error == DecodeError::BadSize || (row.orCorrupt && error == DecodeError::Corrupt))
        << row.path;
    EXPECT_FALSE(picture.LoadFile(row.path)) << row.path;
    EXPECT_EQ(picture.width, 16384);  // the earlier picture stays
  }
}

TEST_F(LoadFile, BadFilesFailCleanly) {
  ASSERT_EQ(::mkdir(dir.file("folder.png").c_str(), 0700), 0);
  ASSERT_EQ(::mkfifo(dir.file("pipe.png").c_str(), 0600), 0);  // opening must not block
  std::vector<uint8_t> png =
      testing::ReadBytes(file("src.png", RandomImage(8, 8, QImage::Format_ARGB32, 3), "png"));
  ASSERT_GT(png.size(), 60u);
  png[png.size() - 20] ^= 0x5A;  // inside IDAT: the chunk's CRC no longer matches
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
      {"corrupt data", file("corrupt.png", png), DecodeError::Corrupt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecodeImageFile(c.path).error, c.error);
    EXPECT_FALSE(picture.LoadFile(c.path));
    EXPECT_EQ(std::tuple(picture.state, picture.byteCount), std::tuple(0, 0));
    EXPECT_FALSE(picture.decodedImage);
  }
  EXPECT_FALSE(picture.LoadFile(file("zero.png", MakePngHeader(0, 5))));
}

TEST_F(LoadFile, UnreadableFileFails) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not stop reading";
  const std::string path = file("locked.png", Flat(2, 2, 0xFF000000), "png");
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  EXPECT_EQ(DecodeImageFile(path).error, DecodeError::CannotOpen);
  EXPECT_FALSE(picture.LoadFile(path));
}

TEST_F(LoadFile, TruncatedFilesFailOrGiveTheRightPixels) {
  // A PNG cut short at every length: the load fails, or (when only the
  // trailing chunk is missing) gives back exactly the stored pixels.
  const QImage image = RandomImage(6, 5, QImage::Format_ARGB32, 21);
  const std::vector<uint8_t> bytes = testing::ReadBytes(file("whole.png", image, "png"));
  for (size_t length = 0; length < bytes.size(); ++length) {
    PictureBuffer p;
    if (!p.LoadFile(file("cut.png", std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(length))))) {
      EXPECT_EQ(p.byteCount, 0) << length;
      continue;
    }
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) ASSERT_EQ(PixelAt(p, x, y), image.pixel(x, y)) << "length " << length;
  }
}

TEST_F(LoadFile, AllocationFailuresAfterOrWhileDecoding) {
  ASSERT_TRUE(picture.LoadFile(file("first.png", Flat(4, 4, 0xFF112233), "png")));
  const auto first = picture.decodedImage;
  // Palette pictures are expanded into memory of our own while decoding:
  // when that fails nothing changes but the name.
  InjectAllocationFailures(0, 1);
  EXPECT_FALSE(picture.LoadFile(file("palette.png", Palette6x4(), "png")));
  InjectAllocationFailures(0, 0);
  EXPECT_EQ(picture.decodedImage, first);
  EXPECT_EQ(std::tuple(picture.width, picture.sourceBitsPerPixel), std::tuple(4, 24));
  EXPECT_EQ(picture.fileName, "palette.png");
  // A JPEG hands Qt's buffer over; then the pixel buffer fails: sizes 0,
  // state unchanged, the new bitmap kept and still serving a rescale.
  InjectAllocationFailures(0, 1);
  EXPECT_FALSE(picture.LoadFile(file("second.jpg", Flat(10, 6, 0xFF445566), "jpg")));
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
