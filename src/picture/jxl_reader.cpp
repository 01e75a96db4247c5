// JPEG XL through libjxl: the first displayed frame (an animation's first,
// composited), decoded whole as 8-bit RGBA on two threads, red and blue
// then swapped into the pixel format. The picture's orientation is kept
// out of the decode and applied by the caller, like a JPEG's.
//
// Completeness: the whole file is handed over and closed before decoding,
// so a file cut short before the end of the first frame ends in an error or
// a request for more input, both DecodeError::Corrupt. What follows the
// frame shown (an animation's other frames, boxes after the codestream) is
// not read.
//
// Colour: a picture stored in its own colour space (lossless, or lossy
// with the original profile kept) comes with that profile (the "data"
// profile), which colour management converts to sRGB. A picture stored in
// the codec's internal space (most lossy files) is decoded straight to
// sRGB by libjxl; with colour management off, to its original colour
// space where libjxl can name it, else sRGB. Either way the picture is
// named by its original profile.
//
// Cost, counted before decoding: the RGBA picture, and beside it two bytes
// a sample of every channel for libjxl's own buffers (it works a group of
// 256 x 256 pixels at a time; a 6-megapixel picture took 3 bytes a pixel
// beside ours, lossy or lossless).
#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "colour_manage.h"
#include "colour_transform.h"
#include "decode_budget.h"
#include "pixel_alloc.h"
#include "rgba_rows.h"
#include "stream_decode.h"
#include "whole_picture_reader.h"

namespace plombix {
namespace {

struct DecoderDestroy {
  void operator()(JxlDecoder* d) const { JxlDecoderDestroy(d); }
};
struct RunnerDestroy {
  void operator()(void* r) const { JxlThreadParallelRunnerDestroy(r); }
};

constexpr JxlPixelFormat kRgba8 = {4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};

JxlColorEncoding Srgb(bool grey) {
  JxlColorEncoding srgb{};
  srgb.color_space = grey ? JXL_COLOR_SPACE_GRAY : JXL_COLOR_SPACE_RGB;
  srgb.white_point = JXL_WHITE_POINT_D65;
  srgb.primaries = JXL_PRIMARIES_SRGB;
  srgb.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
  srgb.rendering_intent = JXL_RENDERING_INTENT_RELATIVE;
  return srgb;
}

class JxlReader final : public WholePictureReader {
 public:
  JxlReader() = default;
  DecodeError Open(const uint8_t* data, size_t size);

 private:
  DecodeError DecodePicture() override;
  std::vector<uint8_t> Profile(JxlColorProfileTarget target) const;

