// Backgrounds of the output frame.
#pragma once

#include <cstdint>

#include "picture_buffer.h"

namespace plombix {

// backgroundMode values: 0 black, 1 white, 10..16 graduated fills (10 as
// 11), 20 copy of the grabbed frame, 30 transparent.
enum BackgroundMode : int {
  BackgroundBlack = 0,
  BackgroundWhite = 1,
  BackgroundGradFirst = 10,
  BackgroundGradLast = 19,
  BackgroundGrabbed = 20,
  BackgroundTransparent = 30,
};

inline bool IsGradientMode(int mode) { return mode >= BackgroundGradFirst && mode <= BackgroundGradLast; }

enum class FillResult {
  Unchanged,  // nothing was written (unknown mode, no pixels, no matching grab)
  Filled,     // the background was drawn
  GrabUsed,   // mode 20: the grabbed frame was copied in (the Grab button
              // then reads "Grab used")
};

// Builds `background` (already at output size) for `mode`. Colours are
// 0xAARRGGBB; their top byte is never read. Gradient backgrounds end opaque.
// Modes 0, 1, 30 and the gradients need pixels: a background without a
// buffer, with a size below 1, or with sizes that disagree with its byte
// count is left alone (Unchanged). Mode 20 copies `grabbed` only when it
// holds pixels of the background's very size (byte count, width and
// height: the same byte count in another shape would scramble the rows);
// otherwise, or when the copy fails, the background stays what it was (the
// resampled placeholder) and the result is Unchanged. Modes 17..19 and all
// unknown modes: Unchanged.
FillResult FillBackground(PictureBuffer& background, int mode, uint32_t firstColour,
                          uint32_t secondColour, const PictureBuffer& grabbed);

}  // namespace plombix
