#include "player_core.h"

#include <cstdio>

#include "background.h"
#include "compose.h"
#include "fade.h"
#include "preview_frame.h"
#include "scale_rules.h"

namespace plombix {
namespace {

// The placeholder background picture, resampled to the output size at every
// reconfiguration and shown wherever a background leaves it.
constexpr int kPlaceholderBitmap = 148;

int StartupBitmapFor(int pictureChoice, bool* forceOpaque) {
  switch (pictureChoice) {
    case 3: case 4: case 8: *forceOpaque = true; return 191;
    case 5: case 7: case 9: *forceOpaque = true; return 190;
    default: *forceOpaque = false; return 140;  // keeps its own alpha
  }
}

}  // namespace

PlayerCore::PlayerCore(const NdiRuntime& runtime, ConfigState& config, PlayerView& view)
    : output(runtime), config_(config), view_(view) {}

PlayerCore::StartError PlayerCore::StartOutput() {
  if (!output.Initialize()) return StartError::NdiUnusable;
  if (!output.AllocateFrames()) return StartError::FrameMemory;
  return StartError::None;
}

void PlayerCore::LoadStartupPictures(int pictureChoice) {
  bool forceOpaque = false;
  const int bitmap = StartupBitmapFor(pictureChoice, &forceOpaque);
  if (startupPicture.LoadResourceBitmap(bitmap) && forceOpaque) startupPicture.SetAlpha(255);

  if (backgroundPicture.LoadResourceBitmap(kPlaceholderBitmap) &&
      backgroundPicture.resourceBitmap && backgroundPicture.resourceBitmap->width > 0 &&
      backgroundPicture.resourceBitmap->height > 0) {
    (void)backgroundPicture.ScaleFrom(output.outputWidth, output.outputHeight,
                                      *backgroundPicture.resourceBitmap);
  }
  if (backgroundPicture.usable()) {
    view_.loadPreview(backgroundPicture.pixelData.get(), backgroundPicture.width,
                      backgroundPicture.height, backgroundPicture.width * 4, kFourCCRGBA,
                      kAspect16x9);
    view_.presentPreview();
  }
}

void PlayerCore::StartPublishing(int number) {
  instanceNumber = number;
  output.CreateSender(instanceNumber);
  (void)mainPicture.CopyFrom(startupPicture);
  ReconfigureOutput();
  splashPending = true;
}

// --- Composing and sending ----------------------------------------------------

void PlayerCore::ReconfigureOutput() {
  view_.setOutputLine(OutputLineText(output.outputWidth, output.outputHeight, output.frameRateN,
                                     output.frameRateD));
  output.DestroySender();
  output.WriteFormat();

  if (backgroundPicture.resourceId == kPlaceholderBitmap && backgroundPicture.resourceBitmap &&
      backgroundPicture.resourceBitmap->width > 0 && backgroundPicture.resourceBitmap->height > 0) {
    (void)backgroundPicture.ScaleFrom(output.outputWidth, output.outputHeight,
                                      *backgroundPicture.resourceBitmap);
  }
  if (FillBackground(backgroundPicture, backgroundMode, fillColour[0], fillColour[1],
                     grabbedPicture) == FillResult::GrabUsed) {
    view_.setGrabButton("Grab used", 2);
  }
  (void)previousPicture.CopyFrom(backgroundPicture);

  RenderAndSend();

  if (!output.initialized() || !output.CreateSender(instanceNumber)) return;
  if (fadeStepsLeft != 0 && output.framesAllocated()) {
    // A fade is due, so the composition was not copied out: the frame to
    // send still holds the old format's pixels. Send what the fade starts
    // from (the new background) rather than a frame laid out for another size.
    previousPicture.PlaceInto(PlaceCopy, output.FlipToFreeFrame(), output.outputWidth,
                              output.outputHeight);
  }
  output.SendCurrent();
  presentFrame(output.current(), false);
}

void PlayerCore::RenderAndSend() {
  const int w = output.outputWidth;
  const int h = output.outputHeight;
  // Without a fade the composition goes straight on air: into the frame not
  // in flight, copied out row by row as it is composed.
  const bool direct = fadeStepsLeft == 0;
  uint8_t* frame = direct && output.framesAllocated() ? output.FlipToFreeFrame() : nullptr;
  ComposeFrame(composedPicture, backgroundPicture, mainPicture,
               config_.live.overlayOn ? &overlayPicture : nullptr, w, h, frame);

  if (!direct) {
    view_.setLamp(Lamp::Green);
    view_.startTimer(TIMER_FADE, kFadePeriodMs);
    return;
  }

  if (frame) output.SendCurrent();
  if (composedPicture.usable()) {
    view_.loadPreview(composedPicture.pixelData.get(), w, h, w * 4, kFourCCRGBA,
                      output.aspectRatio());
    view_.presentPreview();
  }
  (void)previousPicture.CopyFrom(composedPicture);
}

bool PlayerCore::ShowPicture(bool send) {
  const ViewerConfig& live = config_.live;
  // Load, make opaque unless the picture has its own alpha, and scale by the
  // scaling mode inside the borders (one step: see LoadFileScaled).
  const auto target = [&](int w, int h) {
    return ShownPictureTarget(live.scalingMode, w, h, output.outputWidth, output.outputHeight,
                              borderSidesPx, borderTopBottomPx);
  };
  if (!mainPicture.LoadFileScaled(config_.currentFileName, target)) return false;
  splashPending = false;
  shownWithBorders = live.borderUse;
  const int loadedWidth = mainPicture.sourceWidth;
  const int loadedHeight = mainPicture.sourceHeight;

  fadeStepsLeft = FadeStepCount(live.fadeOn, output.frameRateN, output.frameRateD);
  if (fadeStepsLeft != 0) fadeSteps = fadeStepsLeft;
  if (live.limitedRange) mainPicture.ApplyRangeTable();
  if (send) RenderAndSend();

  char from[48];
  std::snprintf(from, sizeof from, "from %d x %d", loadedWidth, loadedHeight);
  view_.setPictureLabels(mainPicture.fileName, from);
  return true;
}

bool PlayerCore::LoadOverlay() {
  const auto target = [&](int w, int h) {
    return OverlayTarget(config_.live.scalingMode, w, h, output.outputWidth, output.outputHeight);
  };
  if (!overlayPicture.LoadFileScaled(config_.overlayName, target)) return false;
  splashPending = false;
  if (config_.live.limitedRange) overlayPicture.ApplyRangeTable();
  return true;
}

void PlayerCore::UpdateBorders(bool use) {
  const ViewerConfig& live = config_.live;
  const BorderSizes sizes =
      ComputeBorders(use, live.borderSidesPct, live.borderTopBottomPct, live.borderEqual != 0,
                     output.outputWidth, output.outputHeight);
  borderSidesPx = sizes.sidesPx;
  borderTopBottomPx = sizes.topBottomPx;
  mainPicture.marginLeft = mainPicture.marginRight = sizes.sidesPx;
  mainPicture.marginTop = mainPicture.marginBottom = sizes.topBottomPx;
}

// --- Operator choices ---------------------------------------------------------

const ResolutionEntry* PlayerCore::ChooseResolution(int id) {
  config_.live.resolutionId = uint32_t(id);
  formatChanging = true;  // the 40 ms tick pauses meanwhile
  const ResolutionEntry* entry = FindResolution(id);
  if (entry) {
    output.outputWidth = entry->width;
    output.outputHeight = entry->height;
  }
  (void)LoadOverlay();
  view_.enableSidesEdit(config_.live.borderEqual == 0);
  UpdateBorders(config_.live.borderUse != 0);
  (void)ShowPicture(false);
  ReconfigureOutput();
  formatChanging = false;
  return entry;
}

const FrameRateEntry* PlayerCore::ChooseFrameRate(int id) {
  config_.live.frameRateId = uint32_t(id);
  const FrameRateEntry* entry = FindFrameRate(id);
  if (entry) {
    output.frameRateN = entry->frameRateN;
    output.frameRateD = entry->frameRateD;
  }
  ReconfigureOutput();
  return entry;
}

const BackgroundEntry* PlayerCore::ChooseBackground(int id) {
  config_.live.backgroundId = uint32_t(id);
  const BackgroundEntry* entry = FindBackground(id);
  if (entry) backgroundMode = entry->backgroundMode;
  ReconfigureOutput();
  return entry;
}

void PlayerCore::SetFillColour(int which, uint32_t rgb) {
  if (which != 0 && which != 1) return;
  const uint32_t value = rgb & 0x00FFFFFF;  // a picked colour has a top byte of 0
  fillColour[which] = value;
  if (IsGradientMode(backgroundMode)) ReconfigureOutput();
  (which == 0 ? config_.live.fillColour1 : config_.live.fillColour2) = value;
}

void PlayerCore::SetAlphaOutput(bool noAlpha) {
  output.noAlphaOutput = noAlpha;
  ReconfigureOutput();
  config_.live.noAlpha = noAlpha ? 1 : 0;
}

bool PlayerCore::ToggleFade() {
  config_.live.fadeOn = config_.live.fadeOn ? 0 : 1;
  return config_.live.fadeOn != 0;
}

bool PlayerCore::ToggleRange() {
  config_.live.limitedRange = config_.live.limitedRange ? 0 : 1;
  (void)ShowPicture(true);
  return config_.live.limitedRange != 0;
}

void PlayerCore::Grab() {
  if (composedPicture.byteCount != 0 && grabbedPicture.CopyFrom(composedPicture)) {
    view_.setGrabButton("Grabbed", 1);
    if (backgroundMode == BackgroundGrabbed) ReconfigureOutput();
    return;
  }
  view_.setGrabButton("Grab", 3);
}

bool PlayerCore::GrabOverlay() {
  config_.overlayPath.copyPathFrom(config_.imagePath);
  config_.overlayName = config_.currentFileName;
  // Without borders the shown picture already has the overlay's size; with
  // borders it was scaled inside them, so the file is loaded again.
  overlayLoaded = shownWithBorders ? LoadOverlay() : overlayPicture.CopyFrom(mainPicture);
  return overlayLoaded;
}

bool PlayerCore::SetOverlayUse(bool checked) {
  config_.live.overlayOn = (checked && overlayLoaded) ? 1 : 0;
  return config_.live.overlayOn != 0;
}

// --- Timers -------------------------------------------------------------------

void PlayerCore::presentFrame(const NDIlib_video_frame_v2_t& frame, bool present) {
  if (!frame.p_data) return;
  view_.loadPreview(frame.p_data, frame.xres, frame.yres, frame.line_stride_in_bytes,
                    uint32_t(frame.FourCC), frame.picture_aspect_ratio);
  if (present) view_.presentPreview();
}

void PlayerCore::queryTally(bool reloadPreview) {
  if (connectionCount == 0) return;
  NDIlib_tally_t tally{};
  if (!output.QueryTally(tally)) return;
  tallyState = tally.on_program ? TallyProgram : tally.on_preview ? TallyPreview : TallyNone;
  view_.setTallyState(tallyState);
  if (reloadPreview) presentFrame(output.current(), true);
}

void PlayerCore::setBlinkLamp() { view_.setLamp(blinkPhase % 2 == 0 ? Lamp::Red : Lamp::Amber); }

void PlayerCore::OnTick() {
  if (formatChanging) return;
  --secondCountdown;
  if (fadeStepsLeft == 0) queryTally(true);
  if (secondCountdown != 0) return;
  secondCountdown = kTicksPerSecond;

  connectionCount = output.ConnectionCount();
  if (connectionCount != 0 && fadeStepsLeft == 0) {
    output.SendCurrent();
    setBlinkLamp();
  }
  if (--blinkPhase == 0) blinkPhase = 2;
}

bool PlayerCore::framesMatchOutput() const {
  const auto matches = [this](const PictureBuffer& p) {
    return p.usable() && p.width == output.outputWidth && p.height == output.outputHeight;
  };
  return matches(previousPicture) && matches(composedPicture);
}

void PlayerCore::OnFadeTick() {
  if (fadeStepsLeft == 0) {
    (void)previousPicture.CopyFrom(composedPicture);
    view_.stopTimer(TIMER_FADE);
    return;
  }
  --fadeStepsLeft;
  if (!output.framesAllocated()) {
    // Nothing to send into; keep the counters and lamp moving all the same.
    if (fadeStepsLeft == 0) setBlinkLamp();
    return;
  }
  uint8_t* frame = output.FlipToFreeFrame();
  const int weight = FadeWeight(fadeStepsLeft, fadeSteps);
  if (framesMatchOutput()) {
    FadeBlend(frame, previousPicture.pixelData.get(), composedPicture.pixelData.get(),
              size_t(output.outputWidth) * size_t(output.outputHeight) * 4, weight);
  }
  output.SendCurrent();
  if (fadeStepsLeft == 0) queryTally(false);
  presentFrame(output.current(), true);
  if (fadeStepsLeft == 0) setBlinkLamp();
}

void PlayerCore::DropSplash() {
  if (!splashPending) return;
  mainPicture.SetAlpha(0);
  RenderAndSend();
  splashPending = false;
}

void PlayerCore::Shutdown() { output.Shutdown(); }

}  // namespace plombix
