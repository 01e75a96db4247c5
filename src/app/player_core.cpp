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

LoadJob PlayerCore::jobFor(const PendingJob& pending, const Layout& layout) const {
  LoadJob job;
  if (!pending.overlayPath.empty())
    job.overlay = request(pending.overlayPath, PictureRole::Overlay, layout);
  for (const std::string& path : pending.shownPaths)
    job.shownCandidates.push_back(request(path, PictureRole::Shown, layout));
  return job;
}

uint64_t PlayerCore::submit(const Layout& layout, PendingJob pending) {
  if (!loader_) return 0;
  LoadJob job = jobFor(pending, layout);
  if (!job.shownCandidates.empty())
    view_.showLoading(FileNameOf(job.shownCandidates.front().path));
  const bool overlay = job.overlay.has_value();
  const bool shown = !job.shownCandidates.empty();
  const bool check = !job.checkPaths.empty();
  const uint64_t ticket = loader_->Submit(std::move(job));
  if (overlay) latestOverlayTicket_ = ticket;
  if (shown) latestShownTicket_ = ticket;
  if (check) latestCheckTicket_ = ticket;
  pendingJobs_.emplace(ticket, std::move(pending));
  return ticket;
}

void PlayerCore::takeOverRequests(PendingJob& into, bool overlay) {
  // The newest request of a part is the one its latest ticket names; once
  // applied it is on air and its name is in the settings.
  const auto waiting = pendingJobs_.find(latestShownTicket_);
  if (waiting != pendingJobs_.end() && !waiting->second.shownPaths.empty()) {
    into.shownPaths = waiting->second.shownPaths;
    into.keepOffAir = std::move(waiting->second.keepOffAir);
    into.shownListeners = std::move(waiting->second.shownListeners);
    waiting->second.shownListeners.clear();
  } else if (!config_.currentFileName.empty()) {
    into.shownPaths = {config_.currentFileName};
  }
  if (!overlay) return;
  const auto overlayWaiting = pendingJobs_.find(latestOverlayTicket_);
  if (overlayWaiting != pendingJobs_.end() && !overlayWaiting->second.overlayPath.empty()) {
    into.overlayPath = overlayWaiting->second.overlayPath;
    into.overlayListeners = std::move(overlayWaiting->second.overlayListeners);
    overlayWaiting->second.overlayListeners.clear();
  } else {
    into.overlayPath = config_.overlayName;
  }
}

bool PlayerCore::reloadIfStale(const PictureJobResult& result, PendingJob& pending) {
  const auto stale = [this](const PrepareRequest& request) {
    return request.outputWidth != output.outputWidth || request.outputHeight != output.outputHeight;
  };
  const bool shownStale = result.shownStatus == PartStatus::Done &&
                          stale(result.job.shownCandidates[size_t(result.shownIndex)]);
  const bool overlayStale = result.overlayStatus == PartStatus::Done && stale(*result.job.overlay);
  if (!shownStale && !overlayStale) return false;
  // Prepared for a size the output no longer has: load the same files again
  // for the present one.
  submit(expectedLayout(), std::move(pending));
  return true;
}

void PlayerCore::ApplyLoads() {
  if (!loader_) return;
  for (PictureJobResult& result : loader_->TakeResults()) {
    if (result.job.background) {
      applyBackground(result);
      continue;
    }
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
    if (!job.resizes && reloadIfStale(result, job)) continue;
    const Applied applied = job.apply ? job.apply(result) : Applied{};
    for (const PictureDone& done : job.overlayListeners)
      if (done) done(applied.overlay);
    for (const PictureDone& done : job.shownListeners)
      if (done) done(applied.shown);
  }
  if (!busy() && !loadedWaiters_.empty()) {
    for (const std::function<void()>& then : std::exchange(loadedWaiters_, {})) then();
  }
}

void PlayerCore::WhenLoaded(std::function<void()> then) {
  if (!busy()) then();
  else loadedWaiters_.push_back(std::move(then));
}

void PlayerCore::WaitForLoads() {
  while (loader_ && busy()) {
    loader_->WaitIdle();
    ApplyLoads();
  }
}

void PlayerCore::WaitForLoader() {
  if (loader_) loader_->WaitIdle();
}

void PlayerCore::StopLoading() {
  loader_.reset();
  pendingJobs_.clear();
  loadedWaiters_.clear();
}

