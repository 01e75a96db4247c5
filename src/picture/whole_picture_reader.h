// WholePictureReader: an ImageReader for decoders that can only produce the
// whole picture at once (libheif, libjxl, Qt SVG). Open reads the header
// alone, so that the caller can check the cost first; Start decodes the
// picture into a buffer of the reader's own; ReadRows copies rows out of it
// and wholePicture() hands it over, so that a caller resampling from it
// copies nothing.
#pragma once

#include <cstring>
#include <memory>
#include <utility>

#include "image_reader.h"

namespace plombix {

class WholePictureReader : public ImageReader {
 public:
  DecodeError Start(int denominator, bool) override {
    if (denominator != 1) return DecodeError::BadSize;
    const DecodeError error = DecodePicture();
    if (error != DecodeError::None) return error;
    width_ = info_.width;
    height_ = info_.height;
    return DecodeError::None;
  }

  DecodeError ReadRows(uint8_t* const* rows, int count) override {
    if (!pixels_ || count > height_ - next_) return DecodeError::Corrupt;
    const size_t rowBytes = size_t(width_) * 4;
    for (int i = 0; i < count; ++i, ++next_)
      std::memcpy(rows[i], pixels_.get() + size_t(next_) * rowBytes, rowBytes);
    return DecodeError::None;
  }

  DecodeError Finish() override { return pixels_ ? DecodeError::None : DecodeError::Corrupt; }
  std::shared_ptr<uint8_t[]> wholePicture() const override { return pixels_; }

 protected:
  WholePictureReader() = default;

  // Decodes the whole picture at info_'s size into pixels_ (rows packed,
  // the pixel format of image_reader.h), or fails.
  [[nodiscard]] virtual DecodeError DecodePicture() = 0;

  // For StartAtSize: the picture is `width` x `height` from now on.
  void SetDelivered(std::shared_ptr<uint8_t[]> pixels, int width, int height) {
    pixels_ = std::move(pixels);
    width_ = width;
    height_ = height;
    next_ = 0;
  }

  std::shared_ptr<uint8_t[]> pixels_;

 private:
  int next_ = 0;
};

}  // namespace plombix