  std::unique_ptr<JxlDecoder, DecoderDestroy> decoder_;
  std::unique_ptr<void, RunnerDestroy> runner_;
};

std::vector<uint8_t> JxlReader::Profile(JxlColorProfileTarget target) const {
  size_t size = 0;
  if (JxlDecoderGetICCProfileSize(decoder_.get(), &kRgba8, target, &size) != JXL_DEC_SUCCESS ||
      size == 0)
    return {};
  std::vector<uint8_t> icc(size);
  if (JxlDecoderGetColorAsICCProfile(decoder_.get(), &kRgba8, target, icc.data(), size) !=
      JXL_DEC_SUCCESS)
    return {};
  return icc;
}

DecodeError JxlReader::Open(const uint8_t* data, size_t size) {
  decoder_.reset(JxlDecoderCreate(nullptr));
  if (!decoder_) return DecodeError::OutOfMemory;
  JxlDecoder* dec = decoder_.get();
  runner_.reset(JxlThreadParallelRunnerCreate(nullptr, size_t(std::min(2, UsableCores()))));
  if (!runner_ ||
      JxlDecoderSetParallelRunner(dec, JxlThreadParallelRunner, runner_.get()) != JXL_DEC_SUCCESS)
    return DecodeError::OutOfMemory;
  if (JxlDecoderSubscribeEvents(dec, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING |
                                         JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
      JxlDecoderSetKeepOrientation(dec, JXL_TRUE) != JXL_DEC_SUCCESS ||
      JxlDecoderSetUnpremultiplyAlpha(dec, JXL_TRUE) != JXL_DEC_SUCCESS ||
      JxlDecoderSetInput(dec, data, size) != JXL_DEC_SUCCESS)
    return DecodeError::OutOfMemory;
  JxlDecoderCloseInput(dec);

  JxlBasicInfo basic{};
  for (;;) {
    const JxlDecoderStatus status = JxlDecoderProcessInput(dec);
    if (status == JXL_DEC_BASIC_INFO) {
      if (JxlDecoderGetBasicInfo(dec, &basic) != JXL_DEC_SUCCESS) return DecodeError::Corrupt;
      continue;
    }
    if (status == JXL_DEC_COLOR_ENCODING) break;
    return DecodeError::Corrupt;  // an error, or the file ends inside its header
  }
  if (basic.xsize == 0 || basic.ysize == 0 || basic.xsize > uint32_t(kMaxDecodeSide) ||
      basic.ysize > uint32_t(kMaxDecodeSide))
    return DecodeError::BadSize;
  info_.width = int(basic.xsize);
  info_.height = int(basic.ysize);
  const int orientation = int(basic.orientation);
  info_.orientation =
      orientation >= 1 && orientation <= 8 ? Orientation(orientation) : Orientation::Normal;
  info_.bitsPerPixel = basic.alpha_bits > 0 || basic.bits_per_sample > 8 ? 32
                       : basic.num_color_channels == 1                   ? 8
                                                                         : 24;
  info_.opaqueRows = true;  // RGBA output without alpha: 255
  const int64_t channels = int64_t(basic.num_color_channels) + basic.num_extra_channels;
  info_.fixedBytes = int64_t(info_.width) * info_.height * channels * 2;

  const std::vector<uint8_t> original = Profile(JXL_COLOR_PROFILE_TARGET_ORIGINAL);
  if (!basic.uses_original_profile) {
    // Stored in the codec's own space: libjxl renders the colour space it
    // is asked for.
    JxlColorEncoding wanted{};
    if (ColourManagementEnabled() ||
        JxlDecoderGetColorAsEncodedProfile(dec, &kRgba8, JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                           &wanted) != JXL_DEC_SUCCESS)
      wanted = Srgb(basic.num_color_channels == 1);
    if (JxlDecoderSetPreferredColorProfile(dec, &wanted) != JXL_DEC_SUCCESS)
      return DecodeError::Corrupt;
  }
  std::vector<uint8_t> rendered = Profile(JXL_COLOR_PROFILE_TARGET_DATA);
  if (!original.empty()) {
    const ProfileFacts facts = InspectProfile(original.data(), original.size());
    info_.colourProfile = facts.description;
  }
  // The rows are in the data profile: converted from it unless it is sRGB.
  if (!rendered.empty())
    info_.iccProfile = std::make_shared<std::vector<uint8_t>>(std::move(rendered));
  return DecodeError::None;
}

DecodeError JxlReader::DecodePicture() {
  JxlDecoder* dec = decoder_.get();
  const size_t bytes = size_t(info_.width) * size_t(info_.height) * 4;
  std::shared_ptr<uint8_t[]> pixels;
  for (;;) {
    const JxlDecoderStatus status = JxlDecoderProcessInput(dec);
    if (status == JXL_DEC_FULL_IMAGE && pixels) break;  // the first frame, every byte of it
    if (status != JXL_DEC_NEED_IMAGE_OUT_BUFFER || pixels)
      return DecodeError::Corrupt;  // an error, or the file ends early
    size_t needed = 0;
    if (JxlDecoderImageOutBufferSize(dec, &kRgba8, &needed) != JXL_DEC_SUCCESS || needed != bytes)
      return DecodeError::Corrupt;
    pixels = AllocateArray<uint8_t>(bytes);
    if (!pixels) return DecodeError::OutOfMemory;
    if (JxlDecoderSetImageOutBuffer(dec, &kRgba8, pixels.get(), bytes) != JXL_DEC_SUCCESS)
      return DecodeError::Corrupt;
  }
  CopyRgbaAsBgra(pixels.get(), pixels.get(), bytes / 4);
  pixels_ = std::move(pixels);
  return DecodeError::None;
}

}  // namespace

DecodeError OpenJxlImage(const uint8_t* data, size_t size, std::unique_ptr<ImageReader>* reader) {
  const JxlSignature signature = JxlSignatureCheck(data, size);
  if (signature != JXL_SIG_CODESTREAM && signature != JXL_SIG_CONTAINER)
    return DecodeError::NotAnImage;
  auto jxl = std::make_unique<JxlReader>();
  const DecodeError error = jxl->Open(data, size);
  if (error != DecodeError::None) return error;
  *reader = std::move(jxl);
  return DecodeError::None;
}

}  // namespace plombix
