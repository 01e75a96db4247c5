// HEIC, HEIF and AVIF through libheif (HEVC by libde265, AV1 by dav1d or
// aom): the primary image, decoded whole in the codec's own planes
// (Y'CbCr, grey or planar RGB), turned into rows of the pixel format as the
// rows are read (ycbcr_rows.h), so that no full-size RGB copy is ever made.
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
// Cost, counted before decoding (decode_budget.h): the codec's planes and
// libheif's copy of them (a grid picture is put together from its tiles),
// the alpha plane likewise, one more copy for a turn or crop, and the rows
// the caller makes (4 bytes a pixel).
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
#include "stream_decode.h"
#include "ycbcr_rows.h"

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
  DecodeError Planes(CodecPlanes* planes) const;

  std::unique_ptr<heif_context, ContextFree> context_;
  std::unique_ptr<heif_image_handle, HandleRelease> handle_;
  std::unique_ptr<heif_image, ImageRelease> image_;
  std::unique_ptr<CodecRowConverter> rows_;
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
  if (error != DecodeError::None)
    return error == DecodeError::Corrupt ? DecodeError::Corrupt : error;
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

  const int64_t sample = bits > 8 ? 2 : 1;
  const int64_t planes = 2 * 3 * sample + (alpha ? 2 * sample : 0) + 4 /* turn or crop */;
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
  if (options->version >= 3) options->strict_decoding = 1;
  heif_image* image = nullptr;
  const DecodeError error = ErrorOf(heif_decode_image(
      handle_.get(), &image, heif_colorspace_undefined, heif_chroma_undefined, options.get()));
  image_.reset(image);
  if (error != DecodeError::None) return error;
  if (!image_ || heif_image_get_decoding_warnings(image_.get(), 0, nullptr, 0) > 0)
    return DecodeError::Corrupt;

  CodecPlanes planes;
  const DecodeError planeError = Planes(&planes);
  if (planeError != DecodeError::None) return planeError;
  rows_ = std::make_unique<CodecRowConverter>(planes);
  width_ = info_.width;
  height_ = info_.height;
  return DecodeError::None;
}

// The decoded planes, checked against the size the header announced.
DecodeError HeifReader::Planes(CodecPlanes* planes) const {
  heif_image* image = image_.get();
  const auto plane = [&](heif_channel channel, int index, int widthShift, int heightShift) {
    int stride = 0;
    const uint8_t* data = heif_image_get_plane_readonly(image, channel, &stride);
    if (!data || stride <= 0 ||
        heif_image_get_width(image, channel) <
            ((info_.width + (1 << widthShift) - 1) >> widthShift) ||
        heif_image_get_height(image, channel) <
            ((info_.height + (1 << heightShift) - 1) >> heightShift))
      return false;
    if (index >= 0) {
      planes->plane[index] = data;
      planes->stride[index] = size_t(stride);
    } else {
      planes->alpha = data;
      planes->alphaStride = size_t(stride);
    }
    return true;
  };

  const heif_colorspace space = heif_image_get_colorspace(image);
  const heif_chroma chroma = heif_image_get_chroma_format(image);
  const int bits = heif_image_get_bits_per_pixel_range(
      image, space == heif_colorspace_RGB ? heif_channel_R : heif_channel_Y);
  if (bits < 8 || bits > 16) return DecodeError::Corrupt;
  planes->bits = bits;
  if (space == heif_colorspace_monochrome) {
    planes->layout = CodecPlanes::Layout::Grey;
    if (!plane(heif_channel_Y, 0, 0, 0)) return DecodeError::Corrupt;
  } else if (space == heif_colorspace_RGB && chroma == heif_chroma_444) {
    planes->layout = CodecPlanes::Layout::Rgb;
    if (!plane(heif_channel_R, 0, 0, 0) || !plane(heif_channel_G, 1, 0, 0) ||
        !plane(heif_channel_B, 2, 0, 0))
      return DecodeError::Corrupt;
  } else if (space == heif_colorspace_YCbCr) {
    planes->layout = CodecPlanes::Layout::YCbCr;
    planes->chromaShiftX = chroma == heif_chroma_444 ? 0 : 1;
    planes->chromaShiftY = chroma == heif_chroma_420 ? 1 : 0;
    if (chroma != heif_chroma_420 && chroma != heif_chroma_422 && chroma != heif_chroma_444)
      return DecodeError::Corrupt;
    if (!plane(heif_channel_Y, 0, 0, 0) ||
        !plane(heif_channel_Cb, 1, planes->chromaShiftX, planes->chromaShiftY) ||
        !plane(heif_channel_Cr, 2, planes->chromaShiftX, planes->chromaShiftY))
      return DecodeError::Corrupt;
    if (heif_image_get_bits_per_pixel_range(image, heif_channel_Cb) != bits)
      return DecodeError::Corrupt;
    // The matrix and range the decoder found (the file's nclx, or the
    // bitstream's); libheif's defaults when it found none.
    heif_color_profile_nclx* nclx = nullptr;
    if (heif_image_get_nclx_color_profile(image, &nclx).code == heif_error_Ok && nclx) {
      const std::unique_ptr<heif_color_profile_nclx, NclxFree> owned(nclx);
      planes->matrix = int(nclx->matrix_coefficients);
      planes->fullRange = nclx->full_range_flag != 0;
    }
  } else {
    return DecodeError::Corrupt;
  }
  if (heif_image_has_channel(image, heif_channel_Alpha)) {
    if (!plane(heif_channel_Alpha, -1, 0, 0)) return DecodeError::Corrupt;
    planes->alphaBits = heif_image_get_bits_per_pixel_range(image, heif_channel_Alpha);
    if (planes->alphaBits < 1 || planes->alphaBits > 16) return DecodeError::Corrupt;
  }
  return DecodeError::None;
}

DecodeError HeifReader::ReadRows(uint8_t* const* rows, int count) {
  if (!rows_ || count > height_ - next_) return DecodeError::Corrupt;
  for (int i = 0; i < count; ++i, ++next_) rows_->ConvertRow(next_, width_, rows[i]);
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
