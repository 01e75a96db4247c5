// What one decode may cost, so that no small file can take the machine.
//
// The limit is on the memory a decode would use, worked out from the file's
// header before anything big is allocated, whatever the picture's sides:
//
//   cost = decoded width x decoded height x bytes a pixel + fixed bytes
//
// where the decoded size is the size the decoder really produces (a JPEG
// decoded at 1/2, 1/4 or 1/8 of its size counts at that size), bytes a pixel
// is what the decoder holds a pixel in (4 for 8-bit channels, 8 for 16-bit
// channels), and the fixed bytes are working memory that does not shrink
// with the scale (the coefficients a progressive JPEG keeps for the whole
// picture).
//
// Budget: 2^29 bytes (512 MiB), i.e. 2^27 pixels at 4 bytes. That admits
// every camera file in use (a 100-megapixel sensor gives 11648 x 8736 =
// 102 million pixels), 16384 x 8192 exactly, and panoramas such as 30000 x
// 3000 (90 million); it refuses the 16384 x 16384 that a 36-byte GIF, an
// 81-byte XBM or a 543-byte JPEG can claim (268 million pixels, 1 GiB), and
// a 16-bit PNG above 67 million pixels. On the machines the player runs on
// (8 GB and up) one such decode leaves room for the output frames, the
// window and a second picture being prepared.
//
// Each side is further capped at 65535 pixels, the largest side a JPEG can
// have: no camera or stitcher gives more, and it keeps every row size,
// filter table and placement sum far inside 32-bit integers.
#pragma once

#include <cstdint>

#include "decode_error.h"

namespace plombix {

constexpr int64_t kDecodeBudgetBytes = int64_t(1) << 29;
constexpr int kMaxDecodeSide = 65535;

// Whether a decode of width x height pixels at `bytesPerPixel`, plus
// `fixedBytes`, may go ahead: BadSize for a side of 0 or less or above the
// cap, TooLarge above the budget, else None.
[[nodiscard]] constexpr DecodeError CheckDecodeCost(int64_t width, int64_t height,
                                                    int bytesPerPixel, int64_t fixedBytes = 0) {
  if (width <= 0 || height <= 0 || width > kMaxDecodeSide || height > kMaxDecodeSide)
    return DecodeError::BadSize;
  if (width * height * bytesPerPixel + fixedBytes > kDecodeBudgetBytes) return DecodeError::TooLarge;
  return DecodeError::None;
}

}  // namespace plombix
