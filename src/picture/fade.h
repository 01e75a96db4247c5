// Cross-fade kernel: one step of the blend from the frame last sent to the
// newly composed one (the arithmetic is at the top of fade.cpp).
//
// weight w = (stepsLeft x 256) div steps, after the step counter has been
// decremented; every byte (all four channels) of the frame becomes
//   (previous x w + composed x (256 - w)) >> 8.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plombix {

// Weight of a fade step, 0..256. Arguments outside the fade's own range
// are clamped rather than trusted: steps <= 0 or stepsLeft <= 0 give 0 (the
// new frame alone), stepsLeft >= steps gives 256 (the old frame alone).
int FadeWeight(int stepsLeft, int steps);

// out[i] = (previous[i] * w + composed[i] * (256 - w)) >> 8 for i < byteCount.
// A weight outside 0..256 is clamped to that range. `out` may be the same
// buffer as one of the inputs but may not overlap them otherwise. Null
// pointers or byteCount 0: nothing happens. Bit-identical at every SimdLevel.
void FadeBlend(uint8_t* out, const uint8_t* previous, const uint8_t* composed, size_t byteCount,
               int weight);

}  // namespace plombix
