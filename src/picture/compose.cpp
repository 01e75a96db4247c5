// Composition of one output frame.
//
// The result is by definition that of three steps in order:
//   1. composed.CopyFrom(background)
//   2. picture.PlaceInto(PlaceBlend, composed pixels, F_w, F_h)
//   3. overlay->PlaceInto(PlaceBlend, ...) when there is an overlay.
// Every pixel goes through the same operations in the same order whichever
// way the work is scheduled, so when nothing needs allocating (the usual
// case: all pictures at output size) the three steps run band by band: a
// few frame rows are copied from the background and both pictures blended
// into them while they are still in the cache. That reads each source once
// and writes the frame once instead of passing over it three times.
#include "compose.h"

#include <algorithm>
#include <cstring>

#include "place.h"

namespace plombix {
namespace {

// Rows per band: enough to amortise the loop, few enough to stay in L2.
constexpr size_t kBandBytes = size_t(64) << 10;

int64_t FrameBytes(int frameWidth, int frameHeight) {
  if (frameWidth < 1 || frameHeight < 1) return -1;
  return int64_t(frameWidth) * frameHeight * 4;
}

}  // namespace

void ComposeFrame(PictureBuffer& composed, const PictureBuffer& background,
                  const PictureBuffer& picture, const PictureBuffer* overlay, int frameWidth,
                  int frameHeight) {
  const int64_t frameBytes = FrameBytes(frameWidth, frameHeight);
  const bool inPlace = background.state == 1 && background.pixelData && composed.pixelData &&
                       background.byteCount > 0 && composed.byteCount == background.byteCount &&
                       int64_t(background.byteCount) == frameBytes && &composed != &background;
  if (!inPlace) {
    // CopyFrom allocates or fails as it must. The pictures are placed only
    // into a buffer that holds a whole frame: a background of another size
    // (or none) leaves composed smaller than the frame, and placing into it
    // would write past its end.
    (void)composed.CopyFrom(background);
    if (!composed.pixelData || int64_t(composed.byteCount) != frameBytes) return;
    picture.PlaceInto(PlaceBlend, composed.pixelData.get(), frameWidth, frameHeight);
    if (overlay) overlay->PlaceInto(PlaceBlend, composed.pixelData.get(), frameWidth, frameHeight);
    return;
  }

  // What CopyFrom does when the byte counts match: reuse the buffer, take
  // sizes and depth, become usable. The pixels follow band by band.
  composed.width = background.width;
  composed.height = background.height;
  composed.bitsPerPixel = background.bitsPerPixel;
  composed.state = 1;

  const Placement main = PicturePlacement(picture, frameWidth, frameHeight);
  const Placement top = overlay ? PicturePlacement(*overlay, frameWidth, frameHeight) : Placement{};
  const size_t rowBytes = size_t(frameWidth) * 4;
  const int bandRows = int(std::max<size_t>(1, kBandBytes / rowBytes));
  uint8_t* frame = composed.pixelData.get();
  const uint8_t* back = background.pixelData.get();
  for (int row = 0; row < frameHeight; row += bandRows) {
    const int end = std::min(frameHeight, row + bandRows);
    uint8_t* band = frame + size_t(row) * rowBytes;
    std::memcpy(band, back + size_t(row) * rowBytes, size_t(end - row) * rowBytes);
    PlaceRows(PlaceBlend, picture.pixelData.get(), picture.width, main, band, frameWidth, row, end);
    if (overlay)
      PlaceRows(PlaceBlend, overlay->pixelData.get(), overlay->width, top, band, frameWidth, row, end);
  }
}

}  // namespace plombix
