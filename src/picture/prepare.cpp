#include "prepare.h"

#include <utility>

#include "picture_buffer.h"
#include "scale_rules.h"

namespace plombix {

PreparedPicture PreparePicture(const PrepareRequest& request) {
  PreparedPicture out;
  const size_t slash = request.path.rfind('/');
  out.fileName = slash == std::string::npos ? request.path : request.path.substr(slash + 1);
  out.filePath = request.path;

  DecodeResult decoded = DecodeImageFile(request.path);
  if (!decoded.ok()) {
    out.error = decoded.error;
    return out;
  }
  if (request.cancelled && request.cancelled()) {
    out.error = DecodeError::Cancelled;
    return out;
  }
  const SourceBitmap& source = *decoded.bitmap;
  out.sourceWidth = source.width;
  out.sourceHeight = source.height;
  out.sourceBitsPerPixel = source.bitsPerPixel;

  const TargetSize target =
      request.role == PictureRole::Shown
          ? ShownPictureTarget(request.scalingMode, source.width, source.height,
                               request.outputWidth, request.outputHeight, request.borderSidesPx,
                               request.borderTopBottomPx)
          : OverlayTarget(request.scalingMode, source.width, source.height, request.outputWidth,
                          request.outputHeight);

  PictureBuffer picture;
  picture.decodedImage = decoded.bitmap;
  picture.sourceBitsPerPixel = source.bitsPerPixel;
  if (!(target.resample && picture.ScaleTo(target.width, target.height))) {
    if (!picture.FillFromDecoded()) {
      out.error = DecodeError::OutOfMemory;
      return out;
    }
    if (source.bitsPerPixel != 32) picture.SetAlpha(255);
    if (target.resample) (void)picture.ScaleTo(target.width, target.height);
  }
  if (request.limitedRange) picture.ApplyRangeTable();
  out.width = picture.width;
  out.height = picture.height;
  out.pixels = std::move(picture.pixelData);
  if (out.width <= 0 || out.height <= 0 || !out.pixels) out.error = DecodeError::OutOfMemory;
  return out;
}

DecodeError ProbeImageFile(const std::string& path) { return DecodeImageFile(path).error; }

}  // namespace plombix
