#include "ycbcr_rows.h"

#include <algorithm>
#include <cmath>

namespace plombix {
namespace {

constexpr double kOne = 65536.0;  // 2^16: one output level

struct LumaWeights {
  double kr, kb;
};

// Kr, Kb of ISO/IEC 23091-2 MatrixCoefficients.
LumaWeights WeightsOf(int matrix) {
  switch (matrix) {
    case 1:
      return {0.2126, 0.0722};  // BT.709
    case 4:
      return {0.30, 0.11};  // FCC
    case 7:
      return {0.212, 0.087};  // SMPTE 240M
    case 9:
    case 10:
      return {0.2627, 0.0593};  // BT.2020
    default:
      return {0.299, 0.114};  // 5, 6: BT.601; unspecified and unknown likewise
  }
}

inline uint8_t Level(int64_t fixed) {
  return uint8_t(std::clamp<int64_t>((fixed + (1 << 15)) >> 16, 0, 255));
}

template <typename Sample>
inline int64_t At(const uint8_t* plane, size_t stride, int x, int y) {
  return reinterpret_cast<const Sample*>(plane + size_t(y) * stride)[x];
}

}  // namespace

CodecRowConverter::CodecRowConverter(const CodecPlanes& planes) : planes_(planes) {
  const int bits = std::clamp(planes.bits, 8, 16);
  const double max = double((int64_t(1) << bits) - 1);
  const double s = double(int64_t(1) << (bits - 8));
  half_ = int64_t(1) << (bits - 1);
  const double yRange = planes.fullRange ? max : 219.0 * s;
  const double cRange = planes.fullRange ? max : 224.0 * s;
  yOffset_ = planes.fullRange ? 0 : int64_t(16 * s);
  yScale_ = std::llround(255.0 * kOne / yRange);
  const double c = 255.0 * kOne / cRange;
  const LumaWeights w = WeightsOf(planes.matrix);
  const double kg = 1.0 - w.kr - w.kb;
  crToR_ = std::llround(c * 2.0 * (1.0 - w.kr));
  crToG_ = std::llround(-c * 2.0 * w.kr * (1.0 - w.kr) / kg);
  cbToG_ = std::llround(-c * 2.0 * w.kb * (1.0 - w.kb) / kg);
  cbToB_ = std::llround(c * 2.0 * (1.0 - w.kb));
  alphaMax_ = (int64_t(1) << std::clamp(planes.alphaBits, 1, 16)) - 1;
}

void CodecRowConverter::ConvertRow(int y, int width, uint8_t* out) const {
  if (planes_.bits > 8)
    Convert<uint16_t>(y, width, out);
  else
    Convert<uint8_t>(y, width, out);
}

template <typename Sample>
void CodecRowConverter::Convert(int y, int width, uint8_t* out) const {
  const CodecPlanes& p = planes_;
  const bool identity = p.layout == CodecPlanes::Layout::Rgb ||
                        (p.layout == CodecPlanes::Layout::YCbCr && p.matrix == 0);
  const int cy = y >> p.chromaShiftY;
  for (int x = 0; x < width; ++x, out += 4) {
    const int64_t luma = (At<Sample>(p.plane[0], p.stride[0], x, y) - yOffset_) * yScale_;
    if (p.layout == CodecPlanes::Layout::Grey) {
      out[0] = out[1] = out[2] = Level(luma);
    } else if (identity) {
      // Rgb: planes R, G, B; identity matrix: planes G, B, R.
      const int cx = x >> p.chromaShiftX;
      const int64_t first = At<Sample>(p.plane[1], p.stride[1], cx, cy);
      const int64_t second = At<Sample>(p.plane[2], p.stride[2], cx, cy);
      const bool rgb = p.layout == CodecPlanes::Layout::Rgb;
      const int64_t r =
          rgb ? (At<Sample>(p.plane[0], p.stride[0], x, y) - yOffset_) : (second - yOffset_);
      const int64_t g =
          rgb ? (first - yOffset_) : (At<Sample>(p.plane[0], p.stride[0], x, y) - yOffset_);
      const int64_t b = rgb ? (second - yOffset_) : (first - yOffset_);
      out[0] = Level(b * yScale_);
      out[1] = Level(g * yScale_);
      out[2] = Level(r * yScale_);
    } else {
      const int cx = x >> p.chromaShiftX;
      const int64_t cb = At<Sample>(p.plane[1], p.stride[1], cx, cy) - half_;
      const int64_t cr = At<Sample>(p.plane[2], p.stride[2], cx, cy) - half_;
      out[0] = Level(luma + cbToB_ * cb);
      out[1] = Level(luma + crToG_ * cr + cbToG_ * cb);
      out[2] = Level(luma + crToR_ * cr);
    }
    if (p.alpha) {
      const int64_t a = p.alphaBits > 8 ? At<uint16_t>(p.alpha, p.alphaStride, x, y)
                                        : At<uint8_t>(p.alpha, p.alphaStride, x, y);
      out[3] = uint8_t((std::min(a, alphaMax_) * 255 * 2 + alphaMax_) / (2 * alphaMax_));
    } else {
      out[3] = 255;
    }
  }
}

}  // namespace plombix
