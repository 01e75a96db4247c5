// HEIC, AVIF, JPEG XL, SVG and colour profiles: every decode held against
// the format's own reference decoder (heif-convert, avifdec, djxl) or
// LittleCMS's own tools (tificc, jpgicc) on files the encoders make here;
// files cut short; the decode budget; sRGB and untagged pictures untouched.
// Rows whose tools are missing are skipped with a message.
#include <gtest/gtest.h>

#include <QColorSpace>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "colour_transform.h"
#include "decoder.h"
#include "picture_test_support.h"
#include "prepare.h"

namespace plombix {
namespace {

const std::string kIcc = "/usr/share/color/icc/";

bool Shell(const std::string& command) {
  return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0;
}
bool Have(const std::string& tools) {
  std::istringstream names(tools);
  for (std::string tool; names >> tool;)
    if (!Shell("command -v " + tool)) return false;
  return true;
}
std::string Fill(std::string text, const std::string& key, const std::string& value) {
  for (size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
  return text;
}

// Photo-like: hues across, light down, soft discs, alpha graded across.
QImage Photo(int w, int h, QImage::Format format = QImage::Format_RGB32) {
  QImage image(w, h, format);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      image.setPixelColor(x, y, QColor::fromHsv(x * 359 / w, 255 - y * 200 / h, 90 + y * 160 / h,
                                                40 + x * 215 / w));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  for (int i = 0; i < 6; ++i) {
    painter.setBrush(QColor::fromHsv(i * 60, 180, 220, 200));
    painter.drawEllipse(QPointF(w * (i + 1) / 7.0, h / 2.0), w / 9.0, h / 4.0);
  }
  return image;
}

// A JPEG with `icc` embedded as one APP2 ICC_PROFILE chunk after SOI.
std::vector<uint8_t> WithIcc(std::vector<uint8_t> jpeg, const std::vector<uint8_t>& icc) {
  std::vector<uint8_t> app2 = {0xFF, 0xE2, 0, 0};
  for (const char* c = "ICC_PROFILE"; *c; ++c) app2.push_back(uint8_t(*c));
  app2.insert(app2.end(), {0, 1, 1});
  app2.insert(app2.end(), icc.begin(), icc.end());
  app2[2] = uint8_t((app2.size() - 2) >> 8), app2[3] = uint8_t(app2.size() - 2);
  jpeg.insert(jpeg.begin() + 2, app2.begin(), app2.end());
  return jpeg;
}

std::vector<uint8_t> Adobe() { return testing::ReadBytes(kIcc + "compatibleWithAdobeRGB1998.icc"); }

class Formats : public ::testing::Test {
 protected:
  // The source files the rows start from, made on first use.
  std::string source(const std::string& kind) {
    const std::string path = dir.file("src-" + kind);
    if (std::ifstream(path)) return path;
    QImage image = Photo(96, 64, kind == "rgba.png" ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (kind == "adobe.tif" || kind == "adobe16.png") {
      if (kind == "adobe16.png") image.convertTo(QImage::Format_RGBX64);
      const std::vector<uint8_t> icc = Adobe();
      image.setColorSpace(QColorSpace::fromIccProfile(
          QByteArray(reinterpret_cast<const char*>(icc.data()), qsizetype(icc.size()))));
    }
    if (kind == "turned.jpg") testing::WriteBytes(path, testing::MakeJpeg(image, {95, false, {}, 6}));
    else if (kind == "adobe.jpg") testing::WriteBytes(path, WithIcc(testing::MakeJpeg(image, {98}), Adobe()));
    else if (kind == "grey.jpg")
      testing::WriteBytes(path, WithIcc(testing::MakeJpeg(image, {98, false, testing::JpegOptions::Colour::Grey}),
                                        testing::ReadBytes(kIcc + "Gray.icc")));
    else image.save(QString::fromStdString(path), kind.substr(kind.size() - 3).c_str());
    return path;
  }
  testing::TempDir dir;
};

struct FormatRow {
  const char* name;
  const char* tools;
  const char* source;     // kind of source(), or two for an animation
  const char* make;       // {src} -> {file}; empty: the source itself
  const char* reference;  // {file} -> {ref}, a PNG, TIFF or JPEG
  int bitsPerPixel;
  double meanLimit;       // mean absolute difference a byte
};

const FormatRow kFormats[] = {
    {"HEIC", "heif-enc heif-convert", "rgb.png", "heif-enc -q 90 {src} -o {file}", "heif-convert {file} {ref}.png", 24, 1},
    {"HEIC with alpha", "heif-enc heif-convert", "rgba.png", "heif-enc -q 90 {src} -o {file}", "heif-convert {file} {ref}.png", 32, 1},
    {"AVIF", "avifenc avifdec", "rgb.png", "avifenc -s 10 {src} {file}", "avifdec {file} {ref}.png", 24, 1},
    {"AVIF 10 bits with alpha", "avifenc avifdec", "rgba.png", "avifenc -s 10 -d 10 {src} {file}", "avifdec -d 8 {file} {ref}.png", 32, 1},
    {"AVIF animation: first frame", "avifenc avifdec", "rgb.png rgba.png", "avifenc -s 10 {src} {file}", "avifdec {file} {ref}.png", 32, 1},
    {"JPEG XL lossless", "cjxl djxl", "rgba.png", "cjxl -d 0 {src} {file}", "djxl {file} {ref}.png", 32, 0},
    {"JPEG XL lossy", "cjxl djxl", "rgb.png", "cjxl -d 1 {src} {file}", "djxl {file} {ref}.png", 24, 1},
    {"JPEG XL from a turned JPEG", "cjxl djxl", "turned.jpg", "cjxl {src} {file}", "djxl {file} {ref}.png", 24, 1},
    {"TIFF in Adobe RGB", "tificc", "adobe.tif", "", "tificc {file} {ref}.tif", 24, 1},
    {"16-bit PNG in Adobe RGB", "tificc", "adobe16.png", "", "tificc -w8 {tif} {ref}.tif", 32, 1},
    {"JPEG in Adobe RGB", "jpgicc", "adobe.jpg", "", "jpgicc -q100 {file} {ref}.jpg", 24, 1},
    {"grey JPEG with a grey profile", "jpgicc", "grey.jpg", "", "jpgicc -q100 {file} {ref}.jpg", 8, 1},
};

TEST_F(Formats, DecodesAsTheFormatsOwnToolsDo) {
  for (const FormatRow& row : kFormats) {
    SCOPED_TRACE(row.name);
    if (!Have(row.tools)) {
      std::cout << "[  SKIPPED ] " << row.name << ": needs " << row.tools << "\n";
      continue;
    }
    std::string sources;
    std::istringstream kinds(row.source);
    for (std::string kind; kinds >> kind;) sources += source(kind) + " ";
    const std::string file = *row.make ? dir.file(std::string("file-") + row.name) : source(row.source);
    const std::string ref = dir.file(std::string("ref-") + row.name);
    ASSERT_TRUE(!*row.make || Shell(Fill(Fill(row.make, "{src}", sources), "{file}", "'" + file + "'")));
    std::string reference = Fill(Fill(row.reference, "{file}", "'" + file + "'"), "{ref}", "'" + ref + "'");
    if (std::string(row.source) == "adobe16.png") {  // tificc reads TIFF: the same pixels and profile
      QImage same(QString::fromStdString(file));
      ASSERT_TRUE(same.save(QString::fromStdString(ref + "-in.tif")));
      reference = Fill(reference, "{tif}", "'" + ref + "-in.tif'");
    }
    ASSERT_TRUE(Shell(reference)) << reference;
    const std::string suffix = reference.substr(reference.size() - 4);
    const QImage expected = QImage(QString::fromStdString(ref + suffix)).convertToFormat(QImage::Format_ARGB32);
    const DecodeResult got = DecodeImageFile(file);
    ASSERT_TRUE(got.ok()) << DecodeErrorText(got.error);
    EXPECT_EQ(got.bitmap->bitsPerPixel, row.bitsPerPixel);
    ASSERT_EQ(got.bitmap->width, expected.width());
    ASSERT_EQ(got.bitmap->height, expected.height());
    double total = 0;
    const int bytes = row.bitsPerPixel == 32 ? 4 : 3;
    for (int y = 0; y < expected.height(); ++y)
      for (int x = 0; x < expected.width() * 4; ++x)
        if (x % 4 < bytes)
          total += std::abs(int(got.bitmap->pixels[size_t(y * expected.width() * 4 + x)]) -
                            int(expected.constScanLine(y)[x]));
    EXPECT_LE(total / (expected.width() * expected.height() * bytes), row.meanLimit);
  }
}

// The bytes DecodeImageFile gives, or the reason as text.
std::string Decoded(const std::string& path) {
  const DecodeResult r = DecodeImageFile(path);
  return r.ok() ? std::string(r.bitmap->pixels.get(), r.bitmap->pixels.get() + r.bitmap->byteCount())
                : DecodeErrorText(r.error);
}

PreparedPicture Prepared(const std::string& path, int width = 640, int height = 360) {
  PrepareRequest request;
  request.path = path;
  request.outputWidth = width;
  request.outputHeight = height;
  return PreparePicture(request);
}

TEST_F(Formats, FilesCutShortNeverDecode) {
  const std::string svg = "<svg xmlns='http://www.w3.org/2000/svg' width='8' height='8'>"
                          "<circle cx='4' cy='4' r='3' fill='red'/></svg>\n";
  testing::WriteBytes(dir.file("a.svg"), std::vector<uint8_t>(svg.begin(), svg.end()));
  std::vector<std::string> files = {dir.file("a.svg")};
  const std::pair<const char*, const char*> makers[] = {
      {"gzip", "gzip -c {dir}/a.svg > {dir}/a.svgz"},
      {"heif-enc", "heif-enc -q 90 {rgb} -o {dir}/a.heic"},
      {"avifenc", "avifenc -s 10 {rgb} {dir}/a.avif"},
      {"cjxl", "cjxl -d 0 {rgb} {dir}/a.jxl && cjxl -d 1 {rgb} {dir}/b.jxl"}};
  for (const auto& [tool, command] : makers) {
    if (!Have(tool)) {
      std::cout << "[  SKIPPED ] cut " << command << ": needs " << tool << "\n";
      continue;
    }
    ASSERT_TRUE(Shell(Fill(Fill(command, "{dir}", dir.path()), "{rgb}", source("rgb.png"))));
  }
  for (const char* name : {"a.svgz", "a.heic", "a.avif", "a.jxl", "b.jxl"})
    if (std::ifstream(dir.file(name))) files.push_back(dir.file(name));
  for (const std::string& file : files) {
    const std::vector<uint8_t> whole = testing::ReadBytes(file);
    ASSERT_TRUE(DecodeImageFile(file).ok()) << file;
    for (size_t cut : {whole.size() / 4, whole.size() / 2, whole.size() * 3 / 4, whole.size() - 8}) {
      testing::WriteBytes(dir.file("cut"), std::vector<uint8_t>(whole.begin(), whole.begin() + long(cut)));
      EXPECT_FALSE(DecodeImageFile(dir.file("cut")).ok()) << file << " cut at " << cut;
      EXPECT_FALSE(Prepared(dir.file("cut")).ok()) << file << " cut at " << cut;
    }
  }
}

TEST_F(Formats, BudgetRefusesBeforeDecoding) {
  // A JPEG XL header alone (size, default metadata and transforms), no frame: 20000 x
  // 20000 is refused for its size; 64 x 64 gets as far as the missing frame.
  const auto header = [](int side) {
    std::vector<uint8_t> bytes = {0xFF, 0x0A};
    const uint64_t bits = 0 | (2u << 1) | (uint64_t(side - 1) << 3) | (1ull << 21) | (3ull << 24);
    for (int i = 0; i < 32; i += 8) bytes.push_back(uint8_t(bits >> i));
    return bytes;
  };
  testing::WriteBytes(dir.file("huge.jxl"), header(20000));
  testing::WriteBytes(dir.file("small.jxl"), header(64));
  EXPECT_EQ(Decoded(dir.file("huge.jxl")), DecodeErrorText(DecodeError::TooLarge));
  EXPECT_EQ(Decoded(dir.file("small.jxl")), DecodeErrorText(DecodeError::Corrupt));
  // A HEIC whose image header claims 20000 x 20000.
  if (!Have("heif-enc")) GTEST_SKIP() << "needs heif-enc";
  ASSERT_TRUE(Shell("heif-enc -q 50 " + source("rgb.png") + " -o " + dir.file("a.heic")));
  std::vector<uint8_t> heic = testing::ReadBytes(dir.file("a.heic"));
  const auto ispe = std::search(heic.begin(), heic.end(), std::begin("ispe"), std::end("ispe") - 1);
  ASSERT_NE(ispe, heic.end());
  for (int i = 8; i < 16; i += 4) std::copy_n("\0\0\x4e\x20", 4, ispe + i);  // 20000
  testing::WriteBytes(dir.file("huge.heic"), heic);
  EXPECT_EQ(Decoded(dir.file("huge.heic")), DecodeErrorText(DecodeError::TooLarge));
}

TEST_F(Formats, SvgIsDrawnAtTheSizeItIsShownAt) {
  for (const char* side : {"10", "60000"}) {
    const std::string svg = std::string("<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 10 10' width='") +
                            side + "' height='" + side + "'><rect width='5' height='10' fill='#fff'/></svg>";
    testing::WriteBytes(dir.file("a.svg"), std::vector<uint8_t>(svg.begin(), svg.end()));
    const PreparedPicture p = Prepared(dir.file("a.svg"));
    ASSERT_TRUE(p.ok()) << side;
    EXPECT_EQ(p.sourceWidth, std::stoi(side));  // the labels' "from" size: as declared
    ASSERT_EQ(p.width, 360);
    // White opaque left of column 180, transparent right of it, nothing between:
    // drawn at 360 x 360, not drawn at 10 x 10 and enlarged.
    for (int x = 0; x < 360; ++x)
      ASSERT_EQ(testing::PixelAt(p.pixels.get(), 360, x, 100), x < 180 ? 0xFFFFFFFFu : 0u) << x;
  }
  // The same drawing whole at its declared size is beyond the budget.
  EXPECT_EQ(Decoded(dir.file("a.svg")), DecodeErrorText(DecodeError::TooLarge));
}

TEST_F(Formats, SrgbAndUntaggedPicturesAreUntouchedOthersNamedAndConverted) {
  const std::vector<uint8_t> plain = testing::MakeJpeg(Photo(96, 64), {98});
  testing::WriteBytes(dir.file("plain.jpg"), plain);
  testing::WriteBytes(dir.file("srgb.jpg"), WithIcc(plain, testing::ReadBytes(kIcc + "sRGB.icc")));
  testing::WriteBytes(dir.file("adobe.jpg"), WithIcc(plain, Adobe()));
  EXPECT_EQ(Decoded(dir.file("srgb.jpg")), Decoded(dir.file("plain.jpg")));
  EXPECT_NE(Decoded(dir.file("adobe.jpg")), Decoded(dir.file("plain.jpg")));
  EXPECT_EQ(Prepared(dir.file("plain.jpg")).colourProfile, "");
  EXPECT_EQ(Prepared(dir.file("srgb.jpg")).colourProfile, "sRGB");
  EXPECT_EQ(Prepared(dir.file("adobe.jpg")).colourProfile, "Compatible with Adobe RGB (1998)");
  setenv("PLOMBIX_COLOUR_MANAGE", "0", 1);
  EXPECT_EQ(Decoded(dir.file("adobe.jpg")), Decoded(dir.file("plain.jpg")));
  EXPECT_EQ(Prepared(dir.file("adobe.jpg")).colourProfile, "Compatible with Adobe RGB (1998)");
  unsetenv("PLOMBIX_COLOUR_MANAGE");
}

TEST(ColourTransform, FastPathWithinOneLevelOfLittleCms) {
  const std::vector<uint8_t> profiles[] = {Adobe(), testing::ReadBytes(kIcc + "LStar-RGB.icc"),
                                           IccFromCodePoints(12, 13), IccFromCodePoints(9, 1)};
  for (const std::vector<uint8_t>& icc : profiles) {
    const auto fast = MakeColourTransform(icc.data(), icc.size());
    const auto slow = MakeColourTransform(icc.data(), icc.size(), true);
    ASSERT_TRUE(fast && slow && fast->matrixShaper() && !slow->matrixShaper());
    std::vector<uint8_t> a = testing::RandomBytes(size_t(1) << 20, 7), b = a;
    fast->Convert(a.data(), a.size() / 4);
    slow->Convert(b.data(), b.size() / 4);
    for (size_t i = 0; i < a.size(); ++i) ASSERT_LE(std::abs(a[i] - b[i]), 1) << i << " of " << icc.size();
  }
}

}  // namespace
}  // namespace plombix
