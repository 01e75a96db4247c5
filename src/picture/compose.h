// Composition of one output frame: background, picture, optional overlay.
#pragma once

#include "picture_buffer.h"

namespace plombix {

// composed := copy of background; then `picture` and, when not null,
// `overlay` are blended over it (PlaceBlend), frame frameWidth x frameHeight.
// Allocates nothing once `composed` has the background's byte count.
void ComposeFrame(PictureBuffer& composed, const PictureBuffer& background,
                  const PictureBuffer& picture, const PictureBuffer* overlay, int frameWidth,
                  int frameHeight);

}  // namespace plombix
