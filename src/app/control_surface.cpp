#include "control_surface.h"

#include <QString>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "as_run_log.h"
#include "control_bridge.h"
#include "control_server.h"
#include "osc_server.h"
#include "plombix_dialog.h"

namespace plombix {
namespace {

using control::ControlState;

// The message types of the parts of the state, in the order they are
// published when several change at once.
struct Part {
  const char* type;
  bool (*differs)(const ControlState& a, const ControlState& b);
};

constexpr Part kParts[] = {
    {"picture", [](const ControlState& a, const ControlState& b) { return a.picture != b.picture; }},
    {"loading", [](const ControlState& a, const ControlState& b) { return a.busy != b.busy; }},
    {"slideshowNumber",
     [](const ControlState& a, const ControlState& b) { return a.slideshow.current != b.slideshow.current; }},
    {"slideshowMode", [](const ControlState& a, const ControlState& b) { return a.slideshow.mode != b.slideshow.mode; }},
    {"slideshowRange",
     [](const ControlState& a, const ControlState& b) {
       return a.slideshow.start != b.slideshow.start || a.slideshow.end != b.slideshow.end ||
              a.slideshow.numberFormat != b.slideshow.numberFormat ||
              a.slideshow.durationSecs != b.slideshow.durationSecs;
     }},
    {"output",
     [](const ControlState& a, const ControlState& b) {
       return a.output != b.output || a.instance != b.instance || a.source != b.source;
     }},
    {"background",
     [](const ControlState& a, const ControlState& b) { return a.background != b.background || a.colours != b.colours; }},
    {"scaling", [](const ControlState& a, const ControlState& b) { return a.scaling != b.scaling; }},
    {"borders", [](const ControlState& a, const ControlState& b) { return a.borders != b.borders; }},
    {"transition", [](const ControlState& a, const ControlState& b) { return a.transition != b.transition; }},
    {"range", [](const ControlState& a, const ControlState& b) { return a.range != b.range; }},
    {"watch", [](const ControlState& a, const ControlState& b) { return a.watch != b.watch; }},
    {"overlay", [](const ControlState& a, const ControlState& b) { return a.overlay != b.overlay; }},
    {"receivers", [](const ControlState& a, const ControlState& b) { return a.receivers != b.receivers; }},
    {"tally", [](const ControlState& a, const ControlState& b) { return a.tally != b.tally; }},
    {"osc", [](const ControlState& a, const ControlState& b) { return a.oscIgnored != b.oscIgnored; }},
};

}  // namespace

ControlSurface::ControlSurface(CNDIPlombixDlg& window, control::ControlHost& host, Post post)
    : window_(window), host_(host), post_(std::move(post)) {}

ControlSurface::~ControlSurface() { stop(); }

void ControlSurface::startAsRun(const std::string& folder, int copyNumber) {
  if (folder.empty() || asRun_) return;
  AsRunLog::Options options;
  options.folder = folder;
  options.copyNumber = copyNumber;
  // On the writer's thread: the window says it, once, in its picture label.
  options.onFailure = [post = post_, this](const std::string& message) {
    post([this, message] { window_.showNotice(QStringLiteral("As-run log: "), QString::fromStdString(message)); });
  };
  asRun_ = AsRunLog::Start(std::move(options));
}

bool ControlSurface::startOsc(const control::OscSettings& settings, std::string* error) {
  osc_ = control::OscServer::Start(
      settings,
      [post = post_, this](const control::OscCommand& command) { post([this, command] { onOsc(command); }); },
      error);
  return osc_ != nullptr;
}

int ControlSurface::oscPort() const { return osc_ ? osc_->port() : 0; }

uint64_t ControlSurface::oscIgnored() const { return osc_ ? osc_->ignored() : 0; }

void ControlSurface::attach(control::ControlServer* server) {
  server_ = server;
  last_ = host_.state();  // the server publishes it first
}

void ControlSurface::stop() {
  osc_.reset();
  server_ = nullptr;
  asRun_.reset();
}

void ControlSurface::publish(const char* type, const ControlState& state, const std::string& field,
                             const std::string& value) {
  last_ = state;
  if (!server_) return;
  if (field.empty()) server_->publish(type, state);
  else server_->publish(type, state, {{field, value}});
}

void ControlSurface::onAir(const char* trigger, const PictureOutcome& outcome) {
  if (asRun_) {
    const PlayerCore& core = window_.core;
    AsRunEntry entry;
    entry.time = AsRunClock::now();
    entry.path = outcome.path;
    entry.outputWidth = core.output.outputWidth;
    entry.outputHeight = core.output.outputHeight;
    entry.frameRateN = core.output.frameRateN;
    entry.frameRateD = core.output.frameRateD;
    entry.trigger = trigger;
    entry.fade = window_.config.live.fadeOn != 0;
    asRun_->append(std::move(entry));  // queued: hashing and writing happen on the log's thread
  }
  loadingSaid_ = false;
  announce("picture", "trigger", trigger);
}

void ControlSurface::loading() {
  // Said again for each file a step tries: one message until the load ends.
  if (loadingSaid_) return;
  loadingSaid_ = true;
  announce("loading");
}

void ControlSurface::loadFailed(const std::string& reason) {
  loadingSaid_ = false;
  announce("loadFailed", "reason", reason);
}

void ControlSurface::announce(const char* type, const std::string& field, const std::string& value) {
  const ControlState state = host_.state();
  publishChanges(state, type);  // what else changed with it (the slideshow's number, ...) first
  publish(type, state, field, value);
}

void ControlSurface::poll() {
  const ControlState state = host_.state();
  if (!state.busy) loadingSaid_ = false;  // a load that ended without a message of its own (a re-show)
  if (state != last_) publishChanges(state, nullptr);
}

void ControlSurface::publishChanges(const ControlState& state, const char* except) {
  const ControlState before = last_;
  // An announced picture or failure also ends the loading: its own message says so.
  for (const Part& part : kParts)
    if ((!except || (std::strcmp(part.type, except) != 0 && std::strcmp(part.type, "loading") != 0)) &&
        part.differs(before, state))
      publish(part.type, state);
  last_ = state;
}

void ControlSurface::frameSent(const uint8_t* pixels, int width, int height, int strideBytes) {
  // The tick shows the frame in flight again while receivers are connected:
  // it keeps its number, so its thumbnails stay. A new frame is never at the
  // last one's address, since new content only goes into the frame not in flight.
  if (pixels == frame_.pixels && width == frame_.width && height == frame_.height && strideBytes == frame_.strideBytes)
    return;
  frame_ = {pixels, width, height, strideBytes, frame_.generation + 1};
}

void ControlSurface::onOsc(const control::OscCommand& c) {
  using Kind = control::OscCommand::Kind;
  auto ignore = [](control::HostOutcome) {};
  switch (c.kind) {
    case Kind::Show: host_.show(c.path, ignore); break;
    case Kind::Step: (void)host_.step(c.step); break;
    case Kind::Goto: (void)host_.gotoNumber(c.number); break;
    case Kind::Transition: (void)host_.setTransition(c.transition); break;
    case Kind::Background: (void)host_.setBackground({c.background, std::nullopt}); break;
    case Kind::Cue: host_.cue(c.path, ignore); break;
    case Kind::Take: host_.take(ignore); break;
  }
  poll();
}

}  // namespace plombix

