// Colour management of decoded pictures: a picture whose file carries an
// ICC profile other than sRGB (Display P3 phone photos, Adobe RGB camera
// files, CMYK JPEGs with their press profile, 16-bit PNGs with iCCP, ...)
// has its rows converted to sRGB as they are decoded, before anything
// resamples them, so that it goes on air in the colours photo viewers show.
// Untagged pictures and pictures tagged sRGB come through untouched, byte
// for byte.
//
// PLOMBIX_COLOUR_MANAGE=0 in the environment turns the conversion off
// (the rows are then as decoded, the profile still named). It is read at
// every decode.
#pragma once

#include <memory>

#include "decode_error.h"
#include "image_reader.h"

namespace plombix {

// False while PLOMBIX_COLOUR_MANAGE is "0".
[[nodiscard]] bool ColourManagementEnabled();

// Takes the opened `*reader` and, when its info().iccProfile calls for a
// conversion, puts a reader in its place that delivers the same rows
// converted to sRGB (a whole-picture reader's picture is converted once,
// at Start). info().colourProfile names the profile whenever the file has
// a readable one (sRGB included) and stays empty otherwise. A profile that
// cannot be read, that does not fit the rows (an RGB profile on a grey
// picture, ...) or that LittleCMS cannot use leaves the rows untouched.
// The conversion's tables count against the decode budget
// (info().fixedBytes). Errors: OutOfMemory.
[[nodiscard]] DecodeError ManageColour(std::unique_ptr<ImageReader>* reader);

}  // namespace plombix
