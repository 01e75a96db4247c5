// Decoding whole files: PictureBuffer::LoadFile and the decoder behind it
// (DecodeImageFile, ProbeImageFile): names, depths,
// pixels, orientation, the decode budget, damaged and changing files, and
// what survives each kind of failure.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <spng.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
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
using testing::PngChunk;
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

// Alpha equal, colours within `tolerance`.
bool Near(uint32_t a, uint32_t b, int tolerance) { return a >> 24 == b >> 24 && Distance(a, b) <= tolerance; }

// A copy of `png` with `chunk` after its IHDR (at byte 33).
std::vector<uint8_t> WithChunk(std::vector<uint8_t> png, const std::vector<uint8_t>& chunk) {
  png.insert(png.begin() + 33, chunk.begin(), chunk.end());
  return png;
}

// A PNG made by hand: IHDR, `chunks`, then `rows` (each row's filter type
// byte and its bytes) as one zlib stream of stored blocks (passed through
// `edit`), in IDAT chunks of at most 1000 bytes, IEND.
std::vector<uint8_t> HandMadePng(int width, int height, uint8_t colourType, const std::vector<uint8_t>& rows,
                                 std::vector<std::vector<uint8_t>> chunks = {},
                                 const std::function<void(std::vector<uint8_t>&)>& edit = {}) {
  std::vector<uint8_t> zlib = {0x78, 0x01}, png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  for (size_t at = 0, n; at < rows.size(); at += n) {
    n = std::min<size_t>(65535, rows.size() - at);
    zlib.insert(zlib.end(),
                {uint8_t(at + n == rows.size()), uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)});
    zlib.insert(zlib.end(), rows.begin() + long(at), rows.begin() + long(at + n));
  }
  uint32_t s1 = 1, s2 = 0;  // Adler-32
  for (uint8_t v : rows) s2 = (s2 + (s1 = (s1 + v) % 65521)) % 65521;
  for (int shift : {24, 16, 8, 0}) zlib.push_back(uint8_t((s2 << 16 | s1) >> shift));
  if (edit) edit(zlib);
  const std::vector<uint8_t> ihdr = {0, 0, uint8_t(width >> 8), uint8_t(width), 0, 0, uint8_t(height >> 8),
                                     uint8_t(height), 8, colourType, 0, 0, 0};
  chunks.insert(chunks.begin(), PngChunk("IHDR", ihdr));
  for (size_t at = 0; at < zlib.size(); at += 1000)
    chunks.push_back(PngChunk("IDAT", {&zlib[at], zlib.data() + std::min(zlib.size(), at + 1000)}));
  chunks.push_back(PngChunk("IEND", {}));
  for (const auto& chunk : chunks) png.insert(png.end(), chunk.begin(), chunk.end());
  return png;
}

