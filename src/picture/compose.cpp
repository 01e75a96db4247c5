// Composition of one output frame.
//
// The result is by definition that of three steps in order:
//   1. composed.CopyFrom(background)
//   2. picture.PlaceInto(PlaceBlend, composed pixels, F_w, F_h)
//   3. overlay->PlaceInto(PlaceBlend, ...) when there is an overlay.
// Every pixel goes through the same operations in the same order whichever
// way the work is scheduled, so when nothing needs allocating (the usual
// case: all pictures at output size) the three steps run row by row: the
// picture is blended over the background row straight into the frame row
// (the background copied where the picture does not reach), and the overlay
// over that row while it is still in the cache. That reads each source once
// and writes the frame once instead of passing over it three times; the
// copy into the output frame, when asked for, takes each row from the cache
// too.
#include "compose.h"

#include <algorithm>
#include <cstring>

#include "pixel_ops.h"
#include "place.h"

namespace plombix {
namespace {

int64_t FrameBytes(int frameWidth, int frameHeight) {
  if (frameWidth < 1 || frameHeight < 1) return -1;
  return int64_t(frameWidth) * frameHeight * 4;
}

}  // namespace

void ComposeFrame(PictureBuffer& composed, const PictureBuffer& background,
                  const PictureBuffer& picture, const PictureBuffer* overlay, int frameWidth,
                  int frameHeight, uint8_t* copyInto) {
  const int64_t frameBytes = FrameBytes(frameWidth, frameHeight);
  const bool inPlace = background.state == 1 && background.pixelData && composed.pixelData &&
                       background.byteCount > 0 && composed.byteCount == background.byteCount &&
                       int64_t(background.byteCount) == frameBytes && background.placeWidth <= 0 &&
                       &composed != &background;
  if (!inPlace) {
    // CopyFrom allocates or fails as it must. The pictures are placed only
    // into a buffer that holds a whole frame: a background of another size
    // (or none) leaves composed smaller than the frame, and placing into it
    // would write past its end.
    (void)composed.CopyFrom(background);
    if (composed.pixelData && int64_t(composed.byteCount) == frameBytes) {
      picture.PlaceInto(PlaceBlend, composed.pixelData.get(), frameWidth, frameHeight);
      if (overlay) overlay->PlaceInto(PlaceBlend, composed.pixelData.get(), frameWidth, frameHeight);
    }
    if (copyInto) composed.PlaceInto(PlaceCopy, copyInto, frameWidth, frameHeight);
    return;
  }

  // What CopyFrom does when the byte counts match: reuse the buffer, take
  // sizes and depth, become usable. The pixels follow band by band.
  composed.width = background.width;
  composed.height = background.height;
  composed.bitsPerPixel = background.bitsPerPixel;
  composed.placeWidth = background.placeWidth;
  composed.placeHeight = background.placeHeight;
  composed.windowLeft = background.windowLeft;
  composed.windowTop = background.windowTop;
  composed.state = 1;

  const Placement main = PicturePlacement(picture, frameWidth, frameHeight);
  const Placement top = overlay ? PicturePlacement(*overlay, frameWidth, frameHeight) : Placement{};
  const size_t rowBytes = size_t(frameWidth) * 4;
  const size_t pictureRowBytes = size_t(picture.width) * 4;
  const int mainEnd = main.empty() ? 0 : main.frameY + main.rows;
  for (int row = 0; row < frameHeight; ++row) {
    uint8_t* out = composed.pixelData.get() + size_t(row) * rowBytes;
    const uint8_t* under = background.pixelData.get() + size_t(row) * rowBytes;
    if (row >= main.frameY && row < mainEnd) {
      // Background left of the picture, picture over background, background
      // right of it: one pass writes the row.
      const size_t left = size_t(main.frameX) * 4, width = size_t(main.columns) * 4;
      const uint8_t* src = picture.pixelData.get() +
                           size_t(main.sourceY + row - main.frameY) * pictureRowBytes +
                           size_t(main.sourceX) * 4;
      std::memcpy(out, under, left);
      BlendRowOnto(out + left, under + left, src, size_t(main.columns));
      std::memcpy(out + left + width, under + left + width, rowBytes - left - width);
    } else {
      std::memcpy(out, under, rowBytes);
    }
    if (overlay)
      PlaceRows(PlaceBlend, overlay->pixelData.get(), overlay->width, top, out, frameWidth, row,
                row + 1);
    // composed has exactly the frame's size here, so its PlaceCopy is a
    // straight copy of each row.
    if (copyInto) std::memcpy(copyInto + size_t(row) * rowBytes, out, rowBytes);
  }
}

}  // namespace plombix
