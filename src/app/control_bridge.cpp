#include "control_bridge.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QLineEdit>

#include "colour_picker_button.h"
#include "config_file.h"
#include "control_surface.h"
#include "plombix_dialog.h"
#include "preview_frame.h"
#include "step_controls.h"

namespace plombix {
namespace {

using control::HostOutcome;

HostOutcome NotPossible(std::string reason) {
  return HostOutcome{HostOutcome::Kind::NotPossibleNow, std::move(reason)};
}

// A show or overlay load as the client hears it.
HostOutcome OutcomeOf(const PictureOutcome& outcome, const char* what) {
  switch (outcome.status) {
    case PartStatus::Done:
    case PartStatus::NotAsked: return HostOutcome::done();
    case PartStatus::Superseded: return NotPossible("replaced by a newer request");
    case PartStatus::Failed: break;
  }
  const std::string reason =
      std::string(what) + FileNameOf(outcome.path) + ": " + DecodeErrorText(outcome.error);
  return HostOutcome{outcome.error == DecodeError::NotFound ? HostOutcome::Kind::NotFound
                                                             : HostOutcome::Kind::DoesNotDecode,
                     reason};
}

control::Background BackgroundOf(int mode) {
  switch (mode) {
    case 0: return control::Background::Black;
    case 1: return control::Background::White;
    case 12: return control::Background::Grad2;
    case 13: return control::Background::Grad3;
    case 14: return control::Background::Grad4;
    case 15: return control::Background::Grad5;
    case 16: return control::Background::Grad6;
    case 20: return control::Background::Grabbed;
    case 30: return control::Background::Transparent;
    default: return control::Background::Grad1;  // 10 and 11 draw the same fill
  }
}

int BackgroundModeOf(control::Background background) {
  switch (background) {
    case control::Background::Black: return 0;
    case control::Background::White: return 1;
    case control::Background::Grad1: return 11;
    case control::Background::Grad2: return 12;
    case control::Background::Grad3: return 13;
    case control::Background::Grad4: return 14;
    case control::Background::Grad5: return 15;
    case control::Background::Grad6: return 16;
    case control::Background::Grabbed: return 20;
    case control::Background::Transparent: return 30;
  }
  return 11;
}

}  // namespace

bool ControlBridge::outputFailed(HostOutcome* outcome) const {
  if (!window_.startupFailed) return false;
  *outcome = NotPossible("the output failed to start");
  return true;
}

control::ControlState ControlBridge::state() const {
  const CNDIPlombixDlg& w = window_;
  const ViewerConfig& live = w.config.live;
  const PlayerCore& core = w.core;
  control::ControlState s;
  s.instance = w.instanceAcquired_ ? w.instanceNumber + 1 : 0;
  s.source = w.sourceName();
  s.output = {core.output.outputWidth, core.output.outputHeight, core.output.frameRateN,
              core.output.frameRateD, !core.output.noAlphaOutput};
  s.background = BackgroundOf(core.backgroundMode);
  s.colours = {core.fillColour[0] & 0xFFFFFF, core.fillColour[1] & 0xFFFFFF};
  // A mode no radio has scales nothing: it is None.
  s.scaling = live.scalingMode == 1   ? control::Scaling::Contain
              : live.scalingMode == 2 ? control::Scaling::Fill
                                      : control::Scaling::None;
  s.range = live.limitedRange ? control::Range::Video : control::Range::Full;
  s.transition = live.fadeOn ? control::Transition::Fade : control::Transition::Cut;
  s.watch = w.watch.on();
  if (!core.onAirPath.empty())
    s.picture = control::PictureState{core.onAirPath, core.mainPicture.sourceWidth,
                                      core.mainPicture.sourceHeight, core.onAirColourProfile};
  s.overlay = {w.config.overlayName, live.overlayOn != 0};
  const SlideshowState& show = live.slideshow;
  s.slideshow.mode = show.mode == 2   ? control::SlideshowMode::Auto
                     : show.mode == 1 ? control::SlideshowMode::Manual
                                      : control::SlideshowMode::Off;
  s.slideshow.start = show.startNumber;
  s.slideshow.end = show.endNumber;
  s.slideshow.current = show.currentNumber;
  s.slideshow.numberFormat = show.numberFormat;
  s.slideshow.durationSecs = show.durationSecs;
  s.receivers = core.connectionCount;
  s.tally = core.tallyState == TallyProgram   ? control::Tally::Program
            : core.tallyState == TallyPreview ? control::Tally::Preview
                                              : control::Tally::None;
  s.busy = core.busy();
  s.cued = core.cuedPath();
  s.borders = {live.borderSidesPct, live.borderTopBottomPct, live.borderEqual != 0, live.borderUse != 0};
  if (w.surface_) s.oscIgnored = w.surface_->oscIgnored();
  return s;
}

void ControlBridge::show(const std::string& path, control::HostCompletion done) {
  HostOutcome refused;
  if (outputFailed(&refused)) {
    done(refused);
    return;
  }
  window_.ShowFile(
      path, [done = std::move(done)](const PictureOutcome& outcome) { done(OutcomeOf(outcome, "Cannot show ")); },
      "api");
}

void ControlBridge::loadOverlay(const std::string& path, control::HostCompletion done) {
  HostOutcome refused;
  if (outputFailed(&refused)) {
    done(refused);
    return;
  }
  window_.LoadOverlayFile(path, [done = std::move(done)](const PictureOutcome& outcome) {
    done(OutcomeOf(outcome, "Cannot load overlay "));
  });
}

void ControlBridge::cue(const std::string& path, control::HostCompletion done) {
  HostOutcome refused;
  if (outputFailed(&refused)) {
    done(refused);
    return;
  }
  window_.core.Cue(path, [done = std::move(done)](const PictureOutcome& outcome) {
    done(OutcomeOf(outcome, "Cannot cue "));
  });
}

void ControlBridge::take(control::HostCompletion done) {
  HostOutcome refused;
  if (outputFailed(&refused)) {
    done(refused);
    return;
  }
  // Taken, the picture is the operator's shown file, as after a drop.
  auto taken = [this, done](const PictureOutcome& outcome) {
    if (outcome.shown()) {
      window_.config.imagePath.assign(outcome.path);
      window_.rememberShown(outcome.path);
      if (window_.surface_) window_.surface_->onAir("take", outcome);
    }
    done(OutcomeOf(outcome, "Cannot take "));
  };
  if (!window_.core.Take(std::move(taken))) done(NotPossible("nothing is cued"));
}

HostOutcome ControlBridge::forgetCue() {
  window_.core.ForgetCue();
  return HostOutcome::done();
}

HostOutcome ControlBridge::step(control::Step step) {
  HostOutcome refused;
  if (outputFailed(&refused)) return refused;
  if (window_.config.live.slideshow.mode == 0) return NotPossible("the slideshow is off");
  switch (step) {
    case control::Step::Next: window_.onStep(StepNext, "api"); break;
    case control::Step::Previous: window_.onStep(StepPrevious, "api"); break;
    case control::Step::First: window_.onStep(StepFirst, "api"); break;
    case control::Step::Last: window_.onStep(StepLast, "api"); break;
  }
  return HostOutcome::done();
}

void ControlBridge::stepOnAir(control::Step which, control::HostCompletion done) {
  const HostOutcome outcome = step(which);
  if (!outcome.ok()) {
    done(outcome);
    return;
  }
  window_.core.WhenLoaded([done = std::move(done)] { done(HostOutcome::done()); });
}

void ControlBridge::setOutputOnAir(const control::OutputChange& change, control::HostCompletion done) {
  const HostOutcome outcome = setOutput(change);
  if (!outcome.ok()) {
    done(outcome);
    return;
  }
  window_.core.WhenLoaded([done = std::move(done)] { done(HostOutcome::done()); });
}

HostOutcome ControlBridge::setOutput(const control::OutputChange& change) {
  HostOutcome refused;
  if (outputFailed(&refused)) return refused;
  if (change.size) {
    for (const ResolutionEntry& entry : ResolutionEntries())
      if (entry.width == change.size->first && entry.height == change.size->second) {
        window_.onResolutionChosen(entry.id);
        break;
      }
  }
  if (change.frameRate) {
    for (const FrameRateEntry& entry : FrameRateEntries())
      if (entry.frameRateN == change.frameRate->first &&
          entry.frameRateD == change.frameRate->second) {
        window_.onFrameRateChosen(entry.id);
        break;
      }
  }
  if (change.alpha && *change.alpha == window_.core.output.noAlphaOutput)
    window_.OnSysCommand(IDM_NOALPHA);  // toggles, as the menu item does
  return HostOutcome::done();
}

HostOutcome ControlBridge::setBackground(const control::BackgroundChange& change) {
  HostOutcome refused;
  if (outputFailed(&refused)) return refused;
  if (change.colours) {
    for (int which : {0, 1}) {
      const uint32_t rgb = (*change.colours)[size_t(which)] & 0xFFFFFF;
      if ((window_.core.fillColour[which] & 0xFFFFFF) == rgb &&
          window_.core.fillColour[which] >> 24 == 0)
        continue;
      window_.pickColour(which, rgb);
    }
  }
  if (change.mode) {
    const int mode = BackgroundModeOf(*change.mode);
    for (const BackgroundEntry& entry : BackgroundEntries())
      if (entry.menuText && entry.backgroundMode == mode) {
        window_.onBackgroundChosen(entry.id);
        break;
      }
  }
  return HostOutcome::done();
}

HostOutcome ControlBridge::setScaling(control::Scaling mode) {
  const int index = mode == control::Scaling::None ? 0 : mode == control::Scaling::Fill ? 2 : 1;
  if (QButtonGroup* radios = window_.built_.radioGroup(1004))
    if (QAbstractButton* radio = radios->button(index)) radio->setChecked(true);
  window_.onScalingClicked(index);
  return HostOutcome::done();
}

HostOutcome ControlBridge::setTransition(control::Transition mode) {
  if ((window_.config.live.fadeOn != 0) != (mode == control::Transition::Fade))
    window_.onCutFadeClicked();
  return HostOutcome::done();
}

HostOutcome ControlBridge::setRange(control::Range mode) {
  HostOutcome refused;
  if (outputFailed(&refused)) return refused;
  if ((window_.config.live.limitedRange != 0) != (mode == control::Range::Video))
    window_.onRangeClicked();
  return HostOutcome::done();
}

HostOutcome ControlBridge::setWatch(bool on) {
  if (window_.watch.on() != on)
    window_.watch.ToggleWatch(window_.config.live.watchOn, window_.config.currentFileName);
  return HostOutcome::done();
}

HostOutcome ControlBridge::grab() {
  HostOutcome refused;
  if (outputFailed(&refused)) return refused;
  window_.core.Grab();
  return HostOutcome::done();
}

HostOutcome ControlBridge::setOverlayUse(bool use) {
  if (use && !window_.core.overlayLoaded) return NotPossible("no overlay is loaded");
  window_.built_.as<QCheckBox>(1066)->setChecked(use);
  window_.onOverlayUseClicked();
  return HostOutcome::done();
}

HostOutcome ControlBridge::setSlideshow(const control::SlideshowChange& change) {
  HostOutcome refused;
  if (outputFailed(&refused)) return refused;
  if (change.durationSecs) {
    window_.built_.as<QLineEdit>(1074)->setText(QString::number(*change.durationSecs));
    window_.onDurationEditDone();
  }
  if (change.numberFormat) {
    if (QButtonGroup* radios = window_.built_.radioGroup(1007))
      if (QAbstractButton* radio = radios->button(*change.numberFormat)) radio->setChecked(true);
    window_.onNumberFormatClicked(*change.numberFormat);
  }
  if (change.mode) {
    // The slideshow button steps off -> by hand -> automatic -> off.
    const int wanted = int(*change.mode);
    for (int press = 0; press < 3 && window_.config.live.slideshow.mode != wanted; ++press)
      window_.slideshow.OnSlideshowClicked();
    if (window_.config.live.slideshow.mode != wanted)
      return NotPossible(window_.slideshow.slideshowLocked ? "the slideshow waits for the start-up to end"
                                                           : "the slideshow cannot be started now");
  }
  return HostOutcome::done();
}

HostOutcome ControlBridge::markSlideshowStart() {
  if (window_.core.onAirPath.empty()) return NotPossible("no picture on air");
  window_.built_.as<QAbstractButton>(1058)->click();
  return HostOutcome::done();
}

HostOutcome ControlBridge::markSlideshowEnd() {
  if (window_.core.onAirPath.empty()) return NotPossible("no picture on air");
  window_.built_.as<QAbstractButton>(1059)->click();
  return HostOutcome::done();
}

HostOutcome ControlBridge::gotoNumber(int number) {
  HostOutcome refused;
  if (outputFailed(&refused)) return refused;
  SlideshowState& show = window_.config.live.slideshow;
  if (show.mode == 0) return NotPossible("the slideshow is off");
  if (number < show.startNumber || number > show.endNumber)
    return HostOutcome{HostOutcome::Kind::DoesNotDecode,
                       "no number " + std::to_string(number) + " in the sequence (" +
                           std::to_string(show.startNumber) + " to " + std::to_string(show.endNumber) + ")"};
  // A Next from the number before lands on it (or on the next file there is).
  show.currentNumber = static_cast<uint8_t>(number - 1);
  window_.onStep(StepNext, "api");
  return HostOutcome::done();
}

HostOutcome ControlBridge::setBorders(const control::BorderChange& change) {
  HostOutcome refused;
  if (outputFailed(&refused)) return refused;
  const std::pair<int, const std::optional<int>*> edits[] = {{1062, &change.sides}, {1063, &change.topBottom}};
  for (const auto& [id, value] : edits)
    if (*value) {
      window_.built_.as<QLineEdit>(id)->setText(QString::number(**value));
      window_.onBorderEditDone(id);
    }
  if (change.equal) {
    window_.built_.as<QCheckBox>(1019)->setChecked(*change.equal);
    window_.onBorderEqualClicked();
  }
  if (change.use) {
    window_.built_.as<QCheckBox>(1020)->setChecked(*change.use);
    window_.onBorderUseClicked();
  }
  return HostOutcome::done();
}

void ControlBridge::grabOverlay(control::HostCompletion done) {
  HostOutcome refused;
  if (outputFailed(&refused)) return done(refused);
  if (window_.core.onAirPath.empty()) return done(NotPossible("no picture on air"));
  CNDIPlombixDlg& w = window_;
  w.core.GrabOverlay([&w, done = std::move(done)](bool loaded) {
    if (loaded) w.setLabel(1068, QString::fromStdString(w.config.overlayName));
    done(loaded ? HostOutcome::done() : NotPossible("the picture on air could not become the overlay"));
  });
}

HostOutcome ControlBridge::saveConfig() {
  // "Save config now" without its confirmation box: nobody may be at the screen.
  if (!window_.instanceAcquired_) return NotPossible("this copy has no settings file of its own");
  const ConfigState& c = window_.config;
  const SaveResult result = SaveConfigFile(window_.configPath(), c.live, c.imagePath, c.overlayPath, c.slideshowPath);
  if (result.ok()) return HostOutcome::done();
  const char* text = SaveErrorText(result.error);
  return NotPossible(text ? text : "the settings could not be saved");
}

control::FrameView ControlBridge::frameCued() const {
  const PreparedPicture* cued = window_.core.cuedPicture();
  if (!cued || !cued->pixels) return {};
  // A cued picture is new whenever its pixels are: their address, size and
  // file tell it from the one before.
  const uint64_t generation = uint64_t(reinterpret_cast<uintptr_t>(cued->pixels.get())) ^
                              (uint64_t(cued->width) << 48) ^ (uint64_t(cued->height) << 32) ^
                              std::hash<std::string>{}(cued->filePath);
  return {cued->pixels.get(), cued->width, cued->height, cued->width * 4, generation};
}

control::FrameView ControlBridge::frameOnAir() const {
  if (window_.core.onAirPath.empty() || !window_.surface_) return {};
  return window_.surface_->frameOnAir();
}

}  // namespace plombix
