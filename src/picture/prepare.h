// PreparePicture: everything a picture file needs before it can be composed
// — decode, make opaque when it has no alpha of its own, scale by the
// scaling mode (inside the borders for the shown picture, to the whole
// output for the overlay), expand video range — as one call that touches no
// shared state, so that it can run on a worker thread while the window's
// thread goes on. The window's thread then only adopts the result
// (PictureBuffer::AdoptPrepared) and composes.
//
// The result is exactly what LoadFile, SetAlpha(255) for a picture without
// alpha, ScaleTo the target of the scaling mode and ApplyRangeTable would
// leave in a PictureBuffer; the decoded original is not kept.
//
// Thread-safety: PreparePicture and ProbeImageFile may run on any thread,
// several at once; they share nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "decoder.h"

namespace plombix {

enum class PictureRole {
  Shown,    // the shown picture: ShownPictureTarget, inside the borders
  Overlay,  // the overlay: OverlayTarget, the whole output
};

struct PrepareRequest {
  std::string path;
  PictureRole role = PictureRole::Shown;
  int scalingMode = 1;
  int outputWidth = 0;
  int outputHeight = 0;
  int borderSidesPx = 0;      // shown picture only
  int borderTopBottomPx = 0;  // shown picture only
  bool limitedRange = false;  // apply the 16-235 -> 0-255 table
  // Polled between the stages of the work; when it returns true the work
  // stops and the result is DecodeError::Cancelled. May be empty.
  std::function<bool()> cancelled;
};

struct PreparedPicture {
  DecodeError error = DecodeError::None;
  std::string fileName;  // last path component of the request's path
  std::string filePath;  // the request's path
  // The image as decoded: its size (the labels' "from W x H") and depth.
  int sourceWidth = 0;
  int sourceHeight = 0;
  int sourceBitsPerPixel = 0;
  // The picture at output scale, in the pixel format (rows packed).
  int width = 0;
  int height = 0;
  std::unique_ptr<uint8_t[]> pixels;

  bool ok() const { return error == DecodeError::None; }
};

// Decodes, scales and adjusts the picture of `request`. Never throws; a
// failure leaves `pixels` empty and names the reason.
[[nodiscard]] PreparedPicture PreparePicture(const PrepareRequest& request);

// Whether the file at `path` decodes (the slideshow's check of a sequence's
// start and end files), holding no memory afterwards.
[[nodiscard]] DecodeError ProbeImageFile(const std::string& path);

}  // namespace plombix
