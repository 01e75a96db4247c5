// Backgrounds of the output frame.
//
// Colours are 0xAARRGGBB values (bytes blue, green, red, fourth in memory);
// the fourth byte of a fill colour is never read. Corners of the graduated
// fills (c1 top-left / outer, c2, c3, c4; layouts in gradient.h):
//   10, 11  full      first, first, second, second  (first at the top)
//   12      full      second, second, first, first
//   13      halves    first, first, second, second  (first at top and bottom)
//   14      halves    second, second, first, first
//   15      quarters  first, second, second, second (first in the corners)
//   16      quarters  second, first, first, first
// and every graduated background ends opaque.
#include "background.h"

#include <cstring>

#include "gradient.h"
#include "pixel_ops.h"

namespace plombix {
namespace {

// True when the picture holds width x height pixels that may be written.
bool HasPixels(const PictureBuffer& picture) {
  return picture.pixelData && picture.byteCount > 0 && picture.width >= 1 && picture.height >= 1 &&
         int64_t(picture.width) * picture.height * 4 == int64_t(picture.byteCount);
}

struct GradientChoice {
  GradientLayout layout;
  bool firstColourFirst;  // c1 (and its partners per layout) is the first colour
};

bool GradientFor(int mode, GradientChoice& choice) {
  switch (mode) {
    case 10:
    case 11: choice = {GradientLayout::Full, true}; return true;
    case 12: choice = {GradientLayout::Full, false}; return true;
    case 13: choice = {GradientLayout::MirroredHalves, true}; return true;
    case 14: choice = {GradientLayout::MirroredHalves, false}; return true;
    case 15: choice = {GradientLayout::MirroredQuarters, true}; return true;
    case 16: choice = {GradientLayout::MirroredQuarters, false}; return true;
    default: return false;
  }
}

}  // namespace

FillResult FillBackground(PictureBuffer& background, int mode, uint32_t firstColour,
                          uint32_t secondColour, const PictureBuffer& grabbed) {
  GradientChoice gradient{};
  if (GradientFor(mode, gradient)) {
    if (!HasPixels(background)) return FillResult::Unchanged;
    const uint32_t a = gradient.firstColourFirst ? firstColour : secondColour;
    const uint32_t b = gradient.firstColourFirst ? secondColour : firstColour;
    if (gradient.layout == GradientLayout::MirroredQuarters) background.GradientFill(gradient.layout, a, b, b, b);
    else background.GradientFill(gradient.layout, a, a, b, b);
    SetAlphaRow(background.pixelData.get(), size_t(background.width) * size_t(background.height), 255);
    return FillResult::Filled;
  }

  switch (mode) {
    case BackgroundBlack: {
      if (!HasPixels(background)) return FillResult::Unchanged;
      // Blue, green, red 0 and alpha 255 in every pixel.
      uint8_t* p = background.pixelData.get();
      std::memset(p, 0, size_t(background.byteCount));
      SetAlphaRow(p, size_t(background.byteCount) / 4, 255);
      return FillResult::Filled;
    }
    case BackgroundWhite:
    case BackgroundTransparent:
      if (!HasPixels(background)) return FillResult::Unchanged;
      std::memset(background.pixelData.get(), mode == BackgroundWhite ? 0xFF : 0x00,
                  size_t(background.byteCount));
      return FillResult::Filled;
    case BackgroundGrabbed:
      // Only a grab of this very output size fits: the same byte count
      // alone could be a landscape grab poured into a portrait frame.
      if (grabbed.byteCount <= 0 || grabbed.byteCount != background.byteCount ||
          grabbed.width != background.width || grabbed.height != background.height)
        return FillResult::Unchanged;
      return background.CopyFrom(grabbed) ? FillResult::GrabUsed : FillResult::Unchanged;
    default:
      return FillResult::Unchanged;
  }
}

}  // namespace plombix
