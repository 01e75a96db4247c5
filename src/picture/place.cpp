// Placement (arithmetic in place.h). Sizes are worked in 64 bits so that no
// combination of sizes and margins can wrap; every count is then at most
// the frame's and every position inside the picture and the frame:
//   d_x >= 0: frame columns d_x .. d_x + min(P_w, F_w - d_x) - 1 <= F_w - 1,
//             picture columns 0 .. min(P_w, ...) - 1 <= P_w - 1;
//   d_x <  0: frame columns from marginLeft, at most F_w - mL - mR of them,
//             so the last is <= F_w - 1 - mR; picture columns from mL - d_x,
//             the last <= mL - d_x + (P_w + d_x - mL - mR) - 1 = P_w - 1 - mR.
// Both hold for margins >= 0, which is why negative margins count as 0.
#include "place.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "picture_buffer.h"
#include "pixel_ops.h"

namespace plombix {
namespace {

struct Span {
  int64_t count = 0;
  int64_t source = 0;
  int64_t target = 0;
};

Span PlaceSpan(int64_t pictureSize, int64_t frameSize, int64_t marginBefore, int64_t marginAfter) {
  const int64_t offset = (frameSize - pictureSize) / 2;  // C++ division truncates toward zero
  if (offset >= 0) return Span{std::min(pictureSize, frameSize - offset), 0, offset};
  const int64_t before = std::max<int64_t>(marginBefore, 0);
  const int64_t after = std::max<int64_t>(marginAfter, 0);
  return Span{std::min(frameSize, pictureSize + offset) - before - after, before - offset, before};
}

}  // namespace

Placement ComputePlacement(int pictureWidth, int pictureHeight, int frameWidth, int frameHeight,
                           const PlaceMargins& margins) {
  if (pictureWidth < 1 || pictureHeight < 1 || frameWidth < 1 || frameHeight < 1) return {};
  const Span cols = PlaceSpan(pictureWidth, frameWidth, margins.left, margins.right);
  const Span rows = PlaceSpan(pictureHeight, frameHeight, margins.top, margins.bottom);
  if (cols.count <= 0 || rows.count <= 0) return {};
  // Every value is now within [0, max(picture, frame) size] and fits an int.
  return Placement{int(cols.count), int(rows.count), int(cols.source),
                   int(rows.source), int(cols.target), int(rows.target)};
}

void PlaceRows(int mode, const uint8_t* picture, int pictureWidth, const Placement& placement,
               uint8_t* rows, int frameWidth, int rowBegin, int rowEnd) {
  if (placement.empty()) return;
  const int first = std::max(rowBegin, placement.frameY);
  const int end = std::min(rowEnd, placement.frameY + placement.rows);
  const size_t pictureRowBytes = size_t(pictureWidth) * 4;
  const size_t frameRowBytes = size_t(frameWidth) * 4;
  const size_t columns = size_t(placement.columns);
  for (int row = first; row < end; ++row) {
    const uint8_t* from = picture + size_t(placement.sourceY + (row - placement.frameY)) * pictureRowBytes +
                          size_t(placement.sourceX) * 4;
    uint8_t* to = rows + size_t(row - rowBegin) * frameRowBytes + size_t(placement.frameX) * 4;
    if (mode == PlaceCopy) std::memcpy(to, from, columns * 4);
    else BlendRow(to, from, columns);
  }
}

namespace {

// Cuts one axis of a placement (count `count` from picture position
// `source` to frame position `target`) to the held span [begin, begin +
// size) of the picture; the source position then counts from `begin`.
bool CutToWindow(int& count, int& source, int& target, int begin, int size) {
  const int first = std::max(source, begin);
  const int end = std::min(source + count, begin + size);
  if (end <= first) return false;
  target += first - source;
  count = end - first;
  source = first - begin;
  return true;
}

}  // namespace

Placement PicturePlacement(const PictureBuffer& picture, int frameWidth, int frameHeight) {
  if (picture.byteCount == 0 || picture.bitsPerPixel != 32 || picture.state != 1) return {};
  // A picture whose sizes disagree with its buffer is skipped rather than
  // read past its end.
  if (!picture.pixelData || picture.width < 1 || picture.height < 1 ||
      int64_t(picture.width) * picture.height * 4 != int64_t(picture.byteCount))
    return {};
  const PlaceMargins margins{picture.marginLeft, picture.marginRight, picture.marginTop,
                             picture.marginBottom};
  if (picture.placeWidth <= 0)
    return ComputePlacement(picture.width, picture.height, frameWidth, frameHeight, margins);

  if (picture.windowLeft < 0 || picture.windowTop < 0 ||
      int64_t(picture.windowLeft) + picture.width > picture.placeWidth ||
      int64_t(picture.windowTop) + picture.height > picture.placeHeight)
    return {};
  Placement p = ComputePlacement(picture.placeWidth, picture.placeHeight, frameWidth, frameHeight,
                                 margins);
  if (p.empty() || !CutToWindow(p.columns, p.sourceX, p.frameX, picture.windowLeft, picture.width) ||
      !CutToWindow(p.rows, p.sourceY, p.frameY, picture.windowTop, picture.height))
    return {};
  return p;
}

void PictureBuffer::PlaceInto(int mode, uint8_t* frame, int frameWidth, int frameHeight) const {
  if (!frame) return;
  const Placement placement = PicturePlacement(*this, frameWidth, frameHeight);
  PlaceRows(mode, pixelData.get(), width, placement, frame, frameWidth, 0, frameHeight);
}

}  // namespace plombix
