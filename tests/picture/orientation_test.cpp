// Orientation: reading the EXIF tag, and turning a window of a picture.
// (The turns themselves are held against Qt's reader in load_file_test.)
#include "orientation.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace plombix {
namespace {

// A TIFF header and one directory with `entries` (tag, type, count, value)
// in the given byte order.
std::vector<uint8_t> Exif(bool bigEndian, const std::vector<std::array<uint32_t, 4>>& entries) {
  std::vector<uint8_t> out;
  const auto put = [&](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
      out.push_back(uint8_t(v >> (8 * (bigEndian ? bytes - 1 - i : i))));
  };
  out.push_back(bigEndian ? 'M' : 'I');
  out.push_back(bigEndian ? 'M' : 'I');
  put(42, 2);
  put(8, 4);
  put(uint32_t(entries.size()), 2);
  for (const auto& e : entries) {
    put(e[0], 2);
    put(e[1], 2);
    put(e[2], 4);
    put(e[3], 2);  // a SHORT sits in the first two bytes of the value field
    put(0, 2);
  }
  put(0, 4);
  return out;
}

TEST(ExifOrientation, ReadsTheTagOfTheFirstDirectoryAndIgnoresAnythingMalformed) {
  const std::array<uint32_t, 4> width = {0x0100, 3, 1, 640};
  const struct { const char* name; std::vector<uint8_t> exif; Orientation expected; } rows[] = {
      {"big-endian 6", Exif(true, {{0x0112, 3, 1, 6}}), Orientation::Rotate90},
      {"little-endian 8 after another tag", Exif(false, {width, {0x0112, 3, 1, 8}}), Orientation::Rotate270},
      {"every value", Exif(false, {{0x0112, 3, 1, 5}}), Orientation::Transpose},
      {"no orientation tag", Exif(false, {width}), Orientation::Normal},
      {"value 0", Exif(true, {{0x0112, 3, 1, 0}}), Orientation::Normal},
      {"value 9", Exif(true, {{0x0112, 3, 1, 9}}), Orientation::Normal},
      {"wrong type", Exif(true, {{0x0112, 4, 1, 6}}), Orientation::Normal},
      {"two values", Exif(true, {{0x0112, 3, 2, 6}}), Orientation::Normal},
      {"not a TIFF header", {'X', 'X', 0, 42, 0, 0, 0, 8, 0, 0}, Orientation::Normal},
      {"directory beyond the end", {'M', 'M', 0, 42, 0x7F, 0xFF, 0xFF, 0xFF}, Orientation::Normal},
      {"empty", {}, Orientation::Normal},
  };
  for (const auto& row : rows)
    EXPECT_EQ(ExifOrientation(row.exif.data(), row.exif.size()), row.expected) << row.name;
  // Cut anywhere, the block gives Normal until the tag's entry is whole,
  // and is never read past its end.
  const std::vector<uint8_t> whole = Exif(true, {width, {0x0112, 3, 1, 3}});
  for (size_t n = 0; n < whole.size(); ++n) {
    const std::vector<uint8_t> cut(whole.begin(), whole.begin() + long(n));
    // The second entry (offsets 22 to 33) is whole from 34 bytes on.
    EXPECT_EQ(ExifOrientation(cut.data(), cut.size()), n >= 34 ? Orientation::Rotate180 : Orientation::Normal)
        << n;
  }
}

TEST(OrientPixels, AWindowOfTheTurnedPictureIsTheTurnOfItsStoredWindow) {
  // A 7 x 5 picture whose pixels name their position, every orientation,
  // every window of the turned picture.
  const int w = 7, h = 5;
  std::vector<uint8_t> stored(size_t(w) * h * 4);
  for (int i = 0; i < w * h; ++i) {
    const uint32_t v = 0xFF000000u | uint32_t(i);
    std::memcpy(&stored[size_t(i) * 4], &v, 4);
  }
  for (int o = 1; o <= 8; ++o) {
    const Orientation orientation = Orientation(o);
    const bool swaps = SwapsSides(orientation);
    const int ow = swaps ? h : w, oh = swaps ? w : h;
    std::vector<uint8_t> turned(stored.size());
    OrientPixels(orientation, stored.data(), w, h, turned.data());
    for (int y = 0; y < oh; ++y)
      for (int x = 0; x < ow; ++x)
        for (int ww = 1; x + ww <= ow; ++ww)
          for (int wh = 1; y + wh <= oh; ++wh) {
            const TargetWindow shown{x, y, ww, wh};
            const TargetWindow from = StoredWindow(orientation, ow, oh, shown);
            ASSERT_EQ(from.width * from.height, ww * wh);
            std::vector<uint8_t> part(size_t(from.width) * size_t(from.height) * 4), partTurned(part.size());
            for (int r = 0; r < from.height; ++r)
              std::memcpy(&part[size_t(r) * size_t(from.width) * 4],
                          &stored[(size_t(from.y + r) * w + size_t(from.x)) * 4], size_t(from.width) * 4);
            OrientPixels(orientation, part.data(), from.width, from.height, partTurned.data());
            for (int r = 0; r < wh; ++r)
              ASSERT_EQ(std::memcmp(&partTurned[size_t(r) * size_t(ww) * 4],
                                    &turned[(size_t(y + r) * size_t(ow) + size_t(x)) * 4], size_t(ww) * 4),
                        0)
                  << "orientation " << o << " window " << x << "," << y << " " << ww << "x" << wh;
          }
  }
}

}  // namespace
}  // namespace plombix
