// PreparePicture and AdoptPrepared: what reaches the frame is the full-size
// path's, byte for byte (scaled JPEG decoding as sharp as it);
// only the visible part is kept; the budget, damaged files, cancelling and
// the number of threads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

#include "decode_budget.h"
#include "decoder.h"
#include "picture_buffer.h"
#include "picture_test_support.h"
#include "prepare.h"
#include "scale_rules.h"

namespace plombix {
namespace {

using testing::MakeJpeg;
using testing::MakePng;
using testing::PixelAt;
using testing::RandomImage;

// Sharp, text-like detail: lines of 5 x 7 "glyphs" of one-pixel strokes in
// three inks on paper, a ruled line every 48 rows, and blocks of colour.
QImage TextLike(int width, int height) {
  const auto hash = [](uint32_t a) {
    a = (a ^ (a >> 16)) * 0x7FEB352Du;
    a = (a ^ (a >> 15)) * 0x846CA68Bu;
    return a ^ (a >> 16);
  };
  const QRgb inks[] = {qRgb(20, 20, 30), qRgb(190, 20, 30), qRgb(20, 40, 170)};
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y) {
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    const int line = y / 12, gy = y % 12;
    for (int x = 0; x < width; ++x) {
      const int gx = x % 7;
      const bool ink = gx < 5 && gy >= 2 && gy < 9 &&
                       hash(uint32_t(x / 7) * 8191u + uint32_t(line) * 131071u + uint32_t(gx * 7 + gy)) % 5 < 2;
      const QRgb paper = (x / 700 + y / 300) % 3 ? qRgb(245, 240, 228) : qRgb(250, 200, 60);
      out[x] = ink ? inks[line % 3] : y % 48 == 47 ? qRgb(30, 120, 200) : paper;
    }
  }
  return image;
}

TargetSize TargetOf(const PrepareRequest& r, int w, int h) {
  return r.role == PictureRole::Shown
             ? ShownPictureTarget(r.scalingMode, w, h, r.outputWidth, r.outputHeight, r.borderSidesPx,
                                  r.borderTopBottomPx)
             : OverlayTarget(r.scalingMode, w, h, r.outputWidth, r.outputHeight);
}

// The full-size path: LoadFile, opaque without alpha, ScaleTo the target of
// the scaling mode, the range table.
void FullSizePath(PictureBuffer& p, const PrepareRequest& r) {
  ASSERT_TRUE(p.LoadFile(r.path));
  if (p.sourceBitsPerPixel != 32) p.SetAlpha(255);
  const TargetSize t = TargetOf(r, p.width, p.height);
  if (t.resample) (void)p.ScaleTo(t.width, t.height);
  if (r.limitedRange) p.ApplyRangeTable();
}

void SetMargins(PictureBuffer& p, int sides, int topBottom) {
  p.marginLeft = p.marginRight = sides;
  p.marginTop = p.marginBottom = topBottom;
}

// `p` blended over a patterned frame of fw x fh.
std::vector<uint8_t> Placed(const PictureBuffer& p, int fw, int fh) {
  std::vector<uint8_t> frame = testing::RandomBytes(size_t(fw) * size_t(fh) * 4, 77);
  p.PlaceInto(PlaceBlend, frame.data(), fw, fh);
  return frame;
}

PreparedPicture Prepared(const PrepareRequest& r) {
  PreparedPicture out = PreparePicture(r);
  EXPECT_TRUE(out.ok()) << DecodeErrorText(out.error) << " " << r.path;
  return out;
}

class Prepare : public ::testing::Test {
 protected:
  std::string file(const std::string& name, const std::vector<uint8_t>& bytes) {
    EXPECT_TRUE(testing::WriteBytes(dir.file(name), bytes)) << name;
    return dir.file(name);
  }
  std::string png(const std::string& name, const QImage& image) {
    EXPECT_TRUE(testing::WriteImage(image, dir.file(name), "png")) << name;
    return dir.file(name);
  }
  testing::TempDir dir;
};

TEST_F(Prepare, PlacedResultIsTheFullSizePathsByteForByte) {
  // Lossless files (or JPEGs decoded at full size), so that both paths
  // decode the same pixels; the frames they compose must be equal, also
  // after the margins change (borders switched off without a new show) and
  // for a copy of the shown picture used as the overlay (Grab Overlay).
  const std::string opaque = png("opaque.png", RandomImage(97, 61, QImage::Format_RGB32, 1));
  const std::string alpha = png("alpha.png", RandomImage(97, 61, QImage::Format_ARGB32, 2));
  const std::string portrait = png("portrait.png", RandomImage(61, 97, QImage::Format_ARGB32, 3));
  const std::string thin = png("thin.png", RandomImage(400, 4, QImage::Format_RGB32, 4));
  const std::string tall = png("tall.png", RandomImage(20, 3000, QImage::Format_RGB32, 5));
  const std::string small = png("small.png", RandomImage(13, 7, QImage::Format_ARGB32, 6));
  const std::string turned = file("turned.jpg", MakeJpeg(RandomImage(61, 41, QImage::Format_RGB32, 7),
                                                         {90, false, testing::JpegOptions::Colour::Rgb, 6}));
  std::vector<uint8_t> indices(90 * 50);
  for (size_t i = 0; i < indices.size(); ++i) indices[i] = uint8_t(i * 7 / 5 % 3);
  const std::string gif =  // entry 1 transparent: lost, the picture opaque
      file("a.gif", testing::MakeGif(90, 50, {0x102030, 0xF0E0D0, 0x00FF80}, indices, 1));
  const struct {
    const char* name;
    std::string path;
    int mode, fw, fh, sides, topBottom;
    PictureRole role;
    bool range;
  } rows[] = {
      {"contain, shrink", opaque, ScaleContain, 64, 36, 0, 0, PictureRole::Shown, false},
      {"contain, enlarge, alpha", small, ScaleContain, 64, 36, 0, 0, PictureRole::Shown, false},
      {"crop and fill, landscape", alpha, ScaleCropFill, 64, 36, 0, 0, PictureRole::Shown, false},
      {"crop and fill, portrait", portrait, ScaleCropFill, 64, 36, 0, 0, PictureRole::Shown, false},
      {"crop and fill, borders", alpha, ScaleCropFill, 64, 36, 6, 4, PictureRole::Shown, false},
      {"crop and fill, thin", thin, ScaleCropFill, 64, 36, 0, 0, PictureRole::Shown, false},
      {"crop and fill, overlay", portrait, ScaleCropFill, 64, 36, 0, 0, PictureRole::Overlay, false},
      {"contain, far shrunk (long filters)", tall, ScaleContain, 64, 36, 0, 0, PictureRole::Shown, false},
      {"none, larger than the frame", opaque, ScaleNone, 40, 30, 0, 0, PictureRole::Shown, false},
      {"none, one column wider", opaque, ScaleNone, 96, 60, 0, 0, PictureRole::Shown, false},
      {"none, smaller", small, ScaleNone, 64, 36, 0, 0, PictureRole::Shown, false},
      {"none, turned jpeg", turned, ScaleNone, 30, 40, 0, 0, PictureRole::Shown, true},
      {"contain, gif through qt", gif, ScaleContain, 40, 30, 2, 2, PictureRole::Shown, false},
      {"range table", alpha, ScaleContain, 64, 36, 0, 0, PictureRole::Shown, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    PrepareRequest request;
    request.path = row.path;
    request.role = row.role;
    request.scalingMode = row.mode;
    request.outputWidth = row.fw;
    request.outputHeight = row.fh;
    request.borderSidesPx = row.sides;
    request.borderTopBottomPx = row.topBottom;
    request.limitedRange = row.range;
    PictureBuffer prepared, full, overlay;
    ASSERT_TRUE(prepared.AdoptPrepared(Prepared(request)));
    FullSizePath(full, request);
    EXPECT_EQ(std::tuple(prepared.sourceWidth, prepared.sourceHeight, prepared.sourceBitsPerPixel),
              std::tuple(full.sourceWidth, full.sourceHeight, full.sourceBitsPerPixel));
    EXPECT_LE(prepared.width * prepared.height, std::max(row.fw * row.fh, full.width * full.height));
    SetMargins(prepared, row.sides, row.topBottom);
    SetMargins(full, row.sides, row.topBottom);
    ASSERT_EQ(Placed(prepared, row.fw, row.fh), Placed(full, row.fw, row.fh));
    SetMargins(prepared, 0, 0);
    SetMargins(full, 0, 0);
    ASSERT_EQ(Placed(prepared, row.fw, row.fh), Placed(full, row.fw, row.fh));
    ASSERT_TRUE(overlay.CopyFrom(prepared));
    ASSERT_EQ(Placed(overlay, row.fw, row.fh), Placed(full, row.fw, row.fh));
  }
}

TEST_F(Prepare, ThinPictureInCropAndFillCostsOneFrame) {
  // 16384 x 40 in Crop & Fill at 1920 x 1080 scales to 442,368 x 1,080
  // (1.9 GB); only the 1920 x 1080 in the middle is made. The picture is a
  // ramp (green = x x 200 / 16383, the same on every row), scaled 27 times:
  // output column c shows source position (c + 1/2) / 27 - 1/2, and the
  // interpolated ramp is the ramp there.
  const std::string path = file("thin.png", MakePng(16384, 40, {2, 8}, [](int, uint8_t* row) {
    for (int x = 0; x < 16384; ++x) {
      const uint8_t v = uint8_t(x * 200 / 16383);
      row[x * 3] = row[x * 3 + 1] = row[x * 3 + 2] = v;
    }
  }));
  PrepareRequest request;
  request.path = path;
  request.scalingMode = ScaleCropFill;
  request.outputWidth = 1920;
  request.outputHeight = 1080;
  const int64_t peakBefore = testing::PeakResidentBytes();
  const PreparedPicture out = Prepared(request);
  EXPECT_LT(testing::PeakResidentBytes() - peakBefore, int64_t(128) << 20);
  EXPECT_EQ(std::tuple(out.placeWidth, out.placeHeight, out.width, out.height, out.windowLeft, out.windowTop),
            std::tuple(442368, 1080, 1920, 1080, (442368 - 1920) / 2, 0));
  const auto ramp = [](int x) { return x * 200 / 16383; };
  for (int c : {0, 1, 957, 1919}) {
    const double position = (out.windowLeft + c + 0.5) / 27.0 - 0.5;
    const int left = int(std::floor(position));
    const double expected = ramp(left) + (position - left) * (ramp(left + 1) - ramp(left));
    for (int y : {0, 539, 1079})
      EXPECT_NEAR(out.pixels[(size_t(y) * 1920 + size_t(c)) * 4 + 1], expected, 1.0) << c << "," << y;
  }
}

// Lanczos-3 taps (source index, weight) of target index d of a source ->
// target axis, the kernel widened by the shrink, weights normalised.
std::vector<std::pair<int, double>> LanczosTaps(int source, int target, int d) {
  const double scale = double(source) / target, centre = (d + 0.5) * scale - 0.5;
  std::vector<std::pair<int, double>> taps;
  double sum = 0;
  for (int i = int(std::floor(centre - 3 * scale)); i <= int(std::ceil(centre + 3 * scale)); ++i) {
    const double t = std::abs(i - centre) / scale, pt = M_PI * t;
    const double w = t < 1e-9 ? 1.0 : t >= 3 ? 0.0 : 3 * std::sin(pt) * std::sin(pt / 3) / (pt * pt);
    taps.emplace_back(std::clamp(i, 0, source - 1), w);
    sum += w;
  }
  for (auto& tap : taps) tap.second /= sum;
  return taps;
}

TEST_F(Prepare, ScaledJpegDecodeIsAsSharpAsTheFullSizePath) {
  // A sharp picture as JPEG (quality 95), shown through PreparePicture
  // (decoded at a DCT scale) and through the full-size path, both held
  // against a Lanczos-3 shrink of the original pixels on every fourth row:
  // the scaled decode may add at most 1.0 to the mean absolute difference
  // per channel. The strip is 1.1 times twice the 3840 output's width and
  // four times the 1920 one's, where decoding at the smallest scale that
  // covers the target adds about 4.
  const QImage original = TextLike(8448, 512);
  const std::string flat = file("text.jpg", MakeJpeg(original, {95}));
  const std::string turned = file("turned.jpg", MakeJpeg(original.transformed(QTransform().rotate(-90)),
                                                         {95, false, testing::JpegOptions::Colour::Rgb, 6}));
  const struct {
    std::string path;
    int fw, fh, denominator;  // of the stored picture to the stored target
  } rows[] = {{flat, 1280, 720, 2}, {flat, 1920, 1080, 2}, {flat, 3840, 2160, 1}, {turned, 1920, 1080, 2}};
  PictureBuffer decoded[2];
  ASSERT_TRUE(decoded[0].LoadFile(flat));
  ASSERT_TRUE(decoded[1].LoadFile(turned));
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.path << " at " << row.fw << "x" << row.fh);
    const bool isTurned = row.path == turned;
    PrepareRequest request;
    request.path = row.path;
    request.outputWidth = row.fw;
    request.outputHeight = row.fh;
    const PreparedPicture prepared = Prepared(request);
    PictureBuffer full;
    full.decodedImage = decoded[isTurned].decodedImage;
    full.sourceBitsPerPixel = 24;
    const TargetSize t = TargetOf(request, original.width(), original.height());
    ASSERT_TRUE(full.ScaleTo(t.width, t.height));
    ASSERT_EQ(std::tuple(prepared.width, prepared.height), std::tuple(t.width, t.height));
    EXPECT_EQ(isTurned ? DecodeDenominator(512, 8448, t.height, t.width)
                       : DecodeDenominator(8448, 512, t.width, t.height),
              row.denominator);

    std::vector<std::vector<std::pair<int, double>>> columnTaps;
    for (int x = 0; x < t.width; ++x) columnTaps.push_back(LanczosTaps(original.width(), t.width, x));
    double added[3] = {};
    std::vector<double> mixed(size_t(original.width()) * 3);
    for (int y = 0; y < t.height; y += 4) {
      std::fill(mixed.begin(), mixed.end(), 0.0);
      for (const auto& [sy, wy] : LanczosTaps(original.height(), t.height, y)) {
        const auto* in = reinterpret_cast<const QRgb*>(original.constScanLine(sy));
        for (int x = 0; x < original.width(); ++x)
          for (int c = 0; c < 3; ++c) mixed[size_t(x) * 3 + size_t(c)] += wy * ((in[x] >> (8 * c)) & 0xFF);
      }
      for (int x = 0; x < t.width; ++x) {
        const size_t at = (size_t(y) * size_t(t.width) + size_t(x)) * 4;
        for (int c = 0; c < 3; ++c) {
          double reference = 0;
          for (const auto& [sx, wx] : columnTaps[size_t(x)]) reference += wx * mixed[size_t(sx) * 3 + size_t(c)];
          reference = std::clamp(reference, 0.0, 255.0);
          added[c] += std::abs(prepared.pixels[at + size_t(c)] - reference) -
                      std::abs(full.pixelData[at + size_t(c)] - reference);
        }
      }
    }
    const double samples = double(t.width) * double((t.height + 3) / 4);
    for (int c = 0; c < 3; ++c) EXPECT_LE(added[c] / samples, 1.0) << "channel " << c;
  }
}

