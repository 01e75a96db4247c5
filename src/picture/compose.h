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
//
// `copyInto`, when not null, is an output frame (frameWidth x frameHeight
// pixels, rows of frameWidth x 4 bytes, not overlapping `composed`) that
// ends as composed.PlaceInto(PlaceCopy, copyInto, frameWidth, frameHeight)
// would leave it; each row is copied out while it is still in the cache.
void ComposeFrame(PictureBuffer& composed, const PictureBuffer& background,
                  const PictureBuffer& picture, const PictureBuffer* overlay, int frameWidth,
                  int frameHeight, uint8_t* copyInto = nullptr);

}  // namespace plombix
