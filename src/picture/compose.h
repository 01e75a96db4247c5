// Composition of one output frame: background, picture, optional overlay.
#pragma once

#include "picture_buffer.h"

namespace plombix {

// composed := copy of background (CopyFrom); then `picture` and, when not
// null, `overlay` are blended over it (PlaceBlend), frame frameWidth x
// frameHeight. Allocates nothing once `composed` has the background's byte
// count. The pictures are placed only while `composed` holds exactly a
// frame's bytes: a background of another size (or a failed copy that left
// a smaller buffer) gives a composed picture without them rather than
// writes past its end. When CopyFrom refuses the background (state not 1)
// the pictures go over what `composed` held, as the three steps would do.
void ComposeFrame(PictureBuffer& composed, const PictureBuffer& background,
                  const PictureBuffer& picture, const PictureBuffer* overlay, int frameWidth,
                  int frameHeight);

}  // namespace plombix
