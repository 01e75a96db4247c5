// Rows of the pixel format from the planes a video codec decodes a still
// picture to (HEIC, AVIF): Y'CbCr with full or subsampled chroma, grey, or
// planar R'G'B', 8 to 16 bits a sample, with or without an alpha plane.
//
// Y'CbCr to R'G'B' by the matrix the file names (ISO/IEC 23091-2
// MatrixCoefficients), with Kr, Kb the luma weights of red and blue and
// Kg = 1 - Kr - Kb, on samples normalised to Y in [0, 1] and Cb, Cr in
// [-1/2, 1/2]:
//   R = Y + 2 (1 - Kr) Cr
//   G = Y - 2 Kr (1 - Kr) / Kg Cr - 2 Kb (1 - Kb) / Kg Cb
//   B = Y + 2 (1 - Kb) Cb
// Full range: Y = y / M, C = (c - H) / M with M = 2^bits - 1 and
// H = 2^(bits - 1). Limited ("video") range: Y = (y - 16 s) / (219 s),
// C = (c - 128 s) / (224 s), s = 2^(bits - 8). Matrix 0 (identity) means the
// planes hold G, B, R. Matrices the player does not know are taken as
// BT.601, the codecs' default.
//
// Arithmetic: every term is folded into integer coefficients of 2^-16 of an
// output level, so that a pixel costs three sums of products; the result is
// rounded to nearest (ties up) and clipped to 0..255. Subsampled chroma is
// taken from the sample that covers the pixel (x >> shiftX, y >> shiftY).
// Alpha: a x 255 / M, rounded to nearest; without an alpha plane, 255.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plombix {

struct CodecPlanes {
  enum class Layout { YCbCr, Grey, Rgb };
  Layout layout = Layout::YCbCr;
  // Y, Cb, Cr (or R, G, B; only [0] for grey) with their row strides in
  // bytes. Samples of more than 8 bits are 16-bit words in native order.
  const uint8_t* plane[3] = {nullptr, nullptr, nullptr};
  size_t stride[3] = {0, 0, 0};
  const uint8_t* alpha = nullptr;  // null: opaque
  size_t alphaStride = 0;
  int bits = 8;          // of the colour planes, 8..16
  int alphaBits = 8;     // of the alpha plane, 8..16
  int chromaShiftX = 0;  // 4:2:0 and 4:2:2: 1
  int chromaShiftY = 0;  // 4:2:0: 1
  int matrix = 6;        // MatrixCoefficients (Y'CbCr only)
  bool fullRange = true;
};

class CodecRowConverter {
 public:
  // `planes` must stay valid while rows are converted.
  explicit CodecRowConverter(const CodecPlanes& planes);

  // Writes row `y` (width pixels) in the pixel format into `out`.
  void ConvertRow(int y, int width, uint8_t* out) const;

 private:
  template <typename Sample>
  void Convert(int y, int width, uint8_t* out) const;

  CodecPlanes planes_;
  // Output level x 2^16 = yScale (y - yOffset) + c?[.] (chroma - half)
  int64_t yScale_ = 0, yOffset_ = 0, half_ = 0;
  int64_t crToR_ = 0, crToG_ = 0, cbToG_ = 0, cbToB_ = 0;
  int64_t alphaMax_ = 255;
};

}  // namespace plombix
