// ControlBridge: the main window's side of the remote-control API. Each
// command goes through the handler of the window control that does the same
// (a menu entry, a button, a drop), so the window, the settings file and the
// output stay the same whichever way a command came. Called only on the
// window's thread (the server posts every command there).
#pragma once

#include "control_host.h"

namespace plombix {

class CNDIPlombixDlg;

class ControlBridge final : public control::ControlHost {
 public:
  explicit ControlBridge(CNDIPlombixDlg& window) : window_(window) {}

  control::ControlState state() const override;
  void show(const std::string& path, control::HostCompletion done) override;
  void loadOverlay(const std::string& path, control::HostCompletion done) override;
  void cue(const std::string& path, control::HostCompletion done) override;
  void take(control::HostCompletion done) override;
  control::HostOutcome forgetCue() override;
  control::HostOutcome step(control::Step step) override;
  void stepOnAir(control::Step step, control::HostCompletion done) override;
  void setOutputOnAir(const control::OutputChange& change, control::HostCompletion done) override;
  control::HostOutcome setOutput(const control::OutputChange& change) override;
  control::HostOutcome setBackground(const control::BackgroundChange& change) override;
  control::HostOutcome setScaling(control::Scaling mode) override;
  control::HostOutcome setTransition(control::Transition mode) override;
  control::HostOutcome setRange(control::Range mode) override;
  control::HostOutcome setWatch(bool on) override;
  control::HostOutcome grab() override;
  control::HostOutcome setOverlayUse(bool use) override;
  control::HostOutcome setSlideshow(const control::SlideshowChange& change) override;
  control::HostOutcome markSlideshowStart() override;
  control::HostOutcome markSlideshowEnd() override;
  control::HostOutcome gotoNumber(int number) override;
  control::HostOutcome setBorders(const control::BorderChange& change) override;
  void grabOverlay(control::HostCompletion done) override;
  control::HostOutcome saveConfig() override;
  control::FrameView frameOnAir() const override;
  control::FrameView frameCued() const override;

 private:
  // NotPossibleNow with the reason when the output failed to start.
  bool outputFailed(control::HostOutcome* outcome) const;

  CNDIPlombixDlg& window_;
};

}  // namespace plombix
