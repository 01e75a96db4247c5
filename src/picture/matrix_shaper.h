// The fast colour conversion of an RGB matrix-shaper profile to sRGB, in
// fixed point, on pixels in the player's format (blue, green, red, alpha;
// alpha untouched), in place:
//
//   linear  l_c = linear[c][v_c]                         Q14, 0..16384
//   sum     s_o = (sum over c of matrix[o][c] l_c + 2048) >> 12
//                                                        Q12 x Q14 -> Q14
//   out     out_o = encode[clamp(s_o, 0, 16384)]
//
// with c and o the pixel's channels (0 blue, 1 green, 2 red). Each product
// is below 2^29 in magnitude (|matrix| < 2^15, linear <= 2^14), so a sum of
// three and the rounding term stay inside 32 bits, and the shift is a
// floor (arithmetic). `encode` never decreases, so out_o is also the number
// of k in 1..255 with threshold[k] <= s_o: the vector kernel finds it by a
// binary search over `threshold` (eight compares, table look-ups by word
// permutes), the scalar one by the table. Every version gives the same
// bytes (simd_level.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace plombix {

struct MatrixShaperTables {
  static constexpr int kOne = 16384;  // linear 1.0, Q14
  static constexpr int kShift = 12;   // matrix 1.0 = 1 << kShift

  // Filled by the maker:
  alignas(64) int16_t linear[3][256] = {};  // [input channel][level]
  int16_t matrix[3][3] = {};                // [output channel][input channel]
  uint8_t encode[kOne + 1] = {};            // sRGB level of a linear value

  // Made by Derive() from the above:
  alignas(64) int32_t contribution[3][256][4] = {};  // matrix[o][c] x linear[c][v] at [c][v][o]
  alignas(64) uint16_t threshold[256] = {};          // least s with encode[s] >= k; [0] = 0

  void Derive();
};

// Converts `count` pixels at `pixels` in place, with the best kernel of the
// current SIMD level.
void ConvertMatrixShaper(const MatrixShaperTables& tables, uint8_t* pixels, size_t count);

}  // namespace plombix