TEST(DecodeDenominator, IsTheSmallestScaleAtLeastTwiceTheTarget) {
  const struct { int sw, sh, tw, th, denominator; } rows[] = {
      {6000, 4000, 1500, 1000, 2},  // 1/2 gives 3000 x 2000, exactly twice
      {6000, 4000, 1501, 1000, 1},
      {6000, 4000, 1500, 1001, 1},
      {6000, 4000, 1620, 1080, 1},  // 1.85 times at 1/2
      {6000, 4000, 750, 500, 4},    // 1/8 covers 750 x 500 exactly: too close
      {6009, 4009, 376, 251, 8},    // 751.125 x 501.125 round up to 752 x 502
      {100, 100, 200, 200, 1},      // enlarged
  };
  for (const auto& r : rows)
    EXPECT_EQ(DecodeDenominator(r.sw, r.sh, r.tw, r.th), r.denominator)
        << r.sw << "x" << r.sh << "->" << r.tw << "x" << r.th;
}

TEST_F(Prepare, OneThreadAndTwoGiveTheSameBytes) {
  const std::string paths[] = {file("a.jpg", MakeJpeg(TextLike(1200, 800))),
                               png("b.png", RandomImage(1200, 800, QImage::Format_ARGB32, 9)),
                               png("c.png", RandomImage(60, 3000, QImage::Format_RGB32, 10)),
                               [&] {
                                 EXPECT_TRUE(testing::WriteImage(TextLike(900, 600), dir.file("d.bmp"), "bmp"));
                                 return dir.file("d.bmp");
                               }()};
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    PrepareRequest request;
    request.path = path;
    request.outputWidth = 640;
    request.outputHeight = 360;
    request.threads = 1;
    const PreparedPicture one = Prepared(request);
    request.threads = 2;
    const PreparedPicture two = Prepared(request);
    ASSERT_EQ(std::tuple(one.width, one.height), std::tuple(two.width, two.height));
    EXPECT_EQ(std::memcmp(one.pixels.get(), two.pixels.get(), size_t(one.width) * size_t(one.height) * 4), 0);
  }
}

