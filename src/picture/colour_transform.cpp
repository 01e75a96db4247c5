#include "colour_transform.h"

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>

#include "matrix_shaper.h"

namespace plombix {
namespace {

// Owners of LittleCMS handles.
struct ProfileCloser {
  void operator()(void* p) const { cmsCloseProfile(p); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;
struct TransformDeleter {
  void operator()(void* t) const { cmsDeleteTransform(t); }
};
using Transform = std::unique_ptr<void, TransformDeleter>;

Profile OpenProfile(const uint8_t* icc, size_t size) {
  if (!icc || size < 128 || size > (size_t(1) << 30)) return nullptr;
  return Profile(cmsOpenProfileFromMem(icc, cmsUInt32Number(size)));
}

Profile SrgbProfile() { return Profile(cmsCreate_sRGBProfile()); }

bool ColoursOf(cmsHPROFILE profile, RowColours* colours) {
  switch (cmsGetColorSpace(profile)) {
    case cmsSigRgbData:
      *colours = RowColours::Rgb;
      return true;
    case cmsSigGrayData:
      *colours = RowColours::Grey;
      return true;
    case cmsSigCmykData:
      *colours = RowColours::Cmyk;
      return true;
    default:
      return false;
  }
}

// sRGB's encoding of a linear value, 0..1.
double SrgbEncode(double linear) {
  linear = std::clamp(linear, 0.0, 1.0);
  return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

// --- LittleCMS's own transforms --------------------------------------------

class LcmsRgb final : public ColourTransform {
 public:
  explicit LcmsRgb(Transform t) : ColourTransform(RowColours::Rgb), t_(std::move(t)) {}
  void Convert(uint8_t* pixels, size_t count) const override {
    cmsDoTransform(t_.get(), pixels, pixels, cmsUInt32Number(count));
  }

 private:
  Transform t_;
};

class LcmsCmyk final : public ColourTransform {
 public:
  explicit LcmsCmyk(Transform t) : ColourTransform(RowColours::Cmyk), t_(std::move(t)) {}
  void Convert(uint8_t* pixels, size_t count) const override {
    // Four bytes in, four out: in place. The fourth byte keeps K; opaque.
    cmsDoTransform(t_.get(), pixels, pixels, cmsUInt32Number(count));
    for (size_t i = 0; i < count; ++i) pixels[i * 4 + 3] = 255;
  }

 private:
  Transform t_;
};

class GreyTable final : public ColourTransform {
 public:
  GreyTable() : ColourTransform(RowColours::Grey) {}
  void Convert(uint8_t* pixels, size_t count) const override {
    // Only grey pixels: a colour picture wrongly tagged grey keeps its colours.
    for (size_t i = 0; i < count; ++i, pixels += 4)
      if (pixels[0] == pixels[1] && pixels[1] == pixels[2])
        std::memcpy(pixels, table[pixels[0]].data(), 3);
  }
  std::array<std::array<uint8_t, 3>, 256> table{};  // blue, green, red for each level
};

// --- The fast path for matrix-shaper RGB profiles (matrix_shaper.h) --------

class MatrixShaper final : public ColourTransform {
 public:
  MatrixShaper() : ColourTransform(RowColours::Rgb) {}
  void Convert(uint8_t* pixels, size_t count) const override {
    ConvertMatrixShaper(tables, pixels, count);
  }
  bool matrixShaper() const override { return true; }
  MatrixShaperTables tables;
};

// Column `c` of a profile's RGB -> XYZ (D50) matrix: its colorant.
bool Colorants(cmsHPROFILE profile, double m[3][3]) {
  const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                   cmsSigBlueColorantTag};
  for (int c = 0; c < 3; ++c) {
    const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tags[c]));
    if (!xyz) return false;
    m[0][c] = xyz->X;
    m[1][c] = xyz->Y;
    m[2][c] = xyz->Z;
  }
  return true;
}

bool Invert(const double a[3][3], double out[3][3]) {
  const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                     a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                     a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  if (std::fabs(det) < 1e-9) return false;
  out[0][0] = (a[1][1] * a[2][2] - a[1][2] * a[2][1]) / det;
  out[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det;
  out[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det;
  out[1][0] = (a[1][2] * a[2][0] - a[1][0] * a[2][2]) / det;
  out[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det;
  out[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det;
  out[2][0] = (a[1][0] * a[2][1] - a[1][1] * a[2][0]) / det;
  out[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det;
  out[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det;
  return true;
}

std::unique_ptr<ColourTransform> MakeMatrixShaper(cmsHPROFILE source) {
  if (!cmsIsMatrixShaper(source) || cmsGetColorSpace(source) != cmsSigRgbData) return nullptr;
  const Profile srgb = SrgbProfile();
  double src[3][3], dst[3][3], inverse[3][3];
  if (!srgb || !Colorants(source, src) || !Colorants(srgb.get(), dst) || !Invert(dst, inverse))
    return nullptr;
  double m[3][3] = {};  // rows: output red, green, blue; columns: input red, green, blue
  for (int o = 0; o < 3; ++o)
    for (int c = 0; c < 3; ++c)
      for (int k = 0; k < 3; ++k) m[o][c] += inverse[o][k] * src[k][c];
  // The matrix words are 16 bits: |m| x 4096 below 2^15.
  for (const auto& row : m)
    for (double v : row)
      if (!(std::fabs(v) < 7.99)) return nullptr;

  const cmsTagSignature curves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
  auto shaper = std::unique_ptr<MatrixShaper>(new (std::nothrow) MatrixShaper);
  if (!shaper) return nullptr;
  MatrixShaperTables& t = shaper->tables;
  constexpr int kOne = MatrixShaperTables::kOne;
  for (int c = 0; c < 3; ++c) {  // input red, green, blue; in the pixel at 2 - c
    const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(source, curves[c]));
    if (!curve) return nullptr;
    for (int v = 0; v < 256; ++v) {
      const double y = std::clamp(double(cmsEvalToneCurveFloat(curve, float(v / 255.0))), 0.0, 1.0);
      t.linear[2 - c][v] = int16_t(std::lround(y * kOne));
    }
    for (int o = 0; o < 3; ++o)
      t.matrix[2 - o][2 - c] = int16_t(std::lround(m[o][c] * (1 << MatrixShaperTables::kShift)));
  }
  for (int x = 0; x <= kOne; ++x) t.encode[x] = uint8_t(std::lround(255 * SrgbEncode(double(x) / kOne)));
  t.Derive();
  return shaper;
}

std::unique_ptr<ColourTransform> MakeLcms(cmsHPROFILE source, RowColours colours) {
  const Profile srgb = SrgbProfile();
  if (!srgb) return nullptr;
  if (colours == RowColours::Grey) {
    Transform t(cmsCreateTransform(source, TYPE_GRAY_8, srgb.get(), TYPE_BGR_8,
                                   INTENT_RELATIVE_COLORIMETRIC, 0));
    auto table = std::unique_ptr<GreyTable>(new (std::nothrow) GreyTable);
    if (!t || !table) return nullptr;
    uint8_t levels[256];
    for (int v = 0; v < 256; ++v) levels[v] = uint8_t(v);
    cmsDoTransform(t.get(), levels, table->table.data(), 256);
    return table;
  }
  if (colours == RowColours::Cmyk) {
    Transform t(cmsCreateTransform(source, TYPE_CMYK_8_REV, srgb.get(), TYPE_BGRA_8,
                                   INTENT_RELATIVE_COLORIMETRIC, 0));
    if (!t) return nullptr;
    return std::unique_ptr<ColourTransform>(new (std::nothrow) LcmsCmyk(std::move(t)));
  }
  Transform t(cmsCreateTransform(source, TYPE_BGRA_8, srgb.get(), TYPE_BGRA_8,
                                 INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_COPY_ALPHA));
  if (!t) return nullptr;
  return std::unique_ptr<ColourTransform>(new (std::nothrow) LcmsRgb(std::move(t)));
}

// Whether `profile` gives sRGB's colours: a 9-step grid of every channel
// (or all grey levels) through the profile and back within two levels.
// Profiles that call themselves sRGB differ among makers by up to about a
// level and a half (the free sRGB.icc at full green); a picture tagged with
// any of them goes on air untouched, while wide-gamut profiles (Display P3,
// Adobe RGB) differ by tens of levels.
bool GivesSrgb(cmsHPROFILE profile, RowColours colours) {
  if (colours == RowColours::Cmyk) return false;
  const Profile srgb = SrgbProfile();
  if (!srgb) return false;
  std::vector<uint16_t> in, out;
  if (colours == RowColours::Grey) {
    for (int v = 0; v <= 8; ++v) in.push_back(uint16_t(std::min(65535, v * 8192)));
  } else {
    for (int r = 0; r <= 8; ++r)
      for (int g = 0; g <= 8; ++g)
        for (int b = 0; b <= 8; ++b)
          for (int v : {r, g, b}) in.push_back(uint16_t(std::min(65535, v * 8192)));
  }
  const size_t count = colours == RowColours::Grey ? in.size() : in.size() / 3;
  out.resize(count * 3);
  Transform t(cmsCreateTransform(profile, colours == RowColours::Grey ? TYPE_GRAY_16 : TYPE_RGB_16,
                                 srgb.get(), TYPE_RGB_16, INTENT_RELATIVE_COLORIMETRIC,
                                 cmsFLAGS_NOCACHE));
  if (!t) return false;
  cmsDoTransform(t.get(), in.data(), out.data(), cmsUInt32Number(count));
  for (size_t i = 0; i < count; ++i)
    for (int c = 0; c < 3; ++c) {
      const int expected = colours == RowColours::Grey ? in[i] : in[i * 3 + size_t(c)];
      if (std::abs(int(out[i * 3 + size_t(c)]) - expected) > 2 * 257) return false;
    }
  return true;
}

}  // namespace

ProfileFacts InspectProfile(const uint8_t* icc, size_t size) {
  ProfileFacts facts;
  const Profile profile = OpenProfile(icc, size);
  if (!profile) return facts;
  facts.readable = true;
  char name[256] = {};
  if (cmsGetProfileInfoASCII(profile.get(), cmsInfoDescription, "en", "US", name, sizeof name) > 0)
    facts.description = name;
  facts.supported = ColoursOf(profile.get(), &facts.colours);
  facts.sRgb = facts.supported && GivesSrgb(profile.get(), facts.colours);
  return facts;
}

std::unique_ptr<ColourTransform> MakeColourTransform(const uint8_t* icc, size_t size,
                                                     bool forceLittleCms) {
  const Profile profile = OpenProfile(icc, size);
  RowColours colours;
  if (!profile || !ColoursOf(profile.get(), &colours)) return nullptr;
  if (colours == RowColours::Rgb && !forceLittleCms) {
    if (auto fast = MakeMatrixShaper(profile.get())) return fast;
  }
  return MakeLcms(profile.get(), colours);
}

std::vector<uint8_t> IccFromCodePoints(int primaries, int transfer) {
  // Chromaticities (x, y) of red, green, blue and the white point.
  struct Gamut {
    int code;
    const char* name;
    double rx, ry, gx, gy, bx, by, wx, wy;
  };
  static const Gamut kGamuts[] = {
      {9, "BT.2020", 0.708, 0.292, 0.170, 0.797, 0.131, 0.046, 0.3127, 0.3290},
      {11, "DCI-P3", 0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.314, 0.351},
      {12, "Display P3", 0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.3127, 0.3290},
      {5, "BT.601 (625 lines)", 0.640, 0.330, 0.290, 0.600, 0.150, 0.060, 0.3127, 0.3290},
      {6, "BT.601 (525 lines)", 0.630, 0.340, 0.310, 0.595, 0.155, 0.070, 0.3127, 0.3290},
      {1, "BT.709", 0.640, 0.330, 0.300, 0.600, 0.150, 0.060, 0.3127, 0.3290},
  };
  const Gamut* gamut = nullptr;
  for (const Gamut& g : kGamuts)
    if (g.code == primaries) gamut = &g;
  if (!gamut) return {};

  // SDR transfers are all shown with sRGB's curve, as image viewers do;
  // gamma 2.2 and 2.8 and linear as they are; HDR ones are left alone.
  double parameters[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  int type = 4;  // IEC 61966-2.1
  switch (transfer) {
    case 1:
    case 2:
    case 6:
    case 13:
    case 14:
    case 15:
      break;
    case 4:
      type = 1, parameters[0] = 2.2;
      break;
    case 5:
      type = 1, parameters[0] = 2.8;
      break;
    case 8:
      type = 1, parameters[0] = 1.0;
      break;
    default:
      return {};
  }
  if (primaries == 1 && type == 4) return {};  // sRGB itself

  std::unique_ptr<cmsToneCurve, decltype(&cmsFreeToneCurve)> curve(
      cmsBuildParametricToneCurve(nullptr, type, parameters), cmsFreeToneCurve);
  if (!curve) return {};
  const cmsCIExyY white = {gamut->wx, gamut->wy, 1.0};
  const cmsCIExyYTRIPLE rgb = {
      {gamut->rx, gamut->ry, 1.0}, {gamut->gx, gamut->gy, 1.0}, {gamut->bx, gamut->by, 1.0}};
  cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
  const Profile profile(cmsCreateRGBProfile(&white, &rgb, curves));
  if (!profile) return {};
  cmsMLU* description = cmsMLUalloc(nullptr, 1);
  if (description) {
    cmsMLUsetASCII(description, "en", "US", gamut->name);
    cmsWriteTag(profile.get(), cmsSigProfileDescriptionTag, description);
    cmsMLUfree(description);
  }
  cmsUInt32Number bytes = 0;
  if (!cmsSaveProfileToMem(profile.get(), nullptr, &bytes) || bytes == 0) return {};
  std::vector<uint8_t> icc(bytes);
  if (!cmsSaveProfileToMem(profile.get(), icc.data(), &bytes)) return {};
  return icc;
}

}  // namespace plombix
