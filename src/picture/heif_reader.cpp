// HEIC, HEIF and AVIF through libheif (HEVC by libde265, AV1 by dav1d or
// aom): the primary image, decoded whole and turned into 8-bit planes of
// red, green and blue (and alpha) by libheif (its own Y'CbCr conversion, by
// the matrix the file names, and HDR reduced to 8 bits: the pixels
// heif-convert writes; planes are libheif's cheapest way there), then
// interleaved into the pixel format a band of rows at a time.
//
// Geometry: libheif applies the container's clean-aperture crop, rotation
// (irot) and mirroring (imir); width and height are the picture as shown.
// The EXIF orientation a HEIF file may also carry describes the same turn
// and is not applied again.
//
// Completeness: strict decoding, and every error or decoding warning is
// DecodeError::Corrupt; a file cut short fails because its image data
// lies beyond the end.
//
// Cost, counted before decoding (decode_budget.h): the RGB (and alpha)
// planes, and one Y'CbCr picture beside them (the codec's, or libheif's own
// while it puts a grid together, turns or converts it).
//
// Colour: an ICC profile (prof, rICC) as stored; otherwise the nclx code
// points as an equivalent profile (colour_transform.h), so that Display P3
// and BT.2020 pictures are converted like tagged ones.
#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "colour_transform.h"
#include "decode_budget.h"
#include "image_reader.h"
#include "rgba_rows.h"
#include "stream_decode.h"