PictureOutcome PlayerCore::applyShown(PictureJobResult& result, bool send, bool borderUse,
                                      const std::function<bool()>& keepOffAir) {
  PictureOutcome outcome;
  outcome.status = result.shownStatus;
  // Overtaken after it had loaded: which candidate loaded is still told.
  if (result.shownStatus == PartStatus::Superseded && result.shown.ok()) outcome.index = result.shownIndex;
  if (result.shownStatus == PartStatus::NotAsked || result.shownStatus == PartStatus::Superseded)
    return outcome;
  outcome.path = result.shown.filePath;
  outcome.error = result.shown.error;
  outcome.index = result.shownIndex;
  outcome.stamp = result.shownStamp;
  if (result.shownStatus != PartStatus::Done || !result.shown.ok()) {
    // Nothing changes: the picture on air keeps its pixels and its names.
    outcome.status = PartStatus::Failed;
    if (!outcome.path.empty())
      view_.showLoadFailure(LoadKind::Picture, FileNameOf(outcome.path),
                            DecodeErrorText(outcome.error));
    lastShowOutcome = outcome;
    return outcome;
  }
  if (keepOffAir && keepOffAir()) {
    outcome.held = true;
    return outcome;
  }
  // The picture leaving the air may be a neighbour of the next one.
  if (onAirRequest_ && !onAirPath.empty() && mainPicture.pixelData && mainPicture.filePath == onAirPath) {
    PreparedPicture leaving;
    leaving.fileName = mainPicture.fileName;
    leaving.filePath = mainPicture.filePath;
    leaving.sourceWidth = mainPicture.sourceWidth;
    leaving.sourceHeight = mainPicture.sourceHeight;
    leaving.sourceBitsPerPixel = mainPicture.sourceBitsPerPixel;
    leaving.colourProfile = onAirColourProfile;
    leaving.width = mainPicture.width;
    leaving.height = mainPicture.height;
    leaving.placeWidth = mainPicture.placeWidth;
    leaving.placeHeight = mainPicture.placeHeight;
    leaving.windowLeft = mainPicture.windowLeft;
    leaving.windowTop = mainPicture.windowTop;
    leaving.pixels = std::move(mainPicture.pixelData);
    prepared_.Keep(*onAirRequest_, std::move(leaving), onAirStamp_);
  }
  onAirRequest_ = result.job.shownCandidates[size_t(result.shownIndex)];
  onAirStamp_ = result.shownStamp;
  const int loadedWidth = result.shown.sourceWidth;
  const int loadedHeight = result.shown.sourceHeight;
  std::string colourProfile = result.shown.colourProfile;
  (void)mainPicture.AdoptPrepared(std::move(result.shown));
  splashPending = false;
  onAirPath = outcome.path;
  onAirColourProfile = std::move(colourProfile);
  config_.currentFileName = outcome.path;
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
  view_.pictureShown(outcome);
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
  if (result.overlayStatus != PartStatus::Done || !result.overlay.ok()) {
    // The overlay on air and its name stay as they were.
    outcome.status = PartStatus::Failed;
    if (!outcome.path.empty())
      view_.showLoadFailure(LoadKind::Overlay, FileNameOf(outcome.path),
                            DecodeErrorText(outcome.error));
    return outcome;
  }
  (void)overlayPicture.AdoptPrepared(std::move(result.overlay));
  config_.overlayName = outcome.path;
  overlayLoaded = true;
  splashPending = false;
  return outcome;
}

PlayerCore::PendingJob PlayerCore::showJob(PendingJob pending) {
  const bool borderUse = config_.live.borderUse != 0;
  pending.apply = [this, borderUse, keepOffAir = pending.keepOffAir](PictureJobResult& result) {
    Applied applied;
    applied.shown = applyShown(result, true, borderUse, keepOffAir);
    // Loaded but kept off air or overtaken: ready for a later step.
    if (result.shown.ok() && result.shown.pixels && result.shownIndex >= 0)
      prepared_.Keep(result.job.shownCandidates[size_t(result.shownIndex)], std::move(result.shown),
                     result.shownStamp);
    return applied;
  };
  return pending;
}

void PlayerCore::ShowPicture(const std::string& path, PictureDone done) {
  ShowFirstOf({path}, std::move(done));
}