// `height` rows of `rowBytes` random bytes, each after a random filter type.
std::vector<uint8_t> RandomRows(int height, size_t rowBytes, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> rows;
  for (int y = 0; y < height; ++y) {
    rows.push_back(uint8_t(random() % 5));
    for (size_t i = 0; i < rowBytes; ++i) rows.push_back(uint8_t(random() % 3 ? random() : 0x40));
  }
  return rows;
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

TEST_F(LoadFile, NamesComeFromThePathAndAFailureKeepsEverythingElse) {
  EXPECT_FALSE(picture.LoadFile("no-such-picture.png"));  // no slash: the path is the name
  EXPECT_EQ(picture.fileName + "|" + picture.filePath, "no-such-picture.png|no-such-picture.png");
  ASSERT_TRUE(picture.LoadFile(file("good.png", RandomImage(7, 5, QImage::Format_ARGB32, 11), "png")));
  EXPECT_EQ(picture.fileName, "good.png");
  const uint8_t* pixels = picture.pixelData.get();
  const uint32_t corner = PixelAt(picture, 6, 4);
  const auto bitmap = picture.decodedImage;
  const std::string bad = file("broken.png", {0x89, 'P', 'N', 'G', 1, 2, 3});
  EXPECT_FALSE(picture.LoadFile(bad));
  EXPECT_EQ(picture.fileName + "|" + picture.filePath, "broken.png|" + bad);
  EXPECT_EQ(std::tuple(picture.pixelData.get(), PixelAt(picture, 6, 4), picture.decodedImage),
            std::tuple(pixels, corner, bitmap));
  EXPECT_EQ(Sizes(picture), std::tuple(7, 5, 140, 32, 1));
  EXPECT_FALSE(picture.LoadFile(""));  // an empty path empties the names
  EXPECT_EQ(picture.fileName + picture.filePath, "");
  // Content decides over the suffix, and any path bytes work.
  const std::string odd = dir.file("really-a-png-\xff.jpg");  // not UTF-8
  ASSERT_EQ(std::rename(file("plain.png", Flat(3, 3, 0xFF00FF00), "png").c_str(), odd.c_str()), 0);
  ASSERT_TRUE(picture.LoadFile(odd));
  EXPECT_EQ(std::tuple(picture.fileName, picture.sourceBitsPerPixel),
            std::tuple("really-a-png-\xff.jpg", 24));
}

TEST_F(LoadFile, EachFormatGetsItsDepthAlphaAndColour) {
  // Pixels as LoadFile leaves them: straight alpha at depth 32, a fourth
  // byte of 0 at any other depth. (2, 2) within `tolerance` (JPEG's loss,
  // 5-bit channels, 16-bit channels; TIFF arrives premultiplied from Qt:
  // 0xFF8000 at alpha 0x40 is stored as 0x40, 0x20, 0x00); (1, 1) exactly.
  const auto grey = [](QImage::Format f) { return Flat(6, 4, 0xFF808080).convertToFormat(f); };
  const QImage colour = Flat(6, 4, 0xFF3070B0);
  std::vector<uint8_t> keyed = MakePng(6, 4, {2, 8}, [](int, uint8_t* row) {
    for (int x = 0; x < 6; ++x) std::memcpy(row + x * 3, x == 2 ? "\x30\x70\xB0" : "\x10\x20\x30", 3);
  });
  keyed =
      WithChunk(keyed, testing::PngChunk("tRNS", {0, 0x30, 0, 0x70, 0, 0xB0}));  // that colour transparent
  const std::vector<uint8_t> png = testing::ReadBytes(file("png", Flat(6, 4, 0xFF204060), "png"));
  std::vector<uint8_t> badText = WithChunk(png, testing::PngChunk("tEXt", {'a', 0, 'b'}));
  badText[33 + 12] ^= 1;  // the text chunk's checksum
  std::vector<uint8_t> jpeg = MakeJpeg(colour), strayBytes = jpeg;
  strayBytes.insert(strayBytes.end() - 2, {0x12, 0x34});  // before the end marker
  // GIF palette: 0 red, 1 green, 2 blue; (1, 1) takes index 1.
  std::vector<uint8_t> indices(24, 2);
  indices[7] = 1;
  const auto gif = [&](int transparent) {
    return testing::MakeGif(6, 4, {0xFF0000, 0x00FF00, 0x0000FF}, indices, transparent);
  };
  QImage withHole = Flat(6, 4, 0xFF204060, QImage::Format_ARGB32);
  withHole.setPixel(1, 1, 0);
  const std::vector<uint32_t> bmpPixels(24, 0x204060);
  constexpr uint32_t kAny = 1;  // (1, 1) not checked
  const struct { const char* name; std::string path; int depth; uint32_t at22, at11; int tolerance; } rows[] = {
      {"png 24-bit", file("a.png", png), 24, 0x204060, kAny, 0},
      {"png opaque palette",
       file("b.png", Flat(6, 4, 0xFF204060).convertToFormat(QImage::Format_Indexed8), "png"), 8, 0x204060,
       kAny, 0},
      {"png palette with a half-transparent entry", file("c.png", Palette6x4(), "png"), 32, 0xFF204060,
       0x80FF0000, 0},
      {"png two colours", file("d.png", Flat(6, 4, 0xFFFFFFFF).convertToFormat(QImage::Format_Mono), "png"),
       1, 0xFFFFFF, kAny, 0},
      {"png 8-bit grey", file("e.png", grey(QImage::Format_Grayscale8), "png"), 8, 0x808080, kAny, 0},
      {"png 16-bit grey", file("f.png", grey(QImage::Format_Grayscale16), "png"), 32, 0xFF808080, kAny, 1},
      {"png 64-bit with alpha",
       file("h.png", Flat(6, 4, 0x7F204060, QImage::Format_ARGB32).convertToFormat(QImage::Format_RGBA64),
            "png"),
       32, 0x7F204060, kAny, 1},
      {"png interlaced with alpha", file("l.png", MakePng(6, 4, {6, 8, true}, [](int, uint8_t* row) {
         for (int x = 0; x < 6; ++x) std::memcpy(row + x * 4, "\x20\x40\x60\x7F", 4);
       })),
       32, 0x7F204060, 0x7F204060, 0},
      {"png rgb with a transparent colour", file("i.png", keyed), 32, 0x003070B0, 0xFF102030, 0},
      {"png with a damaged text chunk", file("j.png", badText), 24, 0x204060, kAny, 0},
      {"png without IEND", file("k.png", std::vector<uint8_t>(png.begin(), png.end() - 12)), 24, 0x204060,
       kAny, 0},
      {"jpeg 24-bit", file("a.jpg", jpeg), 24, 0x3070B0, kAny, 3},
      {"jpeg grey", file("c.jpg", MakeJpeg(colour, {90, false, Colour::Grey})), 8, 0x707070, kAny, 3},
      {"jpeg cmyk", file("d.jpg", MakeJpeg(colour, {90, false, Colour::Cmyk})), 32, 0xFF3070B0, kAny, 3},
      {"jpeg without its end marker", file("e.jpg", std::vector<uint8_t>(jpeg.begin(), jpeg.end() - 2)), 24,
       0x3070B0, kAny, 3},
      {"jpeg with stray bytes before a marker", file("f.jpg", strayBytes), 24, 0x3070B0, kAny, 3},
      {"gif", file("a.gif", gif(-1)), 8, 0x0000FF, 0x00FF00, 0},
      {"gif with a transparent index", file("b.gif", gif(1)), 32, 0xFF0000FF, 0x0000FF00, 0},
      {"bmp 24-bit", file("a.bmp", MakeBmp(6, 4, 24, bmpPixels)), 24, 0x204060, kAny, 0},
      {"bmp 32-bit", file("b.bmp", MakeBmp(6, 4, 32, bmpPixels)), 32, 0xFF204060, kAny, 0},
      {"bmp 16-bit", file("c.bmp", MakeBmp(6, 4, 16, bmpPixels)), 16, 0x204060, kAny, 8},
      {"tiff with alpha", file("a.tiff", Flat(6, 4, 0x40FF8000, QImage::Format_ARGB32), "tiff"), 32,
       0x40FF8000, kAny, 2},
      {"xpm with a transparent colour", file("a.xpm", withHole, "xpm"), 32, 0xFF204060, 0, 0},
      // Stored pixel (column, row) is blue = row, green = column, red 0x40,
      // alpha 0xC0, rows stored bottom-up unless said otherwise.
      {"tga 24-bit", file("a.tga", testing::MakeTga(6, 4, 2, 24)), 24, 0x400201, kAny, 0},
      {"tga 32-bit, run-length, top-down", file("b.tga", testing::MakeTga(6, 4, 10, 32, false, true)), 32,
       0xC0400202, kAny, 0},
      {"tga 2.0, found by its footer", file("c.picture", testing::MakeTga(6, 4, 2, 32, true)), 32, 0xC0400201,
       kAny, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(picture.LoadFile(row.path));
    EXPECT_EQ(std::tuple(picture.sourceBitsPerPixel, picture.bitsPerPixel, picture.width, picture.height),
              std::tuple(row.depth, 32, 6, 4));
    EXPECT_TRUE(row.depth == 32 || EveryFourthByteIs(picture, 0));
    EXPECT_PRED3(Near, PixelAt(picture, 2, 2), row.at22, row.tolerance);
    if (row.at11 != kAny) {
      EXPECT_PRED3(Near, PixelAt(picture, 1, 1), row.at11, 0);
    }
    EXPECT_EQ(ProbeImageFile(row.path), DecodeError::None);
  }
}

TEST_F(LoadFile, PngOfEveryKindGivesLibspngsPixels) {
  // The truth: libspng's own decode to 8-bit RGBA with tRNS applied, red
  // and blue swapped. Rows come with every filter type; 37 x 21 covers
  // groups of eight rows and four pixels with some left over.
  const auto spngPixels = [](const std::vector<uint8_t>& png) {
    spng_ctx* ctx = spng_ctx_new(0);
    size_t bytes = 0;
    std::vector<uint8_t> out(spng_set_png_buffer(ctx, png.data(), png.size()) == 0 &&
                             spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &bytes) == 0 ? bytes : 0);
    if (spng_decode_image(ctx, out.data(), out.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0) out.clear();
    spng_ctx_free(ctx);
    for (size_t i = 0; i + 3 < out.size(); i += 4) std::swap(out[i], out[i + 2]);
    return out;
  };
  const int w = 37, h = 21;
  const auto rows = [&](int channels, uint32_t seed) { return RandomRows(h, size_t(w) * channels, seed); };
  // The same rows with their pixel (5, 3)'s colour made transparent.
  const auto keyed = [&](uint8_t type, int channels, uint32_t seed) {
    const std::vector<uint8_t> plain = spngPixels(HandMadePng(w, h, type, rows(channels, seed)));
    const uint8_t* p = &plain[(3 * w + 5) * 4];
    std::vector<uint8_t> key = {0, p[2], 0, p[1], 0, p[0]};  // red, green, blue; red is grey's grey
    key.resize(type == 0 ? 2 : 6);
    return HandMadePng(w, h, type, rows(channels, seed), {PngChunk("tRNS", key)});
  };
  const auto made = [&](int type, int depth, bool interlaced) {  // grey or RGBA, by libspng's encoder
    std::mt19937 random(uint32_t(type * 100 + depth));
    return MakePng(w, h, {type, depth, interlaced}, [&](int, uint8_t* row) {
      for (int i = 0; i < (w * (type == 6 ? 4 : 1) * depth + 7) / 8; ++i) row[i] = uint8_t(random());
    });
  };
  const std::vector<uint8_t> colours = RandomRows(1, 600, 11), alphas = RandomRows(1, 100, 12);
  const std::vector<uint8_t> palette = PngChunk("PLTE", {colours.begin() + 1, colours.end()});
  QFile srgb("/usr/share/color/icc/sRGB.icc");
  const QByteArray iccp =
      QByteArray("sRGB\0\0", 6) + (srgb.open(QIODevice::ReadOnly) ? qCompress(srgb.readAll()).mid(4) : "");
  const struct { const char* name; std::vector<uint8_t> png; } kinds[] = {
      {"grey", HandMadePng(w, h, 0, rows(1, 1))},
      {"grey with a transparent grey", keyed(0, 1, 2)},
      {"grey and alpha", HandMadePng(w, h, 4, rows(2, 3))},
      {"rgb", HandMadePng(w, h, 2, rows(3, 4))},
      {"rgb with a transparent colour", keyed(2, 3, 5)},
      {"rgba", HandMadePng(w, h, 6, rows(4, 6))},
      {"rgba with an sRGB profile",
       HandMadePng(w, h, 6, rows(4, 7), {PngChunk("iCCP", {iccp.begin(), iccp.end()})})},
      {"200 colours, indices past them", HandMadePng(w, h, 3, rows(1, 8), {palette})},
      {"palette with 100 alphas",
       HandMadePng(w, h, 3, rows(1, 9), {palette, PngChunk("tRNS", {alphas.begin() + 1, alphas.end()})})},
      {"rgba 600 x 120, in many blocks", HandMadePng(600, 120, 6, RandomRows(120, 2400, 10))},
      {"grey 4-bit", made(0, 4, false)},
      {"rgba 16-bit", made(6, 16, false)},
      {"rgba interlaced", made(6, 8, true)},
      {"rgba by libspng's encoder", made(6, 8, false)},
      {"rgb whose stream holds a row more", HandMadePng(w, h - 1, 2, rows(3, 4))},
      {"rgba with a byte after its stream",
       HandMadePng(w, h, 6, rows(4, 6), {}, [](auto& z) { z.push_back(0); })},
  };
  for (const auto& kind : kinds) {
    SCOPED_TRACE(kind.name);
    const std::vector<uint8_t> expected = spngPixels(kind.png);
    ASSERT_FALSE(expected.empty());
    const std::string path = file("kind.png", kind.png);
    testing::ForEachSimdLevel([&] {
      const DecodeResult result = DecodeImageFile(path);
      ASSERT_TRUE(result.ok() && size_t(result.bitmap->byteCount()) == expected.size());
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), result.bitmap->pixels.get()));
    });
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

TEST_F(LoadFile, BadFilesFailCleanly) {
  ASSERT_EQ(::mkdir(dir.file("folder.png").c_str(), 0700), 0);
  ASSERT_EQ(::mkfifo(dir.file("pipe.png").c_str(), 0600), 0);  // opening must not block
  const std::string locked = file("locked.png", Flat(2, 2, 0xFF000000), "png");
  ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
  std::vector<uint8_t> png =
      testing::ReadBytes(file("src.png", RandomImage(8, 8, QImage::Format_ARGB32, 3), "png"));
  ASSERT_GT(png.size(), 60u);
  png[png.size() - 13] ^= 0x5A;  // the last IDAT's CRC: its data whole, the CRC no longer matches
  std::vector<uint8_t> jpeg = MakeJpeg(RandomImage(32, 32, QImage::Format_RGB32, 4));
  jpeg[jpeg.size() / 2] = 0xFF;  // a marker in the middle of the data
  jpeg[jpeg.size() / 2 + 1] = 0xD9;
  const std::vector<uint8_t> rgb = RandomRows(9, 30, 21);  // 10 x 9 RGB, whole
  std::vector<uint8_t> badFilter = rgb;
  badFilter[31 * 4] = 5;  // row 4's filter type
  const auto edited = [&](auto edit) { return HandMadePng(10, 9, 2, rgb, {}, edit); };
  const struct { const char* name; std::string path; DecodeError error; } cases[] = {
      {"missing", dir.file("missing.png"), DecodeError::NotFound},
      {"empty", file("empty.png", {}), DecodeError::NotAnImage},
      {"not an image", file("notes.png", std::vector<uint8_t>(200, 'x')), DecodeError::NotAnImage},
      {"directory", dir.file("folder.png"), DecodeError::CannotOpen},
      {"fifo", dir.file("pipe.png"), DecodeError::CannotOpen},
      {"character device", "/dev/zero", DecodeError::CannotOpen},
      {"unreadable", ::geteuid() == 0 ? "/dev/zero" : locked,
       DecodeError::CannotOpen},  // root reads anything
      {"png with a bad checksum", file("corrupt.png", png), DecodeError::Corrupt},
      {"png with a filter type of 5", file("f5.png", HandMadePng(10, 9, 2, badFilter)), DecodeError::Corrupt},
      {"grey png with a filter type of 5", file("g5.png", HandMadePng(30, 9, 0, badFilter)), DecodeError::Corrupt},
      {"png with a bad Adler-32", file("a.png", edited([](auto& z) { ++z.back(); })), DecodeError::Corrupt},
      {"png with a row too few", file("few.png", HandMadePng(10, 10, 2, rgb)), DecodeError::Corrupt},
      {"png whose stream stops", file("s.png", edited([](auto& z) { z.resize(20); })), DecodeError::Corrupt},
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