namespace plombix {
namespace {

// libheif's library start-up: once, and never undone (other users of
// libheif in the process may rely on it).
const bool heifStarted = [] {
  heif_init(nullptr);
  return true;
}();

struct ContextFree {
  void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleRelease {
  void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageRelease {
  void operator()(heif_image* i) const { heif_image_release(i); }
};
struct OptionsFree {
  void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};
struct NclxFree {
  void operator()(heif_color_profile_nclx* n) const { heif_nclx_color_profile_free(n); }
};

DecodeError ErrorOf(const heif_error& error) {
  switch (error.code) {
    case heif_error_Ok:
      return DecodeError::None;
    case heif_error_Memory_allocation_error:
      return DecodeError::OutOfMemory;
    case heif_error_Unsupported_filetype:
      return DecodeError::NotAnImage;
    default:
      break;
  }
  if (error.subcode == heif_suberror_Security_limit_exceeded) return DecodeError::TooLarge;
  return DecodeError::Corrupt;
}

class HeifReader final : public ImageReader {
 public:
  HeifReader() = default;
  DecodeError Open(const uint8_t* data, size_t size);
  DecodeError Start(int denominator, bool) override;
  DecodeError ReadRows(uint8_t* const* rows, int count) override;
  DecodeError Finish() override {
    return next_ == height_ ? DecodeError::None : DecodeError::Corrupt;
  }

 private:
  std::unique_ptr<heif_context, ContextFree> context_;
  std::unique_ptr<heif_image_handle, HandleRelease> handle_;
  std::unique_ptr<heif_image, ImageRelease> image_;
  const uint8_t* planes_[4] = {};  // red, green, blue, alpha (null: opaque)
  int strides_[4] = {};
  int bits_[4] = {};                  // 8, or 9..16 in 16-bit samples (HDR)
  std::vector<uint8_t> reduced_[4];   // a row of a plane of more than 8 bits, in 8
  int next_ = 0;
};

DecodeError HeifReader::Open(const uint8_t* data, size_t size) {
  if (size > size_t(INT32_MAX)) return DecodeError::TooLarge;
  context_.reset(heif_context_alloc());
  if (!context_) return DecodeError::OutOfMemory;
  heif_context_set_maximum_image_size_limit(context_.get(), kMaxDecodeSide + 1);
  heif_context_set_max_decoding_threads(context_.get(), std::min(2, UsableCores()));
  DecodeError error =
      ErrorOf(heif_context_read_from_memory_without_copy(context_.get(), data, size, nullptr));
  if (error != DecodeError::None) return error;
  heif_image_handle* handle = nullptr;
  error = ErrorOf(heif_context_get_primary_image_handle(context_.get(), &handle));
  if (error != DecodeError::None) return error;
  handle_.reset(handle);

  info_.width = heif_image_handle_get_width(handle);
  info_.height = heif_image_handle_get_height(handle);
  if (info_.width <= 0 || info_.height <= 0 || info_.width > kMaxDecodeSide ||
      info_.height > kMaxDecodeSide)
    return DecodeError::BadSize;
  const bool alpha = heif_image_handle_has_alpha_channel(handle);
  const int bits = std::max(8, heif_image_handle_get_luma_bits_per_pixel(handle));
  const int chromaBits = heif_image_handle_get_chroma_bits_per_pixel(handle);
  // Depth by the rules of image_reader.h: alpha 32; more than 8 bits a
  // channel 32 without alpha; grey 8; colour 24.
  info_.bitsPerPixel = alpha || bits > 8 ? 32 : chromaBits <= 0 ? 8 : 24;
  info_.opaqueRows = true;

  // The RGB planes (and alpha) at one or two bytes a sample; beside them at
  // most one Y'CbCr picture of as many samples (4:4:4 at worst): the
  // codec's before libheif copies it, or libheif's while it is turned or
  // converted.
  const int planes = (3 + (alpha ? 1 : 0)) * (bits > 8 ? 2 : 1);
  info_.bytesPerPixel = planes;
  info_.fixedBytes = int64_t(info_.width) * info_.height * planes;

  const size_t iccBytes = heif_image_handle_get_raw_color_profile_size(handle);
  if (iccBytes > 0) {
    auto icc = std::make_shared<std::vector<uint8_t>>(iccBytes);
    if (heif_image_handle_get_raw_color_profile(handle, icc->data()).code == heif_error_Ok)
      info_.iccProfile = std::move(icc);
  } else {
    heif_color_profile_nclx* nclx = nullptr;
    if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code == heif_error_Ok && nclx) {
      const std::unique_ptr<heif_color_profile_nclx, NclxFree> owned(nclx);
      std::vector<uint8_t> icc =
          IccFromCodePoints(int(nclx->color_primaries), int(nclx->transfer_characteristics));
      if (!icc.empty()) info_.iccProfile = std::make_shared<std::vector<uint8_t>>(std::move(icc));
    }
  }
  return DecodeError::None;
}

DecodeError HeifReader::Start(int denominator, bool) {
  if (denominator != 1 || image_) return DecodeError::BadSize;
  std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
  if (!options) return DecodeError::OutOfMemory;
  options->ignore_transformations = 0;
  if (options->version >= 2) options->convert_hdr_to_8bit = 1;
  if (options->version >= 3) options->strict_decoding = 1;
  heif_image* image = nullptr;
  const DecodeError error = ErrorOf(heif_decode_image(handle_.get(), &image, heif_colorspace_RGB,
                                                      heif_chroma_444, options.get()));
  image_.reset(image);
  if (error != DecodeError::None) return error;
  if (!image_ || heif_image_get_decoding_warnings(image_.get(), 0, nullptr, 0) > 0)
    return DecodeError::Corrupt;
  const heif_channel channels[4] = {heif_channel_R, heif_channel_G, heif_channel_B,
                                    heif_channel_Alpha};
  for (int c = 0; c < 4; ++c) {
    if (c == 3 && !heif_image_has_channel(image_.get(), heif_channel_Alpha)) break;
    planes_[c] = heif_image_get_plane_readonly(image_.get(), channels[c], &strides_[c]);
    bits_[c] = heif_image_get_bits_per_pixel_range(image_.get(), channels[c]);
    if (!planes_[c] || bits_[c] < 8 || bits_[c] > 16 ||
        strides_[c] < info_.width * (bits_[c] > 8 ? 2 : 1) ||
        heif_image_get_width(image_.get(), channels[c]) != info_.width ||
        heif_image_get_height(image_.get(), channels[c]) != info_.height)
      return DecodeError::Corrupt;
    if (bits_[c] > 8) reduced_[c].resize(size_t(info_.width));
  }
  width_ = info_.width;
  height_ = info_.height;
  return DecodeError::None;
}

DecodeError HeifReader::ReadRows(uint8_t* const* rows, int count) {
  if (!planes_[0] || count > height_ - next_) return DecodeError::Corrupt;
  for (int i = 0; i < count; ++i, ++next_) {
    const uint8_t* row[4] = {};
    for (int c = 0; c < 4 && planes_[c]; ++c) {
      row[c] = planes_[c] + size_t(next_) * size_t(strides_[c]);
      if (bits_[c] == 8) continue;
      // v x 255 / (2^bits - 1), rounded.
      const auto* wide = reinterpret_cast<const uint16_t*>(row[c]);
      const uint32_t max = (1u << bits_[c]) - 1;
      for (int x = 0; x < width_; ++x)
        reduced_[c][size_t(x)] = uint8_t((std::min<uint32_t>(wide[x], max) * 255 + max / 2) / max);
      row[c] = reduced_[c].data();
    }
    InterleaveBgra(rows[i], row[2], row[1], row[0], row[3], size_t(width_));
  }
  return DecodeError::None;
}

}  // namespace

DecodeError OpenHeifImage(const uint8_t* data, size_t size, std::unique_ptr<ImageReader>* reader) {
  (void)heifStarted;
  const heif_filetype_result type = heif_check_filetype(data, int(std::min<size_t>(size, 64)));
  if (type == heif_filetype_no) return DecodeError::NotAnImage;
  auto heif = std::make_unique<HeifReader>();
  const DecodeError error = heif->Open(data, size);
  if (error != DecodeError::None) return error;
  *reader = std::move(heif);
  return DecodeError::None;
}

}  // namespace plombix
