// Thumbnails: small JPEGs of the frame on air and of the cued picture, for
// control-surface buttons (GET /api/v1/thumbnail.jpg?width=W&what=cued).
//
// The window's side hands each new frame over with setFrame() -- a pointer
// swap, nothing encoded. The server's thread asks with jpeg(): the frame is
// shrunk to the width asked (aspect kept) and encoded with TurboJPEG the
// first time that frame is asked for at that width; later requests get the
// same bytes, so a frame is encoded at most once per width however many
// clients poll it. Two requests that arrive together for a frame not yet
// encoded share one encode. Thread-safe.
//
// JPEG has no alpha: the colour bytes are encoded as they are, like the
// stand-in's MJPEG streams.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plombix::control {

inline constexpr int kMinThumbnailWidth = 16;
inline constexpr int kMaxThumbnailWidth = 640;
inline constexpr int kDefaultThumbnailWidth = 144;

// One frame as handed over: 32-bit pixels, bytes blue, green, red, alpha,
// rows top-down, `strideBytes` apart. Never changed once handed over.
struct ThumbnailFrame {
  int width = 0;
  int height = 0;
  int strideBytes = 0;
  std::vector<uint8_t> pixels;

  // A copy of `width` x `height` pixels; null for a bad size.
  [[nodiscard]] static std::shared_ptr<const ThumbnailFrame> Copy(const uint8_t* pixels, int width, int height,
                                                                  int strideBytes);
};

enum class ThumbnailOf { OnAir, Cued };

// The query of a thumbnail request: "width" (16..640, default 144) and
// "what" ("cued", or absent / "onair"). Nothing for a bad value.
struct ThumbnailQuery {
  ThumbnailOf what = ThumbnailOf::OnAir;
  int width = kDefaultThumbnailWidth;
};
[[nodiscard]] std::optional<ThumbnailQuery> ParseThumbnailQuery(const char* width, const char* what);

// The thumbnail's height for a frame of `frameWidth` x `frameHeight` at
// `width`: the frame's aspect, rounded, at least 1.
[[nodiscard]] int ThumbnailHeight(int frameWidth, int frameHeight, int width);

class Thumbnails {
 public:
  Thumbnails();
  ~Thumbnails();
  Thumbnails(const Thumbnails&) = delete;
  Thumbnails& operator=(const Thumbnails&) = delete;

  // Any thread: the frame now on air (or cued); null when there is none.
  // Setting the frame already held keeps its thumbnails.
  void setFrame(ThumbnailOf what, std::shared_ptr<const ThumbnailFrame> frame);

  // The JPEG of the frame at `width` (16..640); nothing when no frame is
  // held or the encoder fails. Runs the encode on the calling thread.
  [[nodiscard]] std::shared_ptr<const std::string> jpeg(ThumbnailOf what, int width);

  uint64_t encodes() const;  // JPEGs made so far

  class Cache;

 private:
  std::unique_ptr<Cache> cache_;
};

// `frame` shrunk (box filter) or enlarged (nearest pixel) to `width` x
// `height`, as packed BGRA rows.
[[nodiscard]] std::vector<uint8_t> ResizeBgra(const ThumbnailFrame& frame, int width, int height);

}  // namespace plombix::control
