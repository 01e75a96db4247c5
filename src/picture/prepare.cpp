// PreparePicture, step by step:
//   1. read the file whole (file_bytes.h), refusing one that changes;
//   2. open it (image_reader.h): size, depth, orientation;
//   3. the target size by the scaling mode from the size as shown (after
//      orientation); a target the resampler cannot make (a side of 0 or
//      less) keeps the decoded size, as a failed ScaleTo would;
//   4. the decode scale (DecodeDenominator) and the budget at that scale;
//      a picture decoded at least kFastShrink times the target's size is
//      decoded the faster way (image_reader.h);
//   5. the window: the part of the target a frame of the output size shows
//      (ComputePlacement without margins; margins only ever narrow it, and
//      they may change without the picture being prepared again);
//   6. the window mapped into the stored orientation, decoded and resampled
//      at once (stream_decode.h), then turned into the shown orientation;
//   7. opaque unless the depth is 32; the range table when asked for.
#include "prepare.h"

#include <algorithm>
#include <new>
#include <utility>

#include "decode_budget.h"
#include "file_bytes.h"
#include "image_reader.h"
#include "orientation.h"
#include "picture_buffer.h"
#include "pixel_alloc.h"
#include "pixel_ops.h"
#include "place.h"
#include "resample.h"
#include "scale_rules.h"
#include "stream_decode.h"

