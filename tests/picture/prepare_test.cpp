// PreparePicture and AdoptPrepared: what reaches the frame is the full-size
// path's, byte for byte (scaled JPEG decoding within two levels of it);
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

// A photo-like picture: smooth gradients and waves with hard edges every
// 250 pixels, made from row and column tables so that large ones are quick.
QImage Photo(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  std::vector<int> column(static_cast<size_t>(width)), row(static_cast<size_t>(height));
  for (int x = 0; x < width; ++x) column[size_t(x)] = int(60 * std::sin(x / 97.0)) + x * 80 / width;
  for (int y = 0; y < height; ++y) row[size_t(y)] = int(50 * std::cos(y / 61.0)) + y * 60 / height;
  for (int y = 0; y < height; ++y) {
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) {
      const int edge = ((x / 250 + y / 250) & 1) * 50;
      const int v = 60 + column[size_t(x)] + row[size_t(y)];
      out[x] = qRgb(std::clamp(v + edge, 0, 255), std::clamp(v, 0, 255), std::clamp(200 - v + edge, 0, 255));
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

TEST_F(Prepare, PanoramaWithinTheBudgetIsShown) {
  // 30000 x 3000, grey (x + y) mod 256: 90 million pixels, within the budget.
  const std::string path = file("panorama.png", MakePng(30000, 3000, {0, 8}, [](int y, uint8_t* row) {
    for (int x = 0; x < 30000; ++x) row[x] = uint8_t(x + y);
  }));
  PrepareRequest request;
  request.path = path;
  request.outputWidth = 1920;
  request.outputHeight = 1080;
  const PreparedPicture contained = Prepared(request);  // 1920 x trunc(1920 / 10)
  EXPECT_EQ(std::tuple(contained.width, contained.height, contained.sourceWidth, contained.sourceHeight),
            std::tuple(1920, 192, 30000, 3000));
  request.scalingMode = ScaleNone;  // the middle 1920 x 1080, pixel for pixel
  const PreparedPicture middle = Prepared(request);
  ASSERT_EQ(std::tuple(middle.width, middle.height, middle.windowLeft, middle.windowTop),
            std::tuple(1920, 1080, 14040, 960));
  for (auto [x, y] : {std::pair{0, 0}, {1919, 0}, {5, 1079}, {1000, 500}})
    EXPECT_EQ(PixelAt(middle.pixels.get(), 1920, x, y),
              0xFF000000u | 0x010101u * uint8_t(14040 + x + 960 + y));
}

TEST_F(Prepare, ScaledJpegDecodeStaysWithinTwoLevelsOfTheFullSizePath) {
  // Against a full-size decode resampled by the same resampler: mean
  // absolute difference below 2 in each colour channel, at each DCT scale.
  const std::string landscape = file("big.jpg", MakeJpeg(Photo(8000, 4500), {90}));
  const std::string portrait =
      file("turned.jpg", MakeJpeg(Photo(2400, 4000), {90, false, testing::JpegOptions::Colour::Rgb, 6}));
  const struct {
    std::string path;
    int fw, fh, denominator;  // of the stored picture to the stored target
  } rows[] = {{landscape, 960, 540, 8},   {landscape, 1920, 1080, 4}, {landscape, 3840, 2160, 2},
              {portrait, 1920, 1080, 2},   // decoded turned, then turned back
              {landscape, 1280, 720, 4},   // decoded 1.56 times the target: the faster decode
              {landscape, 2560, 1440, 2}};
  PictureBuffer decoded[2];
  ASSERT_TRUE(decoded[0].LoadFile(landscape));
  ASSERT_TRUE(decoded[1].LoadFile(portrait));
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.path << " at " << row.fw << "x" << row.fh);
    PrepareRequest request;
    request.path = row.path;
    request.outputWidth = row.fw;
    request.outputHeight = row.fh;
    const PreparedPicture prepared = Prepared(request);
    // The full-size path, from the one full-size decode of the file.
    PictureBuffer full;
    full.decodedImage = decoded[row.path == portrait].decodedImage;
    full.sourceBitsPerPixel = 24;
    const TargetSize target = TargetOf(request, full.decodedImage->width, full.decodedImage->height);
    ASSERT_TRUE(full.ScaleTo(target.width, target.height));
    const bool turned = row.path == portrait;
    EXPECT_EQ(DecodeDenominator(turned ? full.sourceHeight : full.sourceWidth,
                                turned ? full.sourceWidth : full.sourceHeight,
                                turned ? target.height : target.width, turned ? target.width : target.height),
              row.denominator);
    ASSERT_EQ(std::tuple(prepared.width, prepared.height), std::tuple(full.width, full.height));
    for (int channel = 0; channel < 3; ++channel) {
      uint64_t sum = 0;
      for (size_t i = size_t(channel); i < size_t(full.byteCount); i += 4)
        sum += uint64_t(std::abs(int(prepared.pixels[i]) - int(full.pixelData[i])));
      EXPECT_LT(double(sum) / (double(full.byteCount) / 4), 2.0) << "channel " << channel;
    }
  }
}

TEST(DecodeDenominator, IsTheSmallestScaleThatStillCoversTheTarget) {
  const struct {
    int sw, sh, tw, th, denominator;
  } rows[] = {
      {6000, 4000, 1620, 1080, 2},  // 1/4 gives 1500 x 1000, short of the target
      {6000, 4000, 3240, 2160, 1},  // 1/2 gives 3000 x 2000
      {6000, 4000, 750, 500, 8},    // exactly covered
      {6001, 4001, 751, 501, 8},    // 750.125 x 500.125 round up to 751 x 501
      {6000, 4000, 751, 400, 4},    // one side short at 1/8
      {100, 100, 200, 200, 1},      // enlarged
  };
  for (const auto& r : rows)
    EXPECT_EQ(DecodeDenominator(r.sw, r.sh, r.tw, r.th), r.denominator)
        << r.sw << "x" << r.sh << "->" << r.tw;
}

TEST_F(Prepare, OneThreadAndTwoGiveTheSameBytes) {
  const std::string paths[] = {file("a.jpg", MakeJpeg(Photo(1200, 800))),
                               png("b.png", RandomImage(1200, 800, QImage::Format_ARGB32, 9)),
                               png("c.png", RandomImage(60, 3000, QImage::Format_RGB32, 10)),
                               [&] {
                                 EXPECT_TRUE(testing::WriteImage(Photo(900, 600), dir.file("d.bmp"), "bmp"));
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
  const std::vector<uint8_t> jpeg = MakeJpeg(Photo(640, 480));
  const std::vector<uint8_t> progressive = MakeJpeg(Photo(640, 480), {90, true});
  const std::vector<uint8_t> pngBytes = testing::ReadBytes(png("whole.png", Photo(320, 240)));
  const auto cut = [](const std::vector<uint8_t>& bytes, double part) {
    return std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(double(bytes.size()) * part));
  };
  const struct {
    const char* name;
    std::string path;
    int mode;
    DecodeError error;
  } rows[] = {
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
  const std::string paths[] = {file("a.jpg", MakeJpeg(Photo(800, 600))), png("b.png", Photo(400, 300))};
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
