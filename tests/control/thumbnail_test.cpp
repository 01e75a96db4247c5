// Thumbnails: the query, the size, the box filter worked by hand, and one
// encode per frame and width however many threads ask at once.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <set>
#include <thread>

#include "thumbnail.h"

using namespace plombix::control;

namespace {

TEST(Thumbnail, QueryTakesWidthsFrom16To640AndOnAirOrCued) {
  struct Row { const char* width; const char* what; int expectedWidth; ThumbnailOf of; bool ok; };
  const Row rows[] = {
      {nullptr, nullptr, 144, ThumbnailOf::OnAir, true}, {"16", "cued", 16, ThumbnailOf::Cued, true},
      {"640", "onair", 640, ThumbnailOf::OnAir, true},   {"15", nullptr, 0, {}, false},
      {"641", nullptr, 0, {}, false},                    {"", nullptr, 0, {}, false},
      {"-20", nullptr, 0, {}, false},                    {"99999", nullptr, 0, {}, false},
      {"144", "preview", 0, {}, false},
  };
  for (const Row& r : rows) {
    const std::optional<ThumbnailQuery> q = ParseThumbnailQuery(r.width, r.what);
    ASSERT_EQ(q.has_value(), r.ok) << (r.width ? r.width : "-") << " " << (r.what ? r.what : "-");
    if (q) {
      EXPECT_EQ(std::make_pair(q->width, q->what), std::make_pair(r.expectedWidth, r.of));
    }
  }
  // Heights: 1080 * 144 / 1920 = 81; 1920 * 144 / 1080 = 256; 576 * 640 / 720 = 512;
  // 3 * 16 / 1000 = 0.048, at least 1; 1080 * 100 / 1919 = 56.28 -> 56.
  EXPECT_EQ(ThumbnailHeight(1920, 1080, 144), 81);
  EXPECT_EQ(ThumbnailHeight(1080, 1920, 144), 256);
  EXPECT_EQ(ThumbnailHeight(720, 576, 640), 512);
  EXPECT_EQ(ThumbnailHeight(1000, 3, 16), 1);
  EXPECT_EQ(ThumbnailHeight(1919, 1080, 100), 56);
}

TEST(Thumbnail, BoxFilterAveragesAndRoundsAndEnlargesByRepeating) {
  // 4 x 2 pixels; channel c of pixel (x, y) is v + c where v is below.
  const int v[2][4] = {{0, 1, 2, 3}, {4, 5, 6, 8}};
  std::vector<uint8_t> bgra;
  for (const auto& row : v)
    for (int x : row) bgra.insert(bgra.end(), {uint8_t(x), uint8_t(x + 1), uint8_t(x + 2), uint8_t(x + 3)});
  const auto frame = ThumbnailFrame::Copy(bgra.data(), 4, 2, 16);
  // Left half: 0 + 1 + 4 + 5 = 10 -> (10 + 2) / 4 = 3; right: 2 + 3 + 6 + 8 = 19 -> 21 / 4 = 5.
  EXPECT_EQ(ResizeBgra(*frame, 2, 1), (std::vector<uint8_t>{3, 4, 5, 6, 5, 6, 7, 8}));
  // 8 x 4: every pixel twice across and twice down.
  const std::vector<uint8_t> big = ResizeBgra(*frame, 8, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(big[size_t(y * 8 + x) * 4], v[y / 2][x / 2]) << x << "," << y;
  EXPECT_FALSE(ThumbnailFrame::Copy(bgra.data(), 4, 2, 15));
}

TEST(Thumbnail, EachFrameIsEncodedOncePerWidth) {
  std::vector<uint8_t> pixels(size_t(1920) * 1080 * 4, 0x80);
  const auto frame = ThumbnailFrame::Copy(pixels.data(), 1920, 1080, 1920 * 4);
  Thumbnails thumbnails;
  EXPECT_FALSE(thumbnails.jpeg(ThumbnailOf::OnAir, 144));
  thumbnails.setFrame(ThumbnailOf::OnAir, frame);
  std::vector<std::shared_ptr<const std::string>> got(8);
  std::vector<std::thread> askers;
  for (auto& g : got) askers.emplace_back([&] { g = thumbnails.jpeg(ThumbnailOf::OnAir, 144); });
  for (auto& t : askers) t.join();
  EXPECT_EQ(std::set(got.begin(), got.end()).size(), 1u);
  EXPECT_EQ(thumbnails.encodes(), 1u);
  int width = 0, height = 0, sampling = 0, colours = 0;
  tjhandle decoder = tjInitDecompress();
  ASSERT_EQ(tjDecompressHeader3(decoder, reinterpret_cast<const unsigned char*>(got[0]->data()),
                                got[0]->size(), &width, &height, &sampling, &colours),
            0);
  tjDestroy(decoder);
  EXPECT_EQ(std::make_pair(width, height), std::make_pair(144, 81));

  EXPECT_TRUE(thumbnails.jpeg(ThumbnailOf::OnAir, 640));
  thumbnails.setFrame(ThumbnailOf::OnAir, frame);  // the same frame again
  EXPECT_EQ(thumbnails.jpeg(ThumbnailOf::OnAir, 144), got[0]);
  EXPECT_EQ(thumbnails.encodes(), 2u);
  EXPECT_FALSE(thumbnails.jpeg(ThumbnailOf::Cued, 144));
  thumbnails.setFrame(ThumbnailOf::OnAir, ThumbnailFrame::Copy(pixels.data(), 1920, 1080, 1920 * 4));
  EXPECT_NE(thumbnails.jpeg(ThumbnailOf::OnAir, 144), got[0]);
  EXPECT_EQ(thumbnails.encodes(), 3u);
}

}  // namespace
