// Converting rows of a picture from its embedded ICC profile to sRGB, with
// LittleCMS (relative colorimetric intent, no black point compensation).
//
// Three kinds of rows, by the profile's colour space:
//   RGB   rows in the pixel format (blue, green, red, alpha); alpha kept.
//   grey  rows in the pixel format with blue = green = red; the grey level
//         (blue) goes through a table of all 256 levels made by LittleCMS.
//   CMYK  rows of C, M, Y, K bytes as a JPEG stores them (Adobe-inverted:
//         255 = no ink); they come out in the pixel format, opaque.
//
// RGB profiles made of three tone curves and a matrix (nearly every camera
// and phone profile: Display P3, Adobe RGB, ProPhoto, ...) take a fast path
// of our own (matrix_shaper.h): what LittleCMS does for such profiles, in
// fixed point, with the tone curves sampled at the 256 levels, the matrix
// sRGB^-1 . source (the colorants in the D50 connection space) and sRGB's
// encoding as a table. It differs from LittleCMS by at most one level
// (tested against it and against jpgicc and tificc). Every other profile
// goes through LittleCMS's own transform.
//
// Thread-safety: a transform is made once and then only read; rows may be
// converted from several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plombix {

enum class RowColours { Rgb, Grey, Cmyk };

class ColourTransform {
 public:
  virtual ~ColourTransform() = default;
  ColourTransform(const ColourTransform&) = delete;
  ColourTransform& operator=(const ColourTransform&) = delete;

  // Converts `pixels` pixels in place.
  virtual void Convert(uint8_t* pixels, size_t count) const = 0;

  RowColours rows() const { return rows_; }
  // True for the fast matrix-shaper path, false for LittleCMS's own.
  virtual bool matrixShaper() const { return false; }

 protected:
  explicit ColourTransform(RowColours rows) : rows_(rows) {}

 private:
  RowColours rows_;
};

// What an embedded profile is.
struct ProfileFacts {
  bool readable = false;  // LittleCMS could parse it
  RowColours colours = RowColours::Rgb;
  bool supported = false;   // RGB, grey or CMYK
  bool sRgb = false;        // gives sRGB's colours to within half a level
  std::string description;  // the profile's own name ("Display P3", ...)
};

// Parses `icc` (`size` bytes) and says what it is.
[[nodiscard]] ProfileFacts InspectProfile(const uint8_t* icc, size_t size);

// The transform from `icc` to sRGB for rows of the profile's colour space;
// null when the profile is unreadable, unsupported, or LittleCMS cannot
// make the transform (or memory is short). `forceLittleCms` skips the fast
// path (tests, benchmarks).
[[nodiscard]] std::unique_ptr<ColourTransform> MakeColourTransform(const uint8_t* icc, size_t size,
                                                                   bool forceLittleCms = false);

// An ICC profile for the colours that ISO/IEC 23091-2 code points describe
// (ColourPrimaries, TransferCharacteristics), as video codecs carry them,
// with `name` as its description. Empty when they are unspecified or name
// primaries or a transfer the player does not convert (HDR transfers such
// as PQ and HLG are shown as decoded).
[[nodiscard]] std::vector<uint8_t> IccFromCodePoints(int primaries, int transfer);

}  // namespace plombix
