// Placement of a picture into a frame (PictureBuffer::PlaceInto and the
// composition of a frame).
//
// Picture P_w x P_h, frame F_w x F_h pixels, rows of width x 4 bytes:
//   d_x = (F_w - P_w) / 2,  d_y = (F_h - P_h) / 2   (truncated toward zero,
//                                                   so -1/2 is 0)
//   columns, d_x >= 0: count min(P_w, F_w - d_x), from picture column 0,
//                      to frame column d_x;
//            d_x <  0: count min(F_w, P_w + d_x) - marginLeft - marginRight,
//                      from picture column marginLeft - d_x, to frame column
//                      marginLeft;
//   rows likewise with d_y, marginTop and marginBottom.
// A picture smaller than the frame is centred whole; a larger one is
// centred and cut, and in a cut dimension the margin strips of the frame
// are left untouched. A count of 0 or less draws nothing.
//
// Modes: PlaceCopy copies all four bytes; any other mode blends by the
// picture's alpha (BlendRow, pixel_ops.h).
#pragma once

#include <cstdint>

namespace plombix {

class PictureBuffer;

struct PlaceMargins {
  int left = 0;
  int right = 0;
  int top = 0;
  int bottom = 0;
};

// The rectangle a placement touches: `columns` x `rows` picture pixels from
// (sourceX, sourceY) land on the frame from (frameX, frameY). Both counts
// are > 0 unless the placement draws nothing.
struct Placement {
  int columns = 0;
  int rows = 0;
  int sourceX = 0;
  int sourceY = 0;
  int frameX = 0;
  int frameY = 0;

  bool empty() const { return columns <= 0 || rows <= 0; }
};

// Computes the placement. Sizes below 1 give an empty placement. Negative
// margins count as 0: they cannot come from the border settings, and taken
// as they are they would reach outside the frame.
Placement ComputePlacement(int pictureWidth, int pictureHeight, int frameWidth, int frameHeight,
                           const PlaceMargins& margins);

// The placement of `picture` (with its margins) into a frameWidth x
// frameHeight frame, or an empty one when PlaceInto would draw nothing: the
// picture lacks usable pixels (byteCount 0, bitsPerPixel not 32, state not
// 1, no buffer, sizes that disagree with byteCount, or a window outside its
// whole size) or the frame size is below 1. A picture held in part
// (placeWidth > 0) is placed by its whole size, then the placement is cut
// to the window it holds; sourceX and sourceY then count from the window's
// corner, so that they index the pixel buffer either way.
Placement PicturePlacement(const PictureBuffer& picture, int frameWidth, int frameHeight);

// Draws frame rows [rowBegin, rowEnd) of `placement` (rows outside the
// placement are skipped): `picture` holds the picture's packed pixels,
// `pictureWidth` wide; `rows` points at frame row `rowBegin`, followed by
// the rows up to rowEnd, each `frameWidth` pixels (a whole frame with
// rowBegin 0, or a band of it). The caller guarantees the placement came
// from ComputePlacement with these sizes.
void PlaceRows(int mode, const uint8_t* picture, int pictureWidth, const Placement& placement,
               uint8_t* rows, int frameWidth, int rowBegin, int rowEnd);

}  // namespace plombix