namespace plombix {
namespace {

int RequestedThreads(int threads) {
  const int cores = UsableCores();
  return threads <= 0 ? std::min(2, cores) : std::min({threads, 2, cores});
}

// The window of a width x height picture that a frame shows; the whole
// picture when there is no frame to speak of.
TargetWindow VisibleWindow(int width, int height, int frameWidth, int frameHeight) {
  const Placement p = ComputePlacement(width, height, frameWidth, frameHeight, PlaceMargins{});
  if (p.empty()) return TargetWindow{0, 0, width, height};
  return TargetWindow{p.sourceX, p.sourceY, p.columns, p.rows};
}

DecodeError Prepare(const PrepareRequest& request, PreparedPicture& out) {
  const auto stop = [&] { return request.cancelled && request.cancelled(); };
  FileBytes file;
  DecodeError error = ReadFileBytes(request.path, &file, request.cancelled);
  if (error != DecodeError::None) return error;
  if (stop()) return DecodeError::Cancelled;

  std::unique_ptr<ImageReader> reader;
  error = OpenImage(file.data.get(), file.size, &reader, request.path);
  if (error != DecodeError::None) return error;
  const ImageInfo info = reader->info();
  const bool swaps = SwapsSides(info.orientation);
  const int shownWidth = swaps ? info.height : info.width;
  const int shownHeight = swaps ? info.width : info.height;
  out.sourceWidth = shownWidth;
  out.sourceHeight = shownHeight;
  out.sourceBitsPerPixel = info.bitsPerPixel;

  TargetSize target =
      request.role == PictureRole::Shown
          ? ShownPictureTarget(request.scalingMode, shownWidth, shownHeight, request.outputWidth,
                               request.outputHeight, request.borderSidesPx,
                               request.borderTopBottomPx)
          : OverlayTarget(request.scalingMode, shownWidth, shownHeight, request.outputWidth,
                          request.outputHeight);
  if (!target.resample || target.width <= 0 || target.height <= 0)
    target = TargetSize{false, shownWidth, shownHeight};
  const int storedTargetWidth = swaps ? target.height : target.width;
  const int storedTargetHeight = swaps ? target.width : target.height;

  const int denominator =
      target.resample && info.scalable
          ? DecodeDenominator(info.width, info.height, storedTargetWidth, storedTargetHeight)
          : 1;
  error = CheckDecodeCost(ScaledSide(info.width, denominator), ScaledSide(info.height, denominator),
                          info.bytesPerPixel, info.fixedBytes);
  if (error != DecodeError::None) return error;
  if (stop()) return DecodeError::Cancelled;

  const TargetWindow shown =
      VisibleWindow(target.width, target.height, request.outputWidth, request.outputHeight);
  const TargetWindow stored = StoredWindow(info.orientation, target.width, target.height, shown);
  const bool shrunkAfter =
      ScaledSide(info.width, denominator) >= kFastShrink * storedTargetWidth &&
      ScaledSide(info.height, denominator) >= kFastShrink * storedTargetHeight;
  error = reader->Start(denominator, shrunkAfter);
  if (error != DecodeError::None) return error;
  Resampler resampler;
  if (!resampler.Prepare(reader->width(), reader->height(), storedTargetWidth, storedTargetHeight,
                         stored))
    return DecodeError::OutOfMemory;
  const size_t bytes = size_t(shown.width) * size_t(shown.height) * 4;
  std::unique_ptr<uint8_t[]> pixels = AllocateArray<uint8_t>(bytes);
  if (!pixels) return DecodeError::OutOfMemory;
  error = DecodeResampled(*reader, resampler, pixels.get(), RequestedThreads(request.threads),
                          request.cancelled);
  if (error != DecodeError::None) return error;
  reader.reset();
  file = FileBytes{};

  if (info.orientation != Orientation::Normal) {
    std::unique_ptr<uint8_t[]> turned = AllocateArray<uint8_t>(bytes);
    if (!turned) return DecodeError::OutOfMemory;
    OrientPixels(info.orientation, pixels.get(), stored.width, stored.height, turned.get());
    pixels = std::move(turned);
  }
  if (info.bitsPerPixel != 32 && !info.opaqueRows) SetAlphaRow(pixels.get(), bytes / 4, 255);
  if (request.limitedRange) MapBytes(pixels.get(), bytes, MakeRangeTable());

  out.width = shown.width;
  out.height = shown.height;
  out.placeWidth = target.width;
  out.placeHeight = target.height;
  out.windowLeft = shown.x;
  out.windowTop = shown.y;
  out.pixels = std::move(pixels);
  return DecodeError::None;
}

}  // namespace

int DecodeDenominator(int storedWidth, int storedHeight, int targetWidth, int targetHeight) {
  for (int denominator : {8, 4, 2}) {
    if (ScaledSide(storedWidth, denominator) >= targetWidth &&
        ScaledSide(storedHeight, denominator) >= targetHeight)
      return denominator;
  }
  return 1;
}

PreparedPicture PreparePicture(const PrepareRequest& request) {
  PreparedPicture out;
  try {
    out.fileName = FileNameOf(request.path);
    out.filePath = request.path;
    out.error = Prepare(request, out);
  } catch (const std::bad_alloc&) {
    out.error = DecodeError::OutOfMemory;
  }
  if (out.error != DecodeError::None) {
    out.pixels.reset();
    out.width = out.height = out.placeWidth = out.placeHeight = out.windowLeft = out.windowTop = 0;
  }
  return out;
}

DecodeError ProbeImageFile(const std::string& path) {
  try {
    FileBytes file;
    DecodeError error = ReadFileBytes(path, &file);
    if (error != DecodeError::None) return error;
    std::unique_ptr<ImageReader> reader;
    error = OpenImage(file.data.get(), file.size, &reader, path);
    if (error != DecodeError::None) return error;
    const ImageInfo& info = reader->info();
    const int denominator = info.scalable ? 8 : 1;
    error = CheckDecodeCost(ScaledSide(info.width, denominator), ScaledSide(info.height, denominator),
                            info.bytesPerPixel, info.fixedBytes);
    // The rows are thrown away: the fastest decode that reads every byte.
    if (error == DecodeError::None) error = reader->Start(denominator, true);
    if (error == DecodeError::None) error = DecodeAndDiscard(*reader);
    return error;
  } catch (const std::bad_alloc&) {
    return DecodeError::OutOfMemory;
  }
}

}  // namespace plombix
