// LoadFileScaled against the steps it stands for: LoadFile, SetAlpha(255)
// for a picture without its own alpha, then ScaleTo when a rescale is asked.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "picture_buffer.h"
#include "picture_test_support.h"

namespace plombix::testing {
namespace {

void ExpectSamePicture(const PictureBuffer& a, const PictureBuffer& b, const char* what) {
  EXPECT_EQ(Sizes(a), Sizes(b)) << what;
  EXPECT_EQ(std::tuple(a.sourceWidth, a.sourceBitsPerPixel, a.fileName),
            std::tuple(b.sourceWidth, b.sourceBitsPerPixel, b.fileName)) << what;
  ASSERT_EQ(a.byteCount, b.byteCount);
  EXPECT_EQ(std::memcmp(a.pixelData.get(), b.pixelData.get(), size_t(a.byteCount)), 0) << what;
}

TEST(LoadFileScaled, EndsExactlyAsLoadAlphaAndScale) {
  TempDir dir;
  const std::string opaque = dir.file("opaque.png");
  const std::string withAlpha = dir.file("alpha.png");
  ASSERT_TRUE(WriteImage(RandomImage(97, 61, QImage::Format_RGB32, 7), opaque, "png"));
  ASSERT_TRUE(WriteImage(RandomImage(97, 61, QImage::Format_ARGB32, 8), withAlpha, "png"));

  const struct {
    const char* name;
    TargetSize target;
  } targets[] = {{"shrink", {true, 40, 25}},
                 {"enlarge", {true, 200, 130}},
                 {"same size", {true, 97, 61}},
                 {"no rescale", {false, 0, 0}},
                 {"impossible target", {true, 0, 25}}};
  for (const std::string& path : {opaque, withAlpha}) {
    for (const auto& row : targets) {
      PictureBuffer stepwise;
      ASSERT_TRUE(stepwise.LoadFile(path));
      if (stepwise.sourceBitsPerPixel != 32) stepwise.SetAlpha(255);
      if (row.target.resample) (void)stepwise.ScaleTo(row.target.width, row.target.height);

      PictureBuffer oneStep;
      ASSERT_TRUE(oneStep.LoadFileScaled(path, [&](int w, int h) {
        EXPECT_EQ(w, 97);
        EXPECT_EQ(h, 61);
        return row.target;
      }));
      ExpectSamePicture(oneStep, stepwise, row.name);
    }
  }
}

TEST(LoadFileScaled, FailingFileChangesNothingButTheNames) {
  TempDir dir;
  const std::string good = dir.file("good.png");
  ASSERT_TRUE(WriteImage(RandomImage(20, 10, QImage::Format_RGB32, 3), good, "png"));
  PictureBuffer picture;
  ASSERT_TRUE(picture.LoadFileScaled(good, [](int, int) { return TargetSize{true, 8, 4}; }));
  bool asked = false;
  EXPECT_FALSE(picture.LoadFileScaled(dir.file("missing.png"), [&](int, int) {
    asked = true;
    return TargetSize{true, 2, 2};
  }));
  EXPECT_FALSE(asked);
  EXPECT_EQ(picture.width, 8);
  EXPECT_EQ(picture.fileName, "missing.png");
  EXPECT_EQ(picture.sourceWidth, 20);
}

}  // namespace
}  // namespace plombix::testing
