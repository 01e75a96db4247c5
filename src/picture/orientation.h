// Picture orientation as the EXIF Orientation tag gives it, and the
// transforms that turn a picture as stored into the picture as shown.
//
// Values are the tag's (1..8). For a shown picture of OW x OH, the shown
// pixel (x, y) is the stored pixel
//   1 Normal             (x, y)                 stored OW x OH
//   2 MirrorHorizontal   (OW-1-x, y)
//   3 Rotate180          (OW-1-x, OH-1-y)
//   4 MirrorVertical     (x, OH-1-y)
//   5 Transpose          (y, x)                 stored OH x OW
//   6 Rotate90           (y, OW-1-x)            (stored picture turned 90
//                                                degrees clockwise)
//   7 Transverse         (OH-1-y, OW-1-x)
//   8 Rotate270          (OH-1-y, x)            (turned 90 degrees anticlockwise)
// Each map sends a rectangle to a rectangle and is the same map inside it,
// so a window of the shown picture is the transform of a window of the
// stored picture.
#pragma once

#include <cstddef>
#include <cstdint>

#include "resample.h"

namespace plombix {

enum class Orientation : int {
  Normal = 1,
  MirrorHorizontal = 2,
  Rotate180 = 3,
  MirrorVertical = 4,
  Transpose = 5,
  Rotate90 = 6,
  Transverse = 7,
  Rotate270 = 8,
};

// True for the orientations that swap width and height (5..8).
constexpr bool SwapsSides(Orientation o) { return int(o) >= 5; }

// The orientation stored in an EXIF block: `exif` points at the TIFF
// header (after "Exif\0\0"), `size` bytes. The Orientation tag of the first
// image directory, or Normal when there is none, it is malformed, or its
// value is outside 1..8.
[[nodiscard]] Orientation ExifOrientation(const uint8_t* exif, size_t size);

// The window of the stored picture that `shown`, a window of the shown
// OW x OH picture, comes from.
[[nodiscard]] TargetWindow StoredWindow(Orientation o, int shownWidth, int shownHeight,
                                        const TargetWindow& shown);

// Writes the shown picture of a stored width x height picture (rows packed)
// into `shown` (rows packed; width and height swapped when SwapsSides).
// The buffers may not overlap.
void OrientPixels(Orientation o, const uint8_t* stored, int width, int height, uint8_t* shown);

}  // namespace plombix
