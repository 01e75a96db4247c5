#include "player_core.h"

#include <cstdio>
#include <utility>

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
    : output(runtime),
      config_(config),
      view_(view),
      loader_(std::make_unique<PictureLoader>([this] { view_.loadsReady(); })) {}

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
  view_.showSourceLocation(output.sourceLocation());
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

// --- Loading on the worker ---------------------------------------------------

PlayerCore::Layout PlayerCore::layoutFor(int width, int height) const {
  const ViewerConfig& live = config_.live;
  const BorderSizes sizes = ComputeBorders(live.borderUse != 0, live.borderSidesPct,
                                           live.borderTopBottomPct, live.borderEqual != 0, width,
                                           height);
  return Layout{width, height, sizes.sidesPx, sizes.topBottomPx};
}

PlayerCore::Layout PlayerCore::expectedLayout() const {
  if (resolutionPending_) return layoutFor(pendingWidth_, pendingHeight_);
  // The border sizes in force, as UpdateBorders last set them.
  return Layout{output.outputWidth, output.outputHeight, borderSidesPx, borderTopBottomPx};
}

PrepareRequest PlayerCore::request(const std::string& path, PictureRole role,
                                   const Layout& layout) const {
  PrepareRequest request;
  request.path = path;
  request.role = role;
  request.scalingMode = config_.live.scalingMode;
  request.outputWidth = layout.width;
  request.outputHeight = layout.height;
  if (role == PictureRole::Shown) {  // the overlay always covers the whole output
    request.borderSidesPx = layout.sidesPx;
    request.borderTopBottomPx = layout.topBottomPx;
  }
  request.limitedRange = config_.live.limitedRange != 0;
  return request;
}

LoadJob PlayerCore::overlayAndPictureJob(const Layout& layout) const {
  LoadJob job;
  if (!config_.overlayName.empty())
    job.overlay = request(config_.overlayName, PictureRole::Overlay, layout);
  if (!config_.currentFileName.empty())
    job.shownCandidates.push_back(request(config_.currentFileName, PictureRole::Shown, layout));
  return job;
}

uint64_t PlayerCore::submit(LoadJob job, JobDone done, bool resizes) {
  if (!loader_) return 0;
  if (!job.shownCandidates.empty() && !job.shownCandidates.front().path.empty())
    view_.showLoading(FileNameOf(job.shownCandidates.front().path));
  const bool overlay = job.overlay.has_value();
  const bool shown = !job.shownCandidates.empty();
  const bool check = !job.checkPaths.empty();
  const uint64_t ticket = loader_->Submit(std::move(job));
  if (overlay) latestOverlayTicket_ = ticket;
  if (shown) latestShownTicket_ = ticket;
  if (check) latestCheckTicket_ = ticket;
  pendingJobs_.emplace(ticket, PendingJob{std::move(done), resizes});
  return ticket;
}

bool PlayerCore::reloadIfStale(const PictureJobResult& result, JobDone& done) {
  const auto stale = [this](const PrepareRequest& request) {
    return request.outputWidth != output.outputWidth || request.outputHeight != output.outputHeight;
  };
  const bool shownStale = result.shownStatus == PartStatus::Done &&
                          stale(result.job.shownCandidates[size_t(result.shownIndex)]);
  const bool overlayStale = result.overlayStatus == PartStatus::Done && stale(*result.job.overlay);
  if (!shownStale && !overlayStale) return false;
  // Prepared for a size the output no longer has: load the same files again
  // for the present one.
  const Layout layout = expectedLayout();
  LoadJob again;
  if (result.job.overlay) again.overlay = request(result.job.overlay->path, PictureRole::Overlay, layout);
  for (const PrepareRequest& asked : result.job.shownCandidates)
    again.shownCandidates.push_back(request(asked.path, PictureRole::Shown, layout));
  again.checkPaths = result.job.checkPaths;
  submit(std::move(again), std::move(done));
  return true;
}

