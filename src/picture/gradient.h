// Gradient fills of a picture's colour bytes (used by PictureBuffer::
// GradientFill and the graduated backgrounds).
//
// Each of blue, green and red is computed on its own from the same byte of
// the four corner colours c1..c4 (0xAARRGGBB; the top byte is never read).
// W x H is the picture, x counts columns from the left and y rows from the
// top, both from 0; every division truncates; numerators are formed in
// 64-bit arithmetic (they reach 255 x W x H).
//
//   Full:  value = ((c1(W-x) + c2 x)(H-y) + (c3(W-x) + c4 x) y) / (W H)
//          for every pixel. c1 top-left, c2 top-right, c3 bottom-left,
//          c4 bottom-right; the last column and row approach but do not
//          reach c2, c3, c4.
//   MirroredHalves:  h = H/2; for y < h and every x
//          value = ((c1(W-x) + c2 x)(h-y) + (c3(W-x) + c4 x) y) / (W h),
//          written to rows y and H-1-y.
//   MirroredQuarters:  w = W/2, h = H/2; for y < h and x < w
//          value = ((c1(w-x) + c2 x)(h-y) + (c3(w-x) + c4 x) y) / (w h),
//          written to (x, y), (W-1-x, y), (x, H-1-y) and (W-1-x, H-1-y).
//
// The fourth byte of every pixel stays as it was. The mirrored layouts
// cover every pixel when W and H are even (every output size is); with an
// odd height (or width) they leave the middle row (or column) as it was,
// and a dimension of 1 leaves the whole picture as it was.
#pragma once

#include <cstdint>

#include "picture_buffer.h"

namespace plombix {

// Fills the colour bytes of `pixels`, width x height packed 32-bit pixels.
// Does nothing when `pixels` is null, a dimension is below 1, or the
// picture would have 2^31 bytes or more (no PictureBuffer can). Bit-exact
// to the formulas above at every SimdLevel.
void FillGradient(uint8_t* pixels, int width, int height, GradientLayout layout, uint32_t c1,
                  uint32_t c2, uint32_t c3, uint32_t c4);

}  // namespace plombix