namespace plombix {

void CNDIPlombixDlg::startRemoteControl() {
  const int copy = instanceNumber + 1;
  const std::string asRunFolder = instanceAcquired_ ? AsRunFolderFromEnvironment() : std::string();
  surface_->startAsRun(asRunFolder, copy);

  const bool testing = options_->control.has_value();
  control::ControlSettings settings = testing ? *options_->control : control::ControlSettingsFromEnvironment(copy);
  if (settings.enabled) {
    if (surface_->asRunLog()) settings.asRunFile = AsRunFile(asRunFolder, copy);
    std::string error;
    controlServer_ = control::ControlServer::Start(
        settings, *bridge_,
        [this](std::function<void()> task) {
          // Each request's change reaches the event clients as soon as it is made.
          QMetaObject::invokeMethod(
              this,
              [this, task = std::move(task)] {
                task();
                surface_->poll();
              },
              Qt::QueuedConnection);
        },
        &error);
    if (controlServer_)
      std::fprintf(stderr, "plombix: remote control at %s\n", controlServer_->url().c_str());
    else
      std::fprintf(stderr, "plombix: remote control off: %s\n", error.c_str());
  } else if (!settings.reason.empty()) {
    std::fprintf(stderr, "plombix: remote control off: %s\n", settings.reason.c_str());
  }
  surface_->attach(controlServer_.get());

  // OSC: from the environment like the HTTP port; tests that give their own
  // settings get it on the same address, on any free port.
  control::OscSettings osc;
  if (testing) {
    osc.enabled = settings.enabled;
    osc.bindAddress = settings.bindAddress;
    osc.token = settings.token;
  } else {
    osc = control::OscSettingsFor(copy, [](const char* name) { return std::getenv(name); });
  }
  std::string error;
  if (!osc.enabled) {
    if (!testing && !osc.reason.empty()) std::fprintf(stderr, "plombix: OSC off: %s\n", osc.reason.c_str());
  } else if (surface_->startOsc(osc, &error)) {
    std::fprintf(stderr, "plombix: OSC on %s port %d\n", osc.bindAddress.c_str(), surface_->oscPort());
  } else {
    std::fprintf(stderr, "plombix: OSC off: %s\n", error.c_str());
  }
}

int CNDIPlombixDlg::oscPort() const { return surface_ ? surface_->oscPort() : 0; }

}  // namespace plombix
