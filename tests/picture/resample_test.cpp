// The resampler: its filters against a floating-point model, the fast path
// against the reference, and the properties every rescale must keep.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

#include "picture_test_support.h"
#include "resample.h"

namespace plombix {
namespace {

using Pixels = std::vector<uint8_t>;

Pixels RandomPixels(int w, int h, uint32_t seed) {
  return testing::RandomBytes(size_t(w) * size_t(h) * 4, seed);
}

Pixels Resample(const Pixels& src, int sw, int sh, int tw, int th, ResamplePath path) {
  Resampler r;
  Pixels out(size_t(tw) * size_t(th) * 4, 0xEE);
  EXPECT_TRUE(r.Prepare(sw, sh, tw, th, path)) << sw << "x" << sh << "->" << tw << "x" << th;
  r.Run(src.data(), out.data());
  return out;
}

// Floating-point model of one axis: area average when shrinking, linear
// interpolation between centres when growing, copy when equal.
std::vector<double> ModelAxis(const std::vector<double>& in, int T) {
  const int S = int(in.size());
  std::vector<double> out(size_t(T), 0.0);
  const double scale = double(S) / T;
  for (int d = 0; d < T; ++d) {
    if (S == T) {
      out[size_t(d)] = in[size_t(d)];
    } else if (T < S) {
      const double lo = d * scale, hi = (d + 1) * scale;
      double sum = 0;
      for (int i = int(std::floor(lo)); i < S && i < hi; ++i)
        sum += in[size_t(i)] * (std::min(hi, i + 1.0) - std::max(lo, double(i)));
      out[size_t(d)] = sum / scale;
    } else {
      const double x = (d + 0.5) * scale - 0.5;
      const int i0 = int(std::floor(x));
      if (x <= 0) out[size_t(d)] = in[0];
      else if (i0 >= S - 1) out[size_t(d)] = in[size_t(S - 1)];
      else out[size_t(d)] = in[size_t(i0)] + (x - i0) * (in[size_t(i0 + 1)] - in[size_t(i0)]);
    }
  }
  return out;
}

// The model in two dimensions (columns first, like the resampler), per byte.
Pixels Model(const Pixels& src, int sw, int sh, int tw, int th) {
  Pixels out(size_t(tw) * size_t(th) * 4);
  for (int c = 0; c < 4; ++c) {
    std::vector<std::vector<double>> columns(static_cast<size_t>(sw));
    for (int x = 0; x < sw; ++x) {
      std::vector<double> column(static_cast<size_t>(sh));
      for (int y = 0; y < sh; ++y)
        column[size_t(y)] = src[(size_t(y) * size_t(sw) + size_t(x)) * 4 + size_t(c)];
      columns[size_t(x)] = ModelAxis(column, th);
    }
    for (int y = 0; y < th; ++y) {
      std::vector<double> row(static_cast<size_t>(sw));
      for (int x = 0; x < sw; ++x) row[size_t(x)] = columns[size_t(x)][size_t(y)];
      const std::vector<double> r = ModelAxis(row, tw);
      for (int x = 0; x < tw; ++x)
        out[(size_t(y) * size_t(tw) + size_t(x)) * 4 + size_t(c)] = uint8_t(std::lround(r[size_t(x)]));
    }
  }
  return out;
}

int WorstDifference(const Pixels& a, const Pixels& b) {
  int worst = 0;
  for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
  return worst;
}

struct SizeCase { int sw, sh, tw, th; };
// Shrinks, growths, mixed axes, copies; widths that leave a tail after the
// four-pixel steps; heights that leave a partial group of four rows; up to
// eight taps an axis for the fast path.
const SizeCase kSizes[] = {{6, 4, 3, 2},    {7, 5, 3, 3},    {15, 9, 8, 5},    {60, 40, 38, 21},
                           {5, 3, 17, 11},  {1, 1, 9, 6},    {9, 6, 1, 1},     {13, 7, 13, 7},
                           {13, 7, 26, 3},  {40, 9, 6, 30},  {48, 48, 7, 7},   {23, 17, 22, 18},
                           {3, 50, 11, 49}, {100, 3, 13, 6}, {64, 36, 65, 37}, {37, 23, 1, 1}};

TEST(AxisFilter, WeightsAddUpAndStayInsideTheSource) {
  const std::pair<int, int> pairs[] = {{6000, 3840}, {4000, 2160}, {480, 1920}, {270, 1080},
                                       {7, 5},       {5, 7},       {1, 9},      {9, 1},
                                       {1920, 1920}, {3, 2},       {16384, 1},  {2, 16384}};
  for (auto [S, T] : pairs) {
    AxisFilter f;
    ASSERT_TRUE(BuildAxisFilter(f, S, T)) << S << "->" << T;
    ASSERT_GE(f.taps, 1);
    for (int d = 0; d < T; ++d) {
      uint64_t sum = 0;
      for (int k = 0; k < f.taps; ++k) sum += f.weights[size_t(d) * size_t(f.taps) + size_t(k)];
      ASSERT_EQ(sum, 65536u) << S << "->" << T << " target " << d;
      ASSERT_GE(f.first[d], 0);
      ASSERT_LE(f.first[d] + f.taps, S);
      if (d > 0) {
        ASSERT_GE(f.first[d], f.first[d - 1]);
      }
    }
  }
  // 6000 -> 3840: target 0 covers [0, 1.5625), pixel 0 whole and 0.5625 of
  // pixel 1: 65536 / 1.5625 = 41943.04 and 0.36 x 65536 = 23592.96, rounded.
  AxisFilter f;
  ASSERT_TRUE(BuildAxisFilter(f, 6000, 3840));
  EXPECT_EQ(std::tuple(f.taps, f.first[0], f.weights[0], f.weights[1], f.weights[2]),
            std::tuple(3, 0, 41943u, 23593u, 0u));
  EXPECT_FALSE(BuildAxisFilter(f, 0, 5));
  EXPECT_FALSE(BuildAxisFilter(f, 5, -1));
}

TEST(Resampler, BothPathsFollowTheFloatingPointModel) {
  // Random pixels (colour and alpha each filtered on their own, never one
  // weighted by the other), and alternating 0 and 255 columns and rows: any
  // overflow of the 16-bit sums would show as a jump of about 255.
  // The sizes include halving (the mean of each 2 x 2 block), one pixel
  // grown everywhere and shrinking to one pixel (the mean of all).
  for (const SizeCase& s : kSizes) {
    SCOPED_TRACE(::testing::Message() << s.sw << "x" << s.sh << "->" << s.tw << "x" << s.th);
    Pixels contrast(size_t(s.sw) * size_t(s.sh) * 4);
    for (size_t i = 0; i < contrast.size(); ++i)
      contrast[i] = ((i / 4 % size_t(s.sw) + i / 4 / size_t(s.sw) + i) & 1) ? 255 : 0;
    for (const Pixels& src : {RandomPixels(s.sw, s.sh, 7), contrast}) {
      const Pixels fast = Resample(src, s.sw, s.sh, s.tw, s.th, ResamplePath::Fast);
      const Pixels reference = Resample(src, s.sw, s.sh, s.tw, s.th, ResamplePath::Reference);
      EXPECT_LE(WorstDifference(reference, Model(src, s.sw, s.sh, s.tw, s.th)), 1) << "reference";
      EXPECT_LE(WorstDifference(fast, Model(src, s.sw, s.sh, s.tw, s.th)), 1) << "fast";
      EXPECT_LE(WorstDifference(fast, reference), 1) << "fast against reference";
    }
  }
}

}  // namespace
}  // namespace plombix
