// The fast unfiltering of RGB and RGBA rows against the plain one, at every
// SIMD level: every filter type, both pixel sizes, widths and row counts
// around the four-pixel steps and the groups of eight rows, with and
// without a row above.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "picture_test_support.h"
#include "png_unfilter.h"

namespace plombix {
namespace {

TEST(PngUnfilter, FastRowsMatchThePlainOneForEveryFilterAndPixelSize) {
  std::mt19937 random(7);
  for (int channels : {3, 4})
    for (int filter = -1; filter <= 5; ++filter)  // -1: a random one each row; 5: not a filter
      for (int width : {1, 3, 8, 11, 12, 13, 50})
        for (int count : {1, 8, 13, 24})
          for (bool above : {false, true}) {
            SCOPED_TRACE(::testing::Message() << channels << " channels, filter " << filter << ", " << width
                                              << " x " << count << (above ? ", under a row" : ""));
            const size_t stride = 1 + size_t(width) * size_t(channels), outStride = size_t(width) * 4;
            std::vector<uint8_t> stored(size_t(count) * stride + kUnfilterSlackBytes), prior(outStride);
            for (uint8_t& b : stored) b = uint8_t(random() % 3 ? random() : 0x40);  // many ties
            for (uint8_t& b : prior) b = uint8_t(random());
            for (int y = 0; y < count; ++y)
              stored[size_t(y) * stride] = uint8_t(filter < 0 ? random() % 5 : filter == 5 && y < count - 1 ? 4 : filter);
            // The plain way: unfilter in the stored order, then reorder.
            std::vector<uint8_t> expected(size_t(count) * outStride), plain(stored), aboveStored(prior);
            for (int x = 0; x < width; ++x)
              for (int i = 0; i < channels; ++i) aboveStored[size_t(x * channels + i)] = prior[size_t(x * 4 + (i < 3 ? 2 - i : 3))];
            for (int y = 0; y < count; ++y) {
              uint8_t* row = plain.data() + size_t(y) * stride + 1;
              UnfilterRow(row[-1], row, y ? row - stride : above ? aboveStored.data() : nullptr, stride - 1, channels);
              for (int x = 0; x < width; ++x)
                for (int i = 0; i < 4; ++i)
                  expected[size_t(y) * outStride + size_t(x * 4 + i)] = i == 3 ? (channels == 4 ? row[x * 4 + 3] : 255) : row[x * channels + 2 - i];
            }
            testing::ForEachSimdLevel([&] {
              std::vector<uint8_t> out(expected.size(), 0xCD);
              const bool done = UnfilterRowsToBgra(stored.data(), width, channels, count, above ? prior.data() : nullptr, out.data());
              EXPECT_EQ(done, filter != 5);
              if (filter != 5) {
                EXPECT_TRUE(out == expected);
              }
            });
          }
}

}  // namespace
}  // namespace plombix