void PlayerCore::ShowFirstOf(std::vector<std::string> paths, PictureDone done,
                             std::function<bool()> keepOffAir) {
  PendingJob pending;
  pending.shownPaths = std::move(paths);
  pending.keepOffAir = std::move(keepOffAir);
  pending.shownListeners.push_back(std::move(done));
  const Layout layout = expectedLayout();
  if (loader_ && !resolutionPending_) {
    if (std::optional<PreparedHit> hit = prepared_.Take(
            pending.shownPaths, request({}, PictureRole::Shown, layout), ReadFileStamp)) {
      postPrepared(showJob(std::move(pending)), layout, std::move(*hit));
      return;
    }
  }
  submit(layout, showJob(std::move(pending)));
}

void PlayerCore::ReShow(PictureDone done) {
  PendingJob pending;
  takeOverRequests(pending, false);
  if (pending.shownPaths.empty()) return;
  pending.shownListeners.push_back(std::move(done));
  submit(expectedLayout(), showJob(std::move(pending)));
}

void PlayerCore::LoadOverlay(const std::string& path, PictureDone done) {
  PendingJob pending;
  pending.overlayPath = path;
  pending.overlayListeners.push_back(std::move(done));
  pending.apply = [this](PictureJobResult& result) {
    Applied applied;
    applied.overlay = applyOverlay(result);
    return applied;
  };
  submit(expectedLayout(), std::move(pending));
}

void PlayerCore::CheckFiles(std::vector<std::string> paths, std::function<void(PartStatus)> done) {
  if (!loader_) return;
  LoadJob job;
  job.checkPaths = std::move(paths);
  const uint64_t ticket = loader_->Submit(std::move(job));
  latestCheckTicket_ = ticket;
  PendingJob pending;
  pending.apply = [done = std::move(done)](PictureJobResult& result) {
    if (done) done(result.checkStatus);
    return Applied{};
  };
  pendingJobs_.emplace(ticket, std::move(pending));
}

void PlayerCore::RestorePictures(
    const std::string& picture,
    std::function<void(const PictureOutcome& overlay, const PictureOutcome& shown)> done) {
  PendingJob pending;
  pending.overlayPath = config_.overlayName;
  if (!picture.empty()) pending.shownPaths = {picture};
  const bool borderUse = config_.live.borderUse != 0;
  pending.apply = [this, borderUse, done = std::move(done)](PictureJobResult& result) {
    Applied applied;
    applied.overlay = applyOverlay(result);
    applied.shown = applyShown(result, true, borderUse, {});
    if (done) done(applied.overlay, applied.shown);
    return applied;
  };
  submit(expectedLayout(), std::move(pending));
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

  // The overlay and the picture (those still loading, else those on air)
  // are loaded again for the new size first; the output changes when they
  // are ready.
  PendingJob pending;
  takeOverRequests(pending, true);
  pending.resizes = true;
  const bool borderUse = config_.live.borderUse != 0;
  pending.apply = [this, width, height, borderUse](PictureJobResult& result) {
    Applied applied;
    if (result.ticket != latestResolutionTicket_) return applied;  // a later choice does it
    resolutionPending_ = false;
    formatChanging = true;  // the 40 ms tick pauses meanwhile
    output.outputWidth = width;
    output.outputHeight = height;
    applied.overlay = applyOverlay(result);
    view_.enableSidesEdit(config_.live.borderEqual == 0);
    UpdateBorders(config_.live.borderUse != 0);
    applied.shown = applyShown(result, false, borderUse, {});
    ReconfigureOutput();
    formatChanging = false;
    return applied;
  };
  resolutionPending_ = true;
  pendingWidth_ = width;
  pendingHeight_ = height;
  latestResolutionTicket_ = submit(layoutFor(width, height), std::move(pending));
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
  ReShow();
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
  // Without borders the shown picture already has the overlay's size; with
  // borders it was scaled inside them, so the file is loaded again.
  if (!shownWithBorders) {
    if (!overlayPicture.CopyFrom(mainPicture)) {
      if (done) done(false);
      return;
    }
    overlayLoaded = true;
    config_.overlayName = config_.currentFileName;
    config_.overlayPath.copyPathFrom(config_.imagePath);
    if (done) done(true);
    return;
  }
  LoadOverlay(config_.currentFileName, [this, done = std::move(done)](const PictureOutcome& outcome) {
    if (outcome.status == PartStatus::Superseded) return;
    if (outcome.shown()) config_.overlayPath.copyPathFrom(config_.imagePath);
    if (done) done(outcome.shown());
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
