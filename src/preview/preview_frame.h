// PreviewFrame: the preview image of the published output and the arithmetic
// of fitting it into the preview box. Plain C++; the VidBox widget paints it.
//
// LoadFrame copies a published frame into one buffer allocated once at
// Setup: whole when it is at most 640 pixels wide, else every second pixel
// of every second row (no averaging). It also tracks the frame's picture
// aspect ratio so that the box knows where to draw and when the bars beside
// the picture must be painted afresh (`needsClear`). Aspect ratios are
// compared for exact float equality: callers pass 16/9 and 9/16 exactly as
// `boxAspect` and `portraitAspect` hold them.
#pragma once

#include <cstdint>
#include <memory>

namespace plombix {

enum AspectState : int { Aspect16x9 = 0, AspectOther = 1, Aspect9x16 = 2 };
enum TallyState : int { TallyNone = 0, TallyProgram = 1, TallyPreview = 2 };

struct PreviewHeader {
  int width = 0;     // image width in pixels
  int height = 0;    // minus the image height (top-down image)
  int bitCount = 0;  // 32 once a frame was loaded
};

// A destination rectangle in box pixels.
struct PreviewRect {
  int x = 0, y = 0, width = 0, height = 0;
};

class PreviewFrame {
 public:
  // Largest image the buffer holds: 4096 x 2160 pixels.
  static constexpr int64_t kBufferBytes = int64_t(4096) * 2160 * 4;

  int needsClear = 0;
  int aspectState = Aspect16x9;
  PreviewHeader header;
  float boxAspect = 0.0f;       // 16/9 after Setup
  float portraitAspect = 0.0f;  // 9/16 after Setup
  float lastAspect = 0.0f;      // last ratio that was neither of the two

  // Allocates the buffer (once; a second call keeps it) and sets the two
  // constant ratios. False (buffer null) when the allocation fails;
  // LoadFrame then does nothing.
  bool Setup();

  // Copies a frame into the preview image (see the file comment) after
  // noting its aspect ratio; `header` then describes the image, even when
  // it has no rows (nothing is copied then). `frameBits` must hold `height`
  // rows of `strideBytes`; `fourCC` labels the frame and changes nothing.
  // Refused, with nothing changed at all (not even the aspect state): any
  // call before a successful Setup, a frame whose image would not fit the
  // buffer (more than 4096 x 2160 pixels after the size rule), a negative
  // width or height, and a frame with rows to copy but a null `frameBits`.
  void LoadFrame(const uint8_t* frameBits, int width, int height, int strideBytes, uint32_t fourCC,
                 float pictureAspect);

  const uint8_t* pixels() const { return pixels_.get(); }

  // Where the image goes in a box of boxWidth x boxHeight pixels for the
  // current aspect state (the box is taken to be 16:9; arithmetic at the
  // top of preview_frame.cpp). Always inside the box: negative box sizes
  // count as 0, and a ratio that would give a size outside the box (NaN,
  // negative, infinite) is clamped to it.
  PreviewRect DestinationRect(int boxWidth, int boxHeight) const;

  // Width of the tally border for a box of `clientHeight` pixels: height/64,
  // at least 2.
  static int TallyBorderWidth(int clientHeight);

 private:
  std::unique_ptr<uint8_t[]> pixels_;
};

}  // namespace plombix
