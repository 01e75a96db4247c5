// EXIF parsing and the eight orientation transforms (maps in orientation.h).
//
// EXIF block: a TIFF header ("II" little-endian or "MM" big-endian, the
// number 42, the offset of the first image directory), then at that offset
// a 2-byte entry count and 12-byte entries (tag, type, count, value). The
// Orientation tag is 0x0112, type SHORT (3), count 1, its value in the
// first two bytes of the value field. Every offset is checked against the
// block's size before it is read.
#include "orientation.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace plombix {
namespace {

struct Reader {
  const uint8_t* data;
  size_t size;
  bool bigEndian;

  bool has(size_t offset, size_t bytes) const { return offset <= size && bytes <= size - offset; }
  uint32_t get(size_t offset, int bytes) const {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) {
      const uint32_t b = data[offset + size_t(i)];
      v |= bigEndian ? b << (8 * (bytes - 1 - i)) : b << (8 * i);
    }
    return v;
  }
};

// Shown (x, y) of a shown OW x OH picture -> stored (x, y).
void ToStored(Orientation o, int ow, int oh, int x, int y, int* sx, int* sy) {
  switch (o) {
    case Orientation::Normal: *sx = x; *sy = y; return;
    case Orientation::MirrorHorizontal: *sx = ow - 1 - x; *sy = y; return;
    case Orientation::Rotate180: *sx = ow - 1 - x; *sy = oh - 1 - y; return;
    case Orientation::MirrorVertical: *sx = x; *sy = oh - 1 - y; return;
    case Orientation::Transpose: *sx = y; *sy = x; return;
    case Orientation::Rotate90: *sx = y; *sy = ow - 1 - x; return;
    case Orientation::Transverse: *sx = oh - 1 - y; *sy = ow - 1 - x; return;
    case Orientation::Rotate270: *sx = oh - 1 - y; *sy = x; return;
  }
  *sx = x;
  *sy = y;
}

}  // namespace

Orientation ExifOrientation(const uint8_t* exif, size_t size) {
  if (!exif || size < 8) return Orientation::Normal;
  Reader r{exif, size, false};
  if (exif[0] == 'M' && exif[1] == 'M') r.bigEndian = true;
  else if (!(exif[0] == 'I' && exif[1] == 'I')) return Orientation::Normal;
  if (r.get(2, 2) != 42) return Orientation::Normal;
  const size_t directory = r.get(4, 4);
  if (!r.has(directory, 2)) return Orientation::Normal;
  const size_t entries = r.get(directory, 2);
  for (size_t i = 0; i < entries; ++i) {
    const size_t entry = directory + 2 + i * 12;
    if (!r.has(entry, 12)) break;
    if (r.get(entry, 2) != 0x0112) continue;
    if (r.get(entry + 2, 2) != 3 || r.get(entry + 4, 4) != 1) return Orientation::Normal;
    const uint32_t value = r.get(entry + 8, 2);
    return value >= 1 && value <= 8 ? Orientation(value) : Orientation::Normal;
  }
  return Orientation::Normal;
}

TargetWindow StoredWindow(Orientation o, int shownWidth, int shownHeight, const TargetWindow& shown) {
  int x0, y0, x1, y1;
  ToStored(o, shownWidth, shownHeight, shown.x, shown.y, &x0, &y0);
  ToStored(o, shownWidth, shownHeight, shown.x + shown.width - 1, shown.y + shown.height - 1, &x1,
           &y1);
  return TargetWindow{std::min(x0, x1), std::min(y0, y1), std::abs(x1 - x0) + 1,
                      std::abs(y1 - y0) + 1};
}

void OrientPixels(Orientation o, const uint8_t* stored, int width, int height, uint8_t* shown) {
  const int ow = SwapsSides(o) ? height : width;
  const int oh = SwapsSides(o) ? width : height;
  if (!SwapsSides(o)) {
    for (int y = 0; y < oh; ++y) {
      int sx, sy;
      ToStored(o, ow, oh, 0, y, &sx, &sy);
      const uint8_t* from = stored + size_t(sy) * size_t(width) * 4;
      uint8_t* to = shown + size_t(y) * size_t(ow) * 4;
      if (sx == 0) {
        std::memcpy(to, from, size_t(ow) * 4);
      } else {
        for (int x = 0; x < ow; ++x) std::memcpy(to + size_t(x) * 4, from + size_t(ow - 1 - x) * 4, 4);
      }
    }
    return;
  }
  // Axes swap: in tiles, so that both the rows read and the rows written
  // stay in the cache.
  constexpr int kTile = 32;
  for (int ty = 0; ty < oh; ty += kTile)
    for (int tx = 0; tx < ow; tx += kTile)
      for (int y = ty; y < std::min(ty + kTile, oh); ++y)
        for (int x = tx; x < std::min(tx + kTile, ow); ++x) {
          int sx, sy;
          ToStored(o, ow, oh, x, y, &sx, &sy);
          std::memcpy(shown + (size_t(y) * size_t(ow) + size_t(x)) * 4,
                      stored + (size_t(sy) * size_t(width) + size_t(sx)) * 4, 4);
        }
}

}  // namespace plombix
