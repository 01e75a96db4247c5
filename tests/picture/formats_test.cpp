// HEIC, AVIF, JPEG XL, SVG and colour profiles, each decode held against the
// format's own decoder or LittleCMS's tools on files their encoders make here
// (rows whose tools are missing are skipped, with a message); files cut
// short; the decode budget; sRGB and untagged pictures untouched.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <QColorSpace>
#include <QImage>
#include <algorithm>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>

#include "colour_transform.h"
#include "decoder.h"
#include "picture_test_support.h"
#include "prepare.h"

namespace plombix {
namespace {

using testing::MakeJpeg;
using Bytes = std::vector<uint8_t>;

bool Shell(const std::string& command) { return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0; }
// Whether the first word of `command` is a program on the path.
bool Have(const std::string& command) { return Shell("command -v " + command.substr(0, command.find(' '))); }
// `text` with {key} replaced by `value`, quoted unless asked not to.
std::string Fill(const std::string& text, const std::string& key, const std::string& value, bool quote = true) {
  return std::regex_replace(text, std::regex("\\{" + key + "\\}"), quote ? "'" + value + "'" : value);
}
Bytes Icc(const std::string& name) { return testing::ReadBytes("/usr/share/color/icc/" + name + ".icc"); }
void Write(const std::string& path, const std::string& text) { testing::WriteBytes(path, Bytes(text.begin(), text.end())); }

// Photo-like: hues across, light down, alpha graded across, and blocks of
// paler colour with sharp edges.
QImage Photo(QImage::Format format = QImage::Format_RGB32) {
  QImage image(96, 64, format);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 96; ++x)
      image.setPixelColor(x, y, QColor::fromHsv(x * 3, (x / 12 + y / 16) % 3 ? 255 - y * 3 : 90,
                                                90 + y * 5 / 2, 40 + x * 2));
  return image;
}

// A JPEG with `icc` embedded as one APP2 ICC_PROFILE chunk after SOI.
Bytes WithIcc(Bytes jpeg, const Bytes& icc) {
  Bytes app2 = {0xFF, 0xE2, 0, 0, 'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 1, 1};
  app2.insert(app2.end(), icc.begin(), icc.end());
  app2[2] = uint8_t((app2.size() - 2) >> 8), app2[3] = uint8_t(app2.size() - 2);
  jpeg.insert(jpeg.begin() + 2, app2.begin(), app2.end());
  return jpeg;
}

// A press profile of our own (the free profiles have none): any CMYK -> Lab
// table serves, as LittleCMS's tool and the player read the same.
Bytes CmykProfile() {
  cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
  cmsSetDeviceClass(profile, cmsSigOutputClass), cmsSetColorSpace(profile, cmsSigCmykData);
  cmsSetPCS(profile, cmsSigLabData);
  cmsUInt16Number lab[16 * 3];  // L*, a*, b* at the corners of the grid: bits 3..0 of i are C, M, Y, K
  for (int i = 0; i < 16; ++i) {
    lab[i * 3] = cmsUInt16Number((i & 1) ? 3000 : 65535 - 15000 * ((i >> 3 & 1) + (i >> 2 & 1) + (i >> 1 & 1)));
    lab[i * 3 + 1] = cmsUInt16Number(0x8080 + 9000 * ((i >> 2 & 1) - (i >> 3 & 1)));
    lab[i * 3 + 2] = cmsUInt16Number(0x8080 + 9000 * ((i >> 1 & 1) - (i >> 2 & 1)));
  }
  cmsStage* grid = cmsStageAllocCLut16bit(nullptr, 2, 4, 3, lab);
  cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, 4, 3);
  cmsPipelineInsertStage(pipeline, cmsAT_END, grid);
  cmsWriteTag(profile, cmsSigAToB0Tag, pipeline);
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  Bytes icc(size);
  cmsSaveProfileToMem(profile, icc.data(), &size), cmsPipelineFree(pipeline), cmsCloseProfile(profile);
  return icc;
}

class Formats : public ::testing::Test {
 protected:
  // The source files the rows start from, made on first use.
  std::string source(const std::string& kind) {
    using Colour = testing::JpegOptions::Colour;
    const std::string path = dir.file("src-" + kind);
    QImage image = Photo(kind == "rgba.png" ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    const Bytes adobe = Icc("compatibleWithAdobeRGB1998");
    const QByteArray profile(reinterpret_cast<const char*>(adobe.data()), qsizetype(adobe.size()));
    if (kind.find("adobe") != std::string::npos) image.setColorSpace(QColorSpace::fromIccProfile(profile));
    if (kind == "adobe16.png") image.convertTo(QImage::Format_RGBX64);
    if (std::ifstream(path)) return path;
    if (kind == "turned.jpg") testing::WriteBytes(path, MakeJpeg(image, {95, false, {}, 6}));
    if (kind == "adobe.jpg") testing::WriteBytes(path, WithIcc(MakeJpeg(image, {98}), adobe));
    if (kind == "grey.jpg") testing::WriteBytes(path, WithIcc(MakeJpeg(image, {98, false, Colour::Grey}), Icc("Gray")));
    if (kind == "cmyk.jpg") testing::WriteBytes(path, WithIcc(MakeJpeg(image, {98, false, Colour::Cmyk}), CmykProfile()));
    if (kind.find(".jpg") == std::string::npos) image.save(QString::fromStdString(path));
    if (kind == "adobe16.png") image.save(QString::fromStdString(path + ".tif"));  // for tificc
    return path;
  }
  testing::TempDir dir;
};

// A file made from `source` by `make` ({src} -> {file}; none: the source itself), its reference
// decode ({file} -> {ref}.png, .tif or .jpg), its depth, the largest mean difference a byte.
struct FormatRow { const char *name, *source, *make, *reference; int bitsPerPixel; double meanLimit; };

const FormatRow kFormats[] = {
    {"HEIC", "rgb.png", "heif-enc -q 90 {src} -o {file}", "heif-convert {file} {ref}.png", 24, 1},
    {"HEIC with alpha", "rgba.png", "heif-enc -q 90 {src} -o {file}", "heif-convert {file} {ref}.png", 32, 1},
    {"AVIF", "rgb.png", "avifenc -s 10 {src} {file}", "avifdec {file} {ref}.png", 24, 1},
    {"AVIF, 10 bits with alpha", "rgba.png", "avifenc -s 10 -d 10 {src} {file}", "avifdec -d 8 {file} {ref}.png", 32, 1},
    {"AVIF animation: its first frame", "rgb.png rgba.png", "avifenc -s 10 {src} {file}", "avifdec {file} {ref}.png", 32, 1},
    {"JPEG XL lossless", "rgba.png", "cjxl -d 0 {src} {file}", "djxl {file} {ref}.png", 32, 0},
    {"JPEG XL lossy", "rgb.png", "cjxl -d 1 {src} {file}", "djxl {file} {ref}.png", 24, 1},
    {"JPEG XL from a turned JPEG", "turned.jpg", "cjxl {src} {file}", "djxl {file} {ref}.png", 24, 1},
    {"TIFF in Adobe RGB", "adobe.tif", "", "tificc {file} {ref}.tif", 24, 1},
    {"16-bit PNG in Adobe RGB", "adobe16.png", "", "tificc -w8 {file}.tif {ref}.tif", 32, 1},
    {"JPEG in Adobe RGB", "adobe.jpg", "", "jpgicc -q100 {file} {ref}.jpg", 24, 1},
    {"grey JPEG with a grey profile", "grey.jpg", "", "jpgicc -q100 {file} {ref}.jpg", 8, 1},
    {"CMYK JPEG with a press profile", "cmyk.jpg", "", "jpgicc -q100 {file} {ref}.jpg", 32, 1},
};

TEST_F(Formats, DecodesAsTheFormatsOwnToolsDo) {
  for (const FormatRow& row : kFormats) {
    SCOPED_TRACE(row.name);
    if (!Have(row.reference) || (*row.make && !Have(row.make))) {
      std::cout << "[  SKIPPED ] " << row.name << ": needs " << row.make << " " << row.reference << "\n";
      continue;
    }
    const std::string file = *row.make ? dir.file(std::string("file-") + row.name) : source(row.source);
    const std::string ref = dir.file(std::string("ref-") + row.name);
    std::istringstream kinds(row.source);
    std::string sources;
    for (std::string kind; kinds >> kind;) sources += Fill("{s} ", "s", source(kind));
    if (*row.make) {
      ASSERT_TRUE(Shell(Fill(Fill(row.make, "src", sources, false), "file", file)));
    }
    ASSERT_TRUE(Shell(Fill(Fill(row.reference, "file", file), "ref", ref))) << row.reference;
    const QImage expected = QImage(QString::fromStdString(ref + (strrchr(row.reference, '}') + 1)))
                                .convertToFormat(QImage::Format_ARGB32);
    const DecodeResult got = DecodeImageFile(file);
    ASSERT_TRUE(got.ok()) << DecodeErrorText(got.error);
    EXPECT_EQ(got.bitmap->bitsPerPixel, row.bitsPerPixel);
    ASSERT_EQ(got.bitmap->byteCount(), int64_t(expected.sizeInBytes()));
    double total = 0;
    const int bytes = row.bitsPerPixel == 32 ? 4 : 3;  // alpha only where there is some
    for (int i = 0; i < got.bitmap->byteCount(); ++i)
      if (i % 4 < bytes) total += std::abs(got.bitmap->pixels[size_t(i)] - expected.constBits()[i]);
    EXPECT_LE(total / double(got.bitmap->byteCount() / 4 * bytes), row.meanLimit);
  }
}

// The bytes DecodeImageFile gives, or the reason in words; the picture
// prepared for a 640 x 360 output in Contain.
std::string Decoded(const std::string& path) {
  const DecodeResult r = DecodeImageFile(path);
  return r.ok() ? std::string(&r.bitmap->pixels[0], &r.bitmap->pixels[r.bitmap->byteCount()])
                : DecodeErrorText(r.error);
}
PreparedPicture Prepared(const std::string& path) { return PreparePicture({path, {}, 1, 640, 360}); }

TEST_F(Formats, FilesCutShortNeverDecode) {
  Write(dir.file("a.svg"), "<svg xmlns='http://www.w3.org/2000/svg' width='8' height='8'><circle r='3'/></svg>\n");
  for (const std::string command : {"gzip -c {dir}/a.svg > {dir}/a.svgz", "heif-enc {rgb} -o {dir}/a.heic",
                                    "avifenc -s 10 {rgb} {dir}/a.avif", "cjxl -d 0 {rgb} {dir}/a.jxl",
                                    "cjxl -d 1 {rgb} {dir}/b.jxl"})
    if (!Have(command) || !Shell(Fill(Fill(command, "dir", dir.path()), "rgb", source("rgb.png"))))
      std::cout << "[  SKIPPED ] cut short: " << command << "\n";
  for (const char* name : {"a.svg", "a.svgz", "a.heic", "a.avif", "a.jxl", "b.jxl"}) {
    const Bytes whole = testing::ReadBytes(dir.file(name));
    if (whole.empty()) continue;
    ASSERT_TRUE(DecodeImageFile(dir.file(name)).ok()) << name;
    for (size_t cut : {whole.size() / 4, whole.size() / 2, whole.size() * 3 / 4, whole.size() - 8}) {
      testing::WriteBytes(dir.file("cut"), Bytes(whole.begin(), whole.begin() + long(cut)));
      EXPECT_FALSE(DecodeImageFile(dir.file("cut")).ok()) << name << " cut at " << cut;
      EXPECT_FALSE(Prepared(dir.file("cut")).ok()) << name << " cut at " << cut;
    }
  }
}

TEST_F(Formats, BudgetRefusesBeforeDecoding) {
  // 10000 x 10000 pixels of 4 bytes fit the budget, not with what the decoders hold beside them. A JPEG XL
  // header alone (size; default metadata, transforms) is refused; at 64 x 64 it reaches the missing frame.
  for (const int side : {10000, 64}) {
    Bytes jxl = {0xFF, 0x0A};
    const uint64_t bits = (2u << 1) | (uint64_t(side - 1) << 3) | (1ull << 21) | (3ull << 24);
    for (int i = 0; i < 32; i += 8) jxl.push_back(uint8_t(bits >> i));
    testing::WriteBytes(dir.file("a.jxl"), jxl);
    EXPECT_EQ(Decoded(dir.file("a.jxl")), DecodeErrorText(side > 64 ? DecodeError::TooLarge : DecodeError::Corrupt));
  }
  // A HEIC whose image header (ispe: width, height) claims 10000 x 10000.
  if (!Shell("heif-enc '" + source("rgb.png") + "' -o '" + dir.file("a.heic") + "'")) GTEST_SKIP() << "no heif-enc";
  Bytes heic = testing::ReadBytes(dir.file("a.heic"));
  const auto ispe = std::search(heic.begin(), heic.end(), std::begin("ispe"), std::end("ispe") - 1);
  for (int i = 8; i < 16 && ispe != heic.end(); i += 4) std::copy_n("\0\0\x27\x10", 4, ispe + i);
  testing::WriteBytes(dir.file("a.heic"), heic);
  EXPECT_EQ(Decoded(dir.file("a.heic")), DecodeErrorText(DecodeError::TooLarge));
}

TEST_F(Formats, SvgIsDrawnAtTheSizeItIsShownAt) {
  for (const std::string side : {"10", "60000"}) {  // a picture it names by path is left out
    Write(dir.file("a.svg"), "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' width='" +
                                 side + "' height='" + side + "' viewBox='0 0 10 10'><rect width='5' height='10' fill='#fff'/>"
                                 "<image x='5' width='5' height='10' xlink:href='" + source("rgb.png") + "'/></svg>");
    const PreparedPicture p = Prepared(dir.file("a.svg"));
    ASSERT_TRUE(p.ok() && p.width == 360) << side;
    EXPECT_EQ(p.sourceWidth, std::stoi(side));  // the labels' "from" size: as declared
    // White left of column 180, clear right, nothing between: drawn at 360 x 360, not enlarged.
    for (int x = 0; x < 360; ++x)
      ASSERT_EQ(testing::PixelAt(p.pixels.get(), 360, x, 100), x < 180 ? 0xFFFFFFFFu : 0u) << x;
  }
  // The same drawing whole at its declared size is beyond the budget.
  EXPECT_EQ(Decoded(dir.file("a.svg")), DecodeErrorText(DecodeError::TooLarge));
}

TEST_F(Formats, SrgbAndUntaggedPicturesAreUntouchedOthersNamedAndConverted) {
  const Bytes plain = testing::MakeJpeg(Photo(), {98});
  testing::WriteBytes(dir.file("plain.jpg"), plain);
  testing::WriteBytes(dir.file("srgb.jpg"), WithIcc(plain, Icc("sRGB")));
  testing::WriteBytes(dir.file("adobe.jpg"), WithIcc(plain, Icc("compatibleWithAdobeRGB1998")));
  EXPECT_EQ(Decoded(dir.file("srgb.jpg")), Decoded(dir.file("plain.jpg")));
  EXPECT_NE(Decoded(dir.file("adobe.jpg")), Decoded(dir.file("plain.jpg")));
  EXPECT_EQ(Prepared(dir.file("plain.jpg")).colourProfile, "");
  EXPECT_EQ(Prepared(dir.file("srgb.jpg")).colourProfile, "sRGB");
  setenv("PLOMBIX_COLOUR_MANAGE", "0", 1);
  EXPECT_EQ(Decoded(dir.file("adobe.jpg")), Decoded(dir.file("plain.jpg")));
  EXPECT_EQ(Prepared(dir.file("adobe.jpg")).colourProfile, "Compatible with Adobe RGB (1998)");
  unsetenv("PLOMBIX_COLOUR_MANAGE");
}

// Every SIMD level gives the same bytes, within one level of LittleCMS.
TEST(ColourTransform, FastPathWithinOneLevelOfLittleCms) {
  for (const Bytes& icc : {Icc("compatibleWithAdobeRGB1998"), Icc("LStar-RGB"), IccFromCodePoints(12, 13),
                           IccFromCodePoints(9, 1)}) {
    const auto fast = MakeColourTransform(icc.data(), icc.size()), slow = MakeColourTransform(icc.data(), icc.size(), true);
    ASSERT_TRUE(fast && slow && fast->matrixShaper() && !slow->matrixShaper());
    const Bytes random = testing::RandomBytes(size_t(1) << 20, 7);
    Bytes lcms = random, first;
    slow->Convert(lcms.data(), lcms.size() / 4);
    testing::ForEachSimdLevel([&] {
      Bytes a = random;
      fast->Convert(a.data(), a.size() / 4);
      for (size_t i = 0; i < a.size(); ++i) ASSERT_LE(std::abs(a[i] - lcms[i]), 1) << i;
      ASSERT_EQ(a, first.empty() ? first = a : first);
    });
  }
}

}  // namespace
}  // namespace plombix