void PlayerCore::ApplyLoads() {
  if (!loader_) return;
  for (PictureJobResult& result : loader_->TakeResults()) {
    auto it = pendingJobs_.find(result.ticket);
    if (it == pendingJobs_.end()) continue;
    PendingJob job = std::move(it->second);
    pendingJobs_.erase(it);
    // Finished, but asked for again since: stale.
    if (result.ticket < latestShownTicket_ && result.shownStatus != PartStatus::NotAsked)
      result.shownStatus = PartStatus::Superseded;
    if (result.ticket < latestOverlayTicket_ && result.overlayStatus != PartStatus::NotAsked)
      result.overlayStatus = PartStatus::Superseded;
    if (result.ticket < latestCheckTicket_ && result.checkStatus != PartStatus::NotAsked)
      result.checkStatus = PartStatus::Superseded;
    if (!job.resizes && reloadIfStale(result, job.done)) continue;
    if (job.done) job.done(result);
  }
}

void PlayerCore::WaitForLoads() {
  while (loader_ && busy()) {
    loader_->WaitIdle();
    ApplyLoads();
  }
}

void PlayerCore::StopLoading() {
  loader_.reset();
  pendingJobs_.clear();
}

PictureOutcome PlayerCore::applyShown(PictureJobResult& result, bool send, bool borderUse) {
  PictureOutcome outcome;
  outcome.status = result.shownStatus;
  if (result.shownStatus == PartStatus::NotAsked || result.shownStatus == PartStatus::Superseded)
    return outcome;
  outcome.path = result.shown.filePath;
  outcome.error = result.shown.error;
  outcome.index = result.shownIndex;
  const int loadedWidth = result.shown.sourceWidth;
  const int loadedHeight = result.shown.sourceHeight;
  std::string colourProfile = result.shown.colourProfile;
  // A failed load still names the file it tried, as LoadFile does.
  if (!mainPicture.AdoptPrepared(std::move(result.shown))) {
    outcome.status = PartStatus::Failed;
    if (!mainPicture.fileName.empty())
      view_.showLoadFailure(LoadKind::Picture, mainPicture.fileName, DecodeErrorText(outcome.error));
    lastShowOutcome = outcome;
    return outcome;
  }
  splashPending = false;
  onAirPath = outcome.path;
  onAirColourProfile = std::move(colourProfile);
  shownWithBorders = borderUse ? 1 : 0;
  const ViewerConfig& live = config_.live;
  fadeStepsLeft = FadeStepCount(live.fadeOn, output.frameRateN, output.frameRateD);
  if (fadeStepsLeft != 0) fadeSteps = fadeStepsLeft;
  // The range table was applied with the scaling, on the loader's thread.
  if (send) RenderAndSend();

  char from[48];
  std::snprintf(from, sizeof from, "from %d x %d", loadedWidth, loadedHeight);
  view_.setPictureLabels(mainPicture.fileName, from);
  lastShowOutcome = outcome;
  return outcome;
}

PictureOutcome PlayerCore::applyOverlay(PictureJobResult& result) {
  PictureOutcome outcome;
  outcome.status = result.overlayStatus;
  if (result.overlayStatus == PartStatus::NotAsked ||
      result.overlayStatus == PartStatus::Superseded)
    return outcome;
  outcome.path = result.overlay.filePath;
  outcome.error = result.overlay.error;
  if (!overlayPicture.AdoptPrepared(std::move(result.overlay))) {
    outcome.status = PartStatus::Failed;
    if (!overlayPicture.fileName.empty())
      view_.showLoadFailure(LoadKind::Overlay, overlayPicture.fileName,
                            DecodeErrorText(outcome.error));
    return outcome;
  }
  splashPending = false;
  return outcome;
}

void PlayerCore::ShowPicture(bool send, PictureDone done) {
  ShowFirstOf({config_.currentFileName}, send, std::move(done));
}

void PlayerCore::ShowFirstOf(std::vector<std::string> paths, bool send, PictureDone done) {
  const Layout layout = expectedLayout();
  LoadJob job;
  for (const std::string& path : paths)
    job.shownCandidates.push_back(request(path, PictureRole::Shown, layout));
  const bool borderUse = config_.live.borderUse != 0;
  submit(std::move(job), [this, send, borderUse, done = std::move(done)](PictureJobResult& result) {
    const PictureOutcome outcome = applyShown(result, send, borderUse);
    if (done) done(outcome);
  });
}