TEST_F(Prepare, FailuresNameTheirReasonAndAdoptChangesOnlyTheNames) {
  const std::vector<uint8_t> jpeg = MakeJpeg(TextLike(640, 480));
  const std::vector<uint8_t> progressive = MakeJpeg(TextLike(640, 480), {90, true});
  const std::vector<uint8_t> pngBytes = testing::ReadBytes(png("whole.png", TextLike(320, 240)));
  const auto cut = [](const std::vector<uint8_t>& bytes, double part) {
    return std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(double(bytes.size()) * part));
  };
  const struct { const char* name; std::string path; int mode; DecodeError error; } rows[] = {
      {"missing", dir.file("missing.jpg"), ScaleContain, DecodeError::NotFound},
      {"jpeg cut at a quarter", file("c1.jpg", cut(jpeg, 0.25)), ScaleContain, DecodeError::Corrupt},
      {"jpeg cut at 60 %", file("c2.jpg", cut(jpeg, 0.6)), ScaleContain, DecodeError::Corrupt},
      {"jpeg cut in its last blocks", file("c3.jpg", cut(jpeg, 1.0 - 20.0 / double(jpeg.size()))),
       ScaleContain, DecodeError::Corrupt},
      {"progressive jpeg cut", file("c4.jpg", cut(progressive, 0.8)), ScaleContain, DecodeError::Corrupt},
      {"png cut at 60 %", file("c5.png", cut(pngBytes, 0.6)), ScaleContain, DecodeError::Corrupt},
      {"png cut in its image data's checksum", file("c6.png", cut(pngBytes, 1.0 - 14.0 / double(pngBytes.size()))),
       ScaleNone, DecodeError::Corrupt},
      // 16384 x 16384 is 1 GiB at full size, 16 MiB at 1/8: refused in None,
      // decoded at 1/8 in Contain until its data runs out.
      {"huge jpeg, none", file("h1.jpg", testing::WithJpegSize(jpeg, 16384, 16384)), ScaleNone,
       DecodeError::TooLarge},
      {"huge jpeg, contain", file("h2.jpg", testing::WithJpegSize(jpeg, 16384, 16384)), ScaleContain,
       DecodeError::Corrupt},
      // 34600 x 3880 in Crop & Fill scales to 9631 x 1080: beyond the budget
      // at full size, so decoded at 1/2 (still covering it) until its data
      // runs out, rather than refused.
      {"huge jpeg, crop and fill", file("h4.jpg", testing::WithJpegSize(jpeg, 34600, 3880)), ScaleCropFill,
       DecodeError::Corrupt},
      // A progressive file keeps every coefficient: 16384^2 x 1.5 x 2 bytes.
      {"huge progressive jpeg, contain", file("h3.jpg", testing::WithJpegSize(progressive, 16384, 16384)),
       ScaleContain, DecodeError::TooLarge},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    PrepareRequest request;
    request.path = row.path;
    request.scalingMode = row.mode;
    request.outputWidth = 1920;
    request.outputHeight = 1080;
    PreparedPicture out = PreparePicture(request);
    EXPECT_EQ(out.error, row.error);
    EXPECT_EQ(std::tuple(out.pixels.get(), out.width, out.height), std::tuple(nullptr, 0, 0));
    PictureBuffer picture;
    testing::MakePicture(picture, 3, 2, [](int, int) { return 0xFF123456u; });
    EXPECT_FALSE(picture.AdoptPrepared(std::move(out)));
    EXPECT_EQ(std::tuple(picture.width, PixelAt(picture, 2, 1)), std::tuple(3, 0xFF123456u));
    EXPECT_EQ(picture.filePath, row.path);
  }
}

TEST_F(Prepare, CancellingAtAnyPollEndsTheWorkWithoutAPicture) {
  const std::string paths[] = {file("a.jpg", MakeJpeg(TextLike(800, 600))), png("b.png", TextLike(400, 300))};
  for (const std::string& path : paths) {
    PrepareRequest request;
    request.path = path;
    request.outputWidth = 320;
    request.outputHeight = 180;
    int polls = 0;
    request.cancelled = [&] { return ++polls < 0; };
    ASSERT_TRUE(Prepared(request).ok());
    ASSERT_GT(polls, 3);
    const int total = polls;
    for (int at = 1; at <= total; ++at) {
      SCOPED_TRACE(::testing::Message() << path << " cancelled at poll " << at);
      polls = 0;
      request.cancelled = [&] { return ++polls >= at; };
      const PreparedPicture out = PreparePicture(request);
      EXPECT_EQ(out.error, DecodeError::Cancelled);
      EXPECT_EQ(out.pixels, nullptr);
    }
  }
}

}  // namespace
}  // namespace plombix
