#include "control_bridge.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>

#include "colour_picker_button.h"
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
  return s;
}

void ControlBridge::show(const std::string& path, control::HostCompletion done) {
  HostOutcome refused;
  if (outputFailed(&refused)) {
    done(refused);
    return;
  }
  window_.ShowFile(path, [done = std::move(done)](const PictureOutcome& outcome) {
    done(OutcomeOf(outcome, "Cannot show "));
  });
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
    case control::Step::Next: window_.onStep(StepNext); break;
    case control::Step::Previous: window_.onStep(StepPrevious); break;
    case control::Step::First: window_.onStep(StepFirst); break;
    case control::Step::Last: window_.onStep(StepLast); break;
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

}  // namespace plombix