void PlayerCore::LoadOverlay(PictureDone done) {
  LoadJob job;
  job.overlay = request(config_.overlayName, PictureRole::Overlay, expectedLayout());
  submit(std::move(job), [this, done = std::move(done)](PictureJobResult& result) {
    const PictureOutcome outcome = applyOverlay(result);
    if (done) done(outcome);
  });
}

void PlayerCore::CheckFiles(std::vector<std::string> paths, std::function<void(PartStatus)> done) {
  LoadJob job;
  job.checkPaths = std::move(paths);
  submit(std::move(job), [done = std::move(done)](PictureJobResult& result) {
    if (done) done(result.checkStatus);
  });
}

void PlayerCore::RestorePictures(
    std::function<void(const PictureOutcome& overlay, const PictureOutcome& shown)> done) {
  LoadJob job = overlayAndPictureJob(expectedLayout());
  const bool borderUse = config_.live.borderUse != 0;
  submit(std::move(job), [this, borderUse, done = std::move(done)](PictureJobResult& result) {
    const PictureOutcome overlay = applyOverlay(result);
    const PictureOutcome shown = applyShown(result, true, borderUse);
    if (done) done(overlay, shown);
  });
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
  const ResolutionEntry* entry = FindResolution(id);
  const Layout current = expectedLayout();
  const int width = entry ? entry->width : current.width;
  const int height = entry ? entry->height : current.height;

  // The overlay and the picture are loaded again for the new size first;
  // the output changes when they are ready.
  LoadJob job = overlayAndPictureJob(layoutFor(width, height));
  resolutionPending_ = true;
  pendingWidth_ = width;
  pendingHeight_ = height;
  const bool borderUse = config_.live.borderUse != 0;
  latestResolutionTicket_ = submit(
      std::move(job),
      [this, width, height, borderUse](PictureJobResult& result) {
        if (result.ticket != latestResolutionTicket_) return;  // a later choice does it
        resolutionPending_ = false;
        formatChanging = true;  // the 40 ms tick pauses meanwhile
        output.outputWidth = width;
        output.outputHeight = height;
        (void)applyOverlay(result);
        view_.enableSidesEdit(config_.live.borderEqual == 0);
        UpdateBorders(config_.live.borderUse != 0);
        (void)applyShown(result, false, borderUse);
        ReconfigureOutput();
        formatChanging = false;
      },
      /*resizes=*/true);
  if (latestResolutionTicket_ == 0) resolutionPending_ = false;
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
  ShowPicture(true);
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

void PlayerCore::GrabOverlay(std::function<void(bool loaded)> done) {
  config_.overlayPath.copyPathFrom(config_.imagePath);
  config_.overlayName = config_.currentFileName;
  // Without borders the shown picture already has the overlay's size; with
  // borders it was scaled inside them, so the file is loaded again.
  if (!shownWithBorders) {
    overlayLoaded = overlayPicture.CopyFrom(mainPicture);
    if (done) done(overlayLoaded);
    return;
  }
  LoadOverlay([this, done = std::move(done)](const PictureOutcome& outcome) {
    if (outcome.status == PartStatus::Superseded) return;
    overlayLoaded = outcome.shown();
    if (done) done(overlayLoaded);
  });
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

void PlayerCore::updateLamp() {
  if (fadeStepsLeft != 0) view_.setLamp(Lamp::Green);
  else if (connectionCount != 0) view_.setLamp(blinkPhase % 2 == 0 ? Lamp::Red : Lamp::Amber);
  else view_.setLamp(Lamp::Grey);
}

void PlayerCore::OnTick() {
  if (formatChanging) return;
  --secondCountdown;
  if (fadeStepsLeft == 0) queryTally(true);
  if (secondCountdown != 0) return;
  secondCountdown = kTicksPerSecond;

  connectionCount = output.ConnectionCount();
  if (fadeStepsLeft == 0) {
    if (connectionCount != 0) output.SendCurrent();
    updateLamp();
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
    if (fadeStepsLeft == 0) updateLamp();
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
  if (fadeStepsLeft == 0) updateLamp();
}

void PlayerCore::DropSplash() {
  if (!splashPending) return;
  mainPicture.SetAlpha(0);
  RenderAndSend();
  splashPending = false;
}

void PlayerCore::Shutdown() {
  StopLoading();
  output.Shutdown();
}

}  // namespace plombix
