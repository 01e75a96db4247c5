// Loading the configuration file and applying it by difference.
//
// The file is read once, at most kConfigFileBytes bytes, into a local
// buffer; every step below then looks only at the bytes that were actually
// read, so no length in or of the file is ever trusted. A path cut short by
// the end of the file writes the bytes it has into the front of its live
// buffer and leaves the rest as it was, as a partial read into that buffer
// would.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "config_file.h"
#include "slideshow_text.h"

namespace plombix {
namespace {

constexpr std::size_t kBlockOffset = 8;
constexpr std::size_t kPathsOffset = kBlockOffset + kViewerConfigBytes;  // 60
static_assert(kPathsOffset + 3 * PathBuffer::kBytes == kConfigFileBytes);

// Reads up to `buf.size()` bytes; returns how many arrived, or -1 when the
// name is not a regular file that can be opened for reading. A read error
// part-way ends the data there, like the end of the file.
long readConfigBytes(const std::string& fileName, std::array<uint8_t, kConfigFileBytes>& buf) {
  if (fileName.empty()) return -1;
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  std::size_t got = 0;
  while (got < buf.size()) {
    const ssize_t n = ::read(fd, buf.data() + got, buf.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return static_cast<long>(got);
}

// Bytes of the file available for the item at [offset, offset + size).
std::span<const uint8_t> itemBytes(const std::array<uint8_t, kConfigFileBytes>& buf,
                                   std::size_t got, std::size_t offset, std::size_t size) {
  if (got <= offset) return {};
  return std::span<const uint8_t>(buf.data() + offset, std::min(size, got - offset));
}

}  // namespace

void ApplyStagedConfig(ConfigState& state, ConfigHost& host) {
  ViewerConfig& live = state.live;
  const ViewerConfig& st = state.staging;

  // Sets the live field to the staged one when they differ; true when it did.
  const auto take = [](auto& liveField, const auto& stagedField) {
    if (liveField == stagedField) return false;
    liveField = stagedField;
    return true;
  };

  if (take(live.fillColour1, st.fillColour1)) host.onFillColour1(live.fillColour1);
  if (take(live.fillColour2, st.fillColour2)) host.onFillColour2(live.fillColour2);
  if (take(live.noAlpha, st.noAlpha)) host.onNoAlpha(live.noAlpha != 0);
  if (take(live.useLast, st.useLast)) host.onUseLast(live.useLast != 0);
  if (take(live.useImage, st.useImage)) host.onUseImage(live.useImage != 0);
  if (take(live.scalingMode, st.scalingMode)) host.onScalingMode(live.scalingMode);
  if (take(live.watchOn, st.watchOn)) host.onWatch(live.watchOn != 0);
  take(live.borderSidesPct, st.borderSidesPct);
  take(live.borderTopBottomPct, st.borderTopBottomPct);
  if (take(live.borderEqual, st.borderEqual)) host.onBorderEqual(live.borderEqual != 0);
  if (take(live.borderUse, st.borderUse)) host.onBorderUse(live.borderUse != 0);
  take(live.overlayOn, st.overlayOn);
  if (take(live.limitedRange, st.limitedRange)) host.onLimitedRange(live.limitedRange != 0);
  if (take(live.fadeOn, st.fadeOn)) host.onFade(live.fadeOn != 0);
  if (take(live.resolutionId, st.resolutionId)) host.onResolutionId(live.resolutionId);
  if (take(live.frameRateId, st.frameRateId)) host.onFrameRateId(live.frameRateId);
  if (take(live.backgroundId, st.backgroundId)) host.onBackgroundId(live.backgroundId);

  if (live.useImage == 1) state.currentFileName = state.imagePath.toUtf8();
  state.overlayName = state.overlayPath.toUtf8();
  live.slideshow = st.slideshow;
  host.pushControls();
  host.enableSidesEdit(live.borderEqual == 0);
  host.updateBorders(live.borderUse != 0);
}

LoadResult LoadConfigFile(const std::string& fileName, bool forceLast, ConfigState& state,
                          ConfigHost& host) {
  std::array<uint8_t, kConfigFileBytes> buf{};
  const long read = readConfigBytes(fileName, buf);
  if (read < 0) return {LoadOutcome::NotOpened};
  const auto got = static_cast<std::size_t>(read);

  if (got < kBlockOffset || std::memcmp(buf.data(), kConfigMagic, kBlockOffset) != 0) {
    host.showMessage("Unrecognised file type", kLoadFileTitle);
    return {LoadOutcome::BadMagic};
  }
  if (got < kPathsOffset) {
    host.showMessage("Something went wrong reading data", kLoadFileTitle);
    return {LoadOutcome::ShortBlock};
  }
  state.staging = DecodeViewerConfig(
      std::span<const uint8_t, kViewerConfigBytes>(buf.data() + kBlockOffset, kViewerConfigBytes));
  ViewerConfig& staged = state.staging;
  BringIntoControlRange(staged);

  PathBuffer* const paths[3] = {&state.imagePath, &state.overlayPath, &state.slideshowPath};
  bool whole[3] = {};
  for (std::size_t i = 0; i < 3; ++i) {
    const auto bytes = itemBytes(buf, got, kPathsOffset + i * PathBuffer::kBytes, PathBuffer::kBytes);
    paths[i]->overwriteBytes(bytes);
    whole[i] = bytes.size() == PathBuffer::kBytes;
  }
  if (!whole[0]) {
    if (staged.useImage == 1) host.showMessage("No image path data", kLoadFileTitle);
    staged.useImage = 0;
  }
  if (!whole[1]) {
    if (staged.overlayOn == 1) host.showMessage("No overlay path data", kLoadFileTitle);
    staged.overlayOn = 0;
  }
  if (whole[2]) {
    state.slideshowName = state.slideshowPath.toUtf8();
  } else {
    if (staged.slideshow.mode != 0) host.showMessage("No slideshow path data", kLoadFileTitle);
    staged.slideshow.mode = 0;
  }

  if (staged.useLast == 0 && !forceLast) return {LoadOutcome::PathsOnly};

  ApplyStagedConfig(state, host);

  SlideshowState& show = state.live.slideshow;
  // A mode above 2 is never written by the player; it would step like a
  // slideshow but show no known state, so it is treated as off.
  if (show.sequenceValid == 0 || show.mode > 2) {
    show.mode = 0;
  } else if (show.mode == 2) {
    state.resumeSlideshow = true;
  }
  host.refreshSlideshowButton();
  if (show.startNumber != 0 || show.endNumber != 0) {
    host.setStartNumberCaption(StartNumberCaption(show.numberFormat, show.startNumber));
  }
  if (show.endNumber != 0) {
    host.setEndNumberCaption(EndNumberCaption(show.numberFormat, show.endNumber));
  }
  show.durationSecs = std::clamp<uint8_t>(show.durationSecs, 2, 240);
  if (show.mode == 2 && (show.endNumber != 0 || show.startNumber == 0)) {
    show.currentNumber = show.endNumber;
  }
  host.pushControls();
  return {LoadOutcome::Applied};
}

}  // namespace plombix
