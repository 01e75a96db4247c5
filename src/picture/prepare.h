// PreparePicture: everything a picture file needs before it can be composed
// — decode, make opaque when it has no alpha of its own, scale by the
// scaling mode (inside the borders for the shown picture, to the whole
// output for the overlay), expand video range — as one call that touches no
// shared state, so that it can run on a worker thread while the window's
// thread goes on. The window's thread then only adopts the result
// (PictureBuffer::AdoptPrepared) and composes.
//
// What reaches the frame is exactly what LoadFile, SetAlpha(255) for a
// picture without alpha, ScaleTo the target of the scaling mode and
// ApplyRangeTable would leave there — except that a JPEG is decoded at the
// smallest of 1/8, 1/4, 1/2 and 1/1 of its size that is still twice the
// target (DecodeDenominator), which the resampler then shrinks. The margin
// keeps the scaled decode as sharp as the full-size path: the scaled
// inverse DCT already softens, and a further shrink by little more than 1
// softens again (up to 4 levels on average on text-like detail), while
// from twice on the two differ by well under one level on average (photos,
// text, line art and fine line grids). The memory and time are
// those of the part that can be seen: only the window of the scaled picture
// that a frame of the output size shows (its centre, cut at the frame's
// edges as placement cuts it) is computed and kept, so a picture much larger
// than the frame in Crop & Fill or None costs one frame, not the whole
// scaled picture. The decoded original is never kept: it passes through a
// small ring of rows while it is resampled.
//
// Thread-safety: PreparePicture and ProbeImageFile may run on any thread,
// several at once; they share nothing. Each uses at most one more thread of
// its own while it runs, and only where the machine has a second core.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "decode_error.h"

namespace plombix {

enum class PictureRole {
  Shown,    // the shown picture: ShownPictureTarget, inside the borders
  Overlay,  // the overlay: OverlayTarget, the whole output
};

struct PrepareRequest {
  std::string path;
  PictureRole role = PictureRole::Shown;
  int scalingMode = 1;
  int outputWidth = 0;
  int outputHeight = 0;
  int borderSidesPx = 0;      // shown picture only
  int borderTopBottomPx = 0;  // shown picture only
  bool limitedRange = false;  // apply the 16-235 -> 0-255 table
  // Polled between the stages of the work and once every few rows while
  // decoding; when it returns true the work stops and the result is
  // DecodeError::Cancelled. May be empty. Called on the preparing thread.
  std::function<bool()> cancelled;
  // Threads the work may use: 0 = as many as pay (2 where there are two
  // cores), 1 = the calling thread only. Never more than the cores.
  int threads = 0;
};

struct PreparedPicture {
  DecodeError error = DecodeError::None;
  std::string fileName;  // last path component of the request's path
  std::string filePath;  // the request's path
  // The image as decoded: its size (the labels' "from W x H") and depth.
  int sourceWidth = 0;
  int sourceHeight = 0;
  int sourceBitsPerPixel = 0;
  // The part of the scaled picture that is kept, in the pixel format (rows
  // packed): columns [windowLeft, windowLeft + width) and rows [windowTop,
  // windowTop + height) of a placeWidth x placeHeight picture, which is
  // what placement centres in the frame.
  int width = 0;
  int height = 0;
  int placeWidth = 0;
  int placeHeight = 0;
  int windowLeft = 0;
  int windowTop = 0;
  std::unique_ptr<uint8_t[]> pixels;

  bool ok() const { return error == DecodeError::None; }
};

// Decodes, scales and adjusts the picture of `request`. Never throws; a
// failure leaves `pixels` empty and names the reason (the file's reasons as
// for LoadFile, TooLarge for a decode beyond the budget at the scale it
// would be decoded at, Changed for a file that changed while it was read,
// Cancelled).
[[nodiscard]] PreparedPicture PreparePicture(const PrepareRequest& request);

// Whether the file at `path` decodes completely (the slideshow's check of a
// sequence's start and end files), holding no memory afterwards. A JPEG is
// checked at 1/8 of its size (every byte of it is still decoded), so the
// budget is that of the smallest picture the file can be shown as.
[[nodiscard]] DecodeError ProbeImageFile(const std::string& path);

// The denominator a JPEG of storedWidth x storedHeight is decoded at when
// it is scaled to targetWidth x targetHeight (the same orientation): the
// largest of 8, 4, 2 whose decoded size, rounded up, is at least twice
// the target in both sides; 1 when none is. (PreparePicture goes coarser,
// down to a size that still covers the target, only where the decode
// budget refuses this one.)
[[nodiscard]] int DecodeDenominator(int storedWidth, int storedHeight, int targetWidth,
                                    int targetHeight);

}  // namespace plombix
