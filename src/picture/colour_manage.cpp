// The colour-managing reader: the decoder's reader inside, its rows
// converted by a ColourTransform (colour_transform.h) made at Start, once
// the caller has checked the cost.
#include "colour_manage.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "colour_transform.h"
#include "stream_decode.h"

namespace plombix {
namespace {

// What a transform's tables may take (LittleCMS's 4-D table of a CMYK
// profile is the largest: 17^4 entries of three 16-bit values, with room
// to spare), counted against the decode budget.
constexpr int64_t kTransformBytes = int64_t(8) << 20;

// Below this many pixels a second thread costs more than it saves.
constexpr size_t kSplitPixels = size_t(1) << 20;

class ColourManagedReader final : public ImageReader {
 public:
  ColourManagedReader(std::unique_ptr<ImageReader> inner, RowColours colours, bool convert,
                      std::string name)
      : inner_(std::move(inner)), colours_(colours), convert_(convert) {
    info_ = inner_->info();
    // A reader that knows the picture's own profile better (JPEG XL: the
    // original beside the one it renders to) has named it already.
    if (info_.colourProfile.empty())
      info_.colourProfile = name.empty() ? "unnamed ICC profile" : std::move(name);
    if (convert_) info_.fixedBytes += kTransformBytes;
  }

  DecodeError Start(int denominator, bool shrunkAfter) override {
    DecodeError error = Prepare();
    if (error == DecodeError::None) error = inner_->Start(denominator, shrunkAfter);
    if (error != DecodeError::None) return error;
    return Started();
  }

  DecodeError StartAtSize(int targetWidth, int targetHeight, const TargetWindow& window) override {
    DecodeError error = Prepare();
    if (error == DecodeError::None) error = inner_->StartAtSize(targetWidth, targetHeight, window);
    if (error != DecodeError::None) return error;
    return Started();
  }

  DecodeError ReadRows(uint8_t* const* rows, int count) override {
    const DecodeError error = inner_->ReadRows(rows, count);
    if (error != DecodeError::None || !transform_ || whole_) return error;
    for (int i = 0; i < count; ++i) transform_->Convert(rows[i], size_t(width_));
    return DecodeError::None;
  }

  DecodeError Finish() override { return inner_->Finish(); }
  std::shared_ptr<uint8_t[]> wholePicture() const override { return inner_->wholePicture(); }

 private:
  // Before the inner reader starts: the transform, and CMYK rows asked for.
  DecodeError Prepare() {
    if (!convert_) return DecodeError::None;
    const std::vector<uint8_t>& icc = *info_.iccProfile;
    transform_ = MakeColourTransform(icc.data(), icc.size());
    if (!transform_) return DecodeError::None;  // LittleCMS cannot use it: shown as decoded
    if (colours_ == RowColours::Cmyk && !inner_->DeliverCmyk()) transform_.reset();
    return DecodeError::None;
  }

  // After: a whole picture is converted at once, on two threads where
  // there are two.
  DecodeError Started() {
    width_ = inner_->width();
    height_ = inner_->height();
    const std::shared_ptr<uint8_t[]> whole = inner_->wholePicture();
    if (!transform_ || !whole) return DecodeError::None;
    whole_ = true;
    const size_t pixels = size_t(width_) * size_t(height_);
    size_t split = 0;
    std::thread helper;
    if (pixels >= kSplitPixels && UsableCores() > 1) {
      split = pixels / 2;
      try {
        helper = std::thread([&] { transform_->Convert(whole.get(), split); });
      } catch (const std::system_error&) {
        split = 0;
      }
    }
    transform_->Convert(whole.get() + split * 4, pixels - split);
    if (helper.joinable()) helper.join();
    return DecodeError::None;
  }

  std::unique_ptr<ImageReader> inner_;
  RowColours colours_;
  bool convert_;
  bool whole_ = false;
  std::unique_ptr<ColourTransform> transform_;
};

}  // namespace

bool ColourManagementEnabled() {
  const char* value = std::getenv("PLOMBIX_COLOUR_MANAGE");
  return !(value && std::strcmp(value, "0") == 0);
}

DecodeError ManageColour(std::unique_ptr<ImageReader>* reader) {
  const ImageInfo& info = (*reader)->info();
  if (!info.iccProfile || info.iccProfile->empty()) return DecodeError::None;
  const ProfileFacts facts = InspectProfile(info.iccProfile->data(), info.iccProfile->size());
  if (!facts.readable) return DecodeError::None;
  const bool convert = facts.supported && !facts.sRgb && ColourManagementEnabled();
  try {
    *reader = std::make_unique<ColourManagedReader>(std::move(*reader), facts.colours, convert,
                                                    facts.description);
  } catch (const std::bad_alloc&) {
    return DecodeError::OutOfMemory;
  }
  return DecodeError::None;
}

}  // namespace plombix
