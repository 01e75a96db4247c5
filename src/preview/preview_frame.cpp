// Preview frame conversion and the fit of the preview image into the box.
//
// Size rule: a frame at most 640 pixels wide is copied whole; a wider one
// becomes (width / 2) x (height / 2), integer halves, preview pixel (x, y)
// being frame pixel (2x, 2y): every second pixel of every second row,
// starting top-left, no averaging, so an odd last column or row is never
// read.
//
// Placement in a box of W x H pixels, always taken to be 16:9:
//   16:9   (0, 0, W, H)
//   9:16   w = W x 81 / 256 (integer; 81/256 = (9/16)^2), x = (W - w) / 2
//   other  single precision, W and H as floats, r = the picture's ratio:
//          r < 16/9:  w = trunc(r x W / (16/9)), x = (W - w) / 2, full height
//          else:      h = trunc((16/9) x H / r), y = (H - h) / 2, full width
// A width or height that is not a number or falls outside 0..W (0..H) is
// clamped to that range (a ratio of 0 gives width 0 at x = W / 2).
#include "preview_frame.h"

#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace plombix {
namespace {

constexpr int kFullSizeMaxWidth = 640;
constexpr int64_t kBufferPixels = PreviewFrame::kBufferBytes / 4;

// out[x] = in[2x] for x < count (4-byte pixels). `next` (may be null) is
// the row read after this one: every second row is skipped, which the
// processor's own prefetching does not foresee, so each cache line of it
// is asked for while this row is being read.
void DecimateRow(uint8_t* out, const uint8_t* in, int count, const uint8_t* next) {
  int x = 0;
#if defined(__SSE2__)
  for (; x + 4 <= count; x += 4) {
    if (next && (x & 7) == 0) _mm_prefetch(reinterpret_cast<const char*>(next + 8 * x), _MM_HINT_T0);
    const __m128 a = _mm_loadu_ps(reinterpret_cast<const float*>(in + 8 * x));
    const __m128 b = _mm_loadu_ps(reinterpret_cast<const float*>(in + 8 * x + 16));
    // Pixels 0 and 2 of each group of four: the even frame columns.
    _mm_storeu_ps(reinterpret_cast<float*>(out + 4 * x), _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
  }
#endif
  for (; x < count; ++x) std::memcpy(out + 4 * x, in + 8 * x, 4);
}

// Truncates a float toward zero and clamps it to 0..limit; NaN gives 0.
int ClampedTrunc(float value, int limit) {
  if (!(value > 0.0f)) return 0;
  if (value >= float(limit)) return limit;
  return int(value);
}

}  // namespace

bool PreviewFrame::Setup() {
  boxAspect = 16.0f / 9.0f;
  portraitAspect = 9.0f / 16.0f;
  if (!pixels_) pixels_.reset(new (std::nothrow) uint8_t[size_t(kBufferBytes)]);
  return pixels_ != nullptr;
}

void PreviewFrame::LoadFrame(const uint8_t* frameBits, int width, int height, int strideBytes,
                             uint32_t /*fourCC*/, float pictureAspect) {
  if (!pixels_) return;

  const bool half = width > kFullSizeMaxWidth;
  const int imageWidth = half ? width / 2 : width;
  const int imageHeight = half ? height / 2 : height;
  const bool copies = imageHeight >= 1;
  // Refused without any change: negative sizes (a negative height would
  // also turn the header into a bottom-up image), an image that would not
  // fit the buffer, or rows to copy from nowhere.
  if (width < 0 || height < 0) return;
  if (copies && (!frameBits || int64_t(imageWidth) * int64_t(imageHeight) > kBufferPixels)) return;

  if (pictureAspect == portraitAspect) {
    if (aspectState != Aspect9x16) needsClear = 1;
    aspectState = Aspect9x16;
  } else if (pictureAspect == boxAspect) {
    aspectState = Aspect16x9;
  } else {
    if (!(aspectState == AspectOther && lastAspect == pictureAspect)) needsClear = 1;
    lastAspect = pictureAspect;
    aspectState = AspectOther;
  }

  header.width = imageWidth;
  header.height = -imageHeight;
  header.bitCount = 32;
  if (!copies || imageWidth == 0) return;

  const size_t imageRowBytes = size_t(imageWidth) * 4;
  const ptrdiff_t stride = strideBytes;
  uint8_t* out = pixels_.get();
  for (int y = 0; y < imageHeight; ++y) {
    const uint8_t* row = frameBits + (half ? 2 * ptrdiff_t(y) : ptrdiff_t(y)) * stride;
    if (half)
      DecimateRow(out + size_t(y) * imageRowBytes, row, imageWidth,
                  y + 1 < imageHeight ? row + 2 * stride : nullptr);
    else std::memcpy(out + size_t(y) * imageRowBytes, row, imageRowBytes);
  }
}

PreviewRect PreviewFrame::DestinationRect(int boxWidth, int boxHeight) const {
  const int W = boxWidth > 0 ? boxWidth : 0;
  const int H = boxHeight > 0 ? boxHeight : 0;
  switch (aspectState) {
    case Aspect9x16: {
      const int w = int(int64_t(W) * 81 / 256);
      return PreviewRect{(W - w) / 2, 0, w, H};
    }
    case AspectOther:
      if (boxAspect > lastAspect) {
        const int w = ClampedTrunc(lastAspect * float(W) / boxAspect, W);
        return PreviewRect{(W - w) / 2, 0, w, H};
      } else {
        const int h = ClampedTrunc(boxAspect * float(H) / lastAspect, H);
        return PreviewRect{0, (H - h) / 2, W, h};
      }
    default:
      return PreviewRect{0, 0, W, H};
  }
}

int PreviewFrame::TallyBorderWidth(int clientHeight) {
  const int width = clientHeight / 64;
  return width < 2 ? 2 : width;
}

}  // namespace plombix
