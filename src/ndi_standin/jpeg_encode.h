// JPEG encoding of 32-bit BGRA/BGRX pictures with libjpeg-turbo's TurboJPEG,
// for receivers that read MJPEG over HTTP (ffmpeg, VLC, mpv, media sources
// of streaming programs). JPEG has no alpha: the fourth byte is ignored and
// the colour bytes are encoded as sent. Baseline, 4:2:0 chroma, the quality
// the caller gives (the stand-in serves quality kJpegQuality).
#pragma once

#include <cstdint>
#include <string>

namespace plombix::standin {

constexpr int kJpegQuality = 90;

// Encodes `width` x `height` pixels (bytes blue, green, red, alpha; rows
// top-down, `strideBytes` apart, stride >= width * 4) into `*jpeg`. Returns
// false (and leaves `*jpeg` empty) for a bad size or quality, or an encoder
// failure. Thread-safe: each thread keeps its own encoder.
[[nodiscard]] bool EncodeBgraJpeg(const uint8_t* pixels, int width, int height, int strideBytes,
                                  int quality, std::string* jpeg);

}  // namespace plombix::standin
