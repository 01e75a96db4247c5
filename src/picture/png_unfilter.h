// Undoing PNG's row filters, and 8-bit RGB and RGBA rows turned into the
// pixel format on the way.
//
// A stored row is a filter type byte and then the row's bytes, each written
// as its difference from a prediction made from bytes already decoded:
// a = the same byte of the pixel to the left, b = the byte above, c = the
// byte above and to the left (each 0 outside the picture). Unfiltering adds
// the prediction back, modulo 256:
//   0 None     0
//   1 Sub      a
//   2 Up       b
//   3 Average  floor((a + b) / 2)
//   4 Paeth    whichever of a, b, c is nearest to p = a + b - c, ties
//              going to a, then b: with pa = |p - a| = |b - c|,
//              pb = |p - b| = |a - c|, pc = |p - c| = |(a - c) + (b - c)|,
//              a when pa <= pb and pa <= pc, else b when pb <= pc, else c.
// Every prediction is made within one byte position of the pixel, so the
// bytes of a pixel may be unfiltered in any order: RGB(A) rows are moved
// into blue, green, red, alpha order first and unfiltered there, against
// the row above in that same order.
//
// Thread-safety: the functions share nothing; any number may run at once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plombix {

// Unfilters one row in place: `filter` 0..4 (anything else leaves the row
// as it is), `prior` the row above, already unfiltered, or null for the
// picture's first row; `bytesPerPixel` 1..8. The plain version, a byte at
// a time: the rows of 1 and 2 bytes a pixel take it, and the fast versions
// are held against it.
void UnfilterRow(int filter, uint8_t* row, const uint8_t* prior, size_t rowBytes,
                 int bytesPerPixel);

// Bytes after the last stored row that UnfilterRowsToBgra may read (and
// ignore): they must be readable.
constexpr size_t kUnfilterSlackBytes = 16;

// Unfilters `count` stored rows of an 8-bit RGB (`channels` 3) or RGBA (4)
// picture `width` pixels wide straight into the pixel format. `stored`:
// the rows as in the image data, each its filter type byte and width x
// channels bytes, one after another, then kUnfilterSlackBytes more;
// `prior`: the pixel-format row above the first (null for the picture's
// first row); `out`: count rows of width x 4 bytes, packed, RGB with alpha
// 255. `stored` and `out` must not overlap. False (`out` then holds no
// meaningful rows) when a filter type is above 4.
//
// Runs eight rows at once along a diagonal where the processor has AVX2
// (row k of a group works on pixel x - k while its first row works on
// pixel x, so that whatever a pixel needs from the row above was made a
// step earlier): Paeth's chain of dependent steps is then shared by eight
// pixels instead of holding up each one. Everything else, and any rows
// left over, one row at a time.
[[nodiscard]] bool UnfilterRowsToBgra(const uint8_t* stored, int width, int channels, int count,
                                      const uint8_t* prior, uint8_t* out);

}  // namespace plombix
