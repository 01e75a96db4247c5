// Cross-fade kernel.
//
// weight w = (stepsLeft x 256) div steps, after the step counter has been
// decremented; every byte (all four channels) of the frame becomes
//   (previous x w + composed x (256 - w)) >> 8.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plombix {

// Weight of a fade step; `steps` > 0.
int FadeWeight(int stepsLeft, int steps);

// out[i] = (previous[i] * w + composed[i] * (256 - w)) >> 8 for i < byteCount,
// 0 <= w <= 256. `out` may not alias the inputs.
void FadeBlend(uint8_t* out, const uint8_t* previous, const uint8_t* composed, size_t byteCount,
               int weight);

}  // namespace plombix
