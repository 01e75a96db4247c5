// Thumbnails: query, size, the box filter worked by hand, one encode per frame and width.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <set>
#include <thread>

#include "thumbnail.h"

using namespace plombix::control;

TEST(Thumbnail, QuerySizeBoxFilterAndOneEncodePerFrameAndWidth) {
  EXPECT_EQ(ParseThumbnailQuery(nullptr, nullptr)->width, 144);
  EXPECT_EQ(ParseThumbnailQuery("640", "cued")->what, ThumbnailOf::Cued);
  for (const char* bad : {"15", "641", "", "-20", "99999"}) EXPECT_FALSE(ParseThumbnailQuery(bad, nullptr)) << bad;
  EXPECT_FALSE(ParseThumbnailQuery("144", "preview"));
  // 1080 * 144 / 1920 = 81; 576 * 640 / 720 = 512; 3 * 16 / 1000 = 0.048, at least 1; 1080 * 100 / 1919 = 56.28.
  EXPECT_EQ(std::vector({ThumbnailHeight(1920, 1080, 144), ThumbnailHeight(720, 576, 640),
                         ThumbnailHeight(1000, 3, 16), ThumbnailHeight(1919, 1080, 100)}),
            std::vector({81, 512, 1, 56}));
  // 4 x 2 pixels, channel c of each is v + c. Halves: 0+1+4+5 = 10 -> (10+2)/4 = 3; 2+3+6+8 = 19 -> 21/4 = 5.
  const int v[2][4] = {{0, 1, 2, 3}, {4, 5, 6, 8}};
  std::vector<uint8_t> bgra;
  for (const auto& row : v)
    for (int x : row) bgra.insert(bgra.end(), {uint8_t(x), uint8_t(x + 1), uint8_t(x + 2), uint8_t(x + 3)});
  const auto frame = ThumbnailFrame::Copy(bgra.data(), 4, 2, 16);
  EXPECT_EQ(ResizeBgra(*frame, 2, 1), (std::vector<uint8_t>{3, 4, 5, 6, 5, 6, 7, 8}));
  EXPECT_EQ(ResizeBgra(*frame, 8, 2)[7 * 4], 3);  // enlarged: the last pixel of the top row
  std::vector<uint8_t> pixels(size_t(1920) * 1080 * 4, 0x80);
  const auto full = ThumbnailFrame::Copy(pixels.data(), 1920, 1080, 1920 * 4);
  Thumbnails thumbnails;
  EXPECT_FALSE(thumbnails.jpeg(ThumbnailOf::OnAir, 144));
  thumbnails.setFrame(ThumbnailOf::OnAir, full);
  std::vector<std::shared_ptr<const std::string>> got(8);
  std::vector<std::thread> askers;
  for (auto& g : got) askers.emplace_back([&] { g = thumbnails.jpeg(ThumbnailOf::OnAir, 144); });
  for (auto& t : askers) t.join();
  EXPECT_EQ(std::set(got.begin(), got.end()).size(), 1u);
  int size[4] = {};
  tjhandle decoder = tjInitDecompress();
  EXPECT_EQ(tjDecompressHeader3(decoder, reinterpret_cast<const unsigned char*>(got[0]->data()), got[0]->size(),
                                &size[0], &size[1], &size[2], &size[3]), 0);
  tjDestroy(decoder);
  EXPECT_EQ(std::make_pair(size[0], size[1]), std::make_pair(144, 81));
  EXPECT_TRUE(thumbnails.jpeg(ThumbnailOf::OnAir, 640) && !thumbnails.jpeg(ThumbnailOf::Cued, 144));
  thumbnails.setFrame(ThumbnailOf::OnAir, full);  // the same frame again: nothing new to encode
  EXPECT_TRUE(thumbnails.jpeg(ThumbnailOf::OnAir, 144) == got[0] && thumbnails.encodes() == 2);
  thumbnails.setFrame(ThumbnailOf::OnAir, ThumbnailFrame::Copy(pixels.data(), 1920, 1080, 1920 * 4));
  EXPECT_TRUE(thumbnails.jpeg(ThumbnailOf::OnAir, 144) != got[0] && thumbnails.encodes() == 3);
}
