// ControlHost: what the remote-control API asks of the player's window, and
// the plain snapshot of its state that GET /api/v1/state reports.
//
// The window implements this interface; the server (control_server.h) calls
// it only on the window's thread, through the post hook the window gives the
// server, and never waits for it on that thread. Every operation goes through
// the same handlers as the window's own controls, so the window, the settings
// file and the output stay consistent whichever way a command came.
//
// Values arrive checked: texts are already mapped to the enums and numbers
// below (resolution and frame rate as the menu entries' figures), paths are
// absolute, at most kMaxPathBytes long and free of NUL bytes. A path may
// still name anything at all (a directory, a FIFO, a device, a file that
// vanished): the window must find that out without blocking its thread (no
// open() of a FIFO on it) and answer NotFound or DoesNotDecode.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace plombix::control {

inline constexpr size_t kMaxPathBytes = 4095;

enum class Background { Black, White, Grad1, Grad2, Grad3, Grad4, Grad5, Grad6, Grabbed, Transparent };
enum class Scaling { None, Contain, Fill };
enum class Range { Full, Video };  // "0-255" / "16-235"
enum class Transition { Cut, Fade };
enum class SlideshowMode { Off, Manual, Auto };
enum class Tally { None, Program, Preview };
enum class Step { Next, Previous, First, Last };

// A colour as 0xRRGGBB (no alpha).
using Rgb = uint32_t;

struct OutputState {
  int width = 0;
  int height = 0;
  int frameRateN = 0;
  int frameRateD = 1;
  bool alpha = true;  // false while "No alpha output" is ticked
  bool operator==(const OutputState&) const = default;
};

struct PictureState {
  std::string path;  // the file on air
  int width = 0;     // its decoded size
  int height = 0;
  std::string colourProfile;  // the colour profile its file carried; empty: none
  bool operator==(const PictureState&) const = default;
};

struct OverlayState {
  std::string path;  // empty: none chosen
  bool use = false;
  bool operator==(const OverlayState&) const = default;
};

// The border sizes in per cent of the output (0..99) and their two boxes.
struct BorderState {
  int sides = 0;
  int topBottom = 0;
  bool equal = false;  // the sides follow the top and bottom
  bool use = false;
  bool operator==(const BorderState&) const = default;
};

struct SlideshowStateView {
  SlideshowMode mode = SlideshowMode::Off;
  int start = 0;
  int end = 0;
  int current = 0;
  int numberFormat = 0;  // 0, 1, 2: zero-padded width 1, 2, 3 ("1", "01", "001")
  int durationSecs = 2;
  bool operator==(const SlideshowStateView&) const = default;
};

// Every field of GET /api/v1/state.
struct ControlState {
  int instance = 0;        // the copy's number, 1..8 (0: none)
  std::string source;      // the published source name
  OutputState output;
  Background background = Background::Grad1;
  std::array<Rgb, 2> colours{0x203080, 0x000000};  // the graduated fills' two colours
  Scaling scaling = Scaling::Contain;
  Range range = Range::Full;
  Transition transition = Transition::Cut;
  bool watch = false;
  std::optional<PictureState> picture;  // nullopt: no picture of the operator's on air
  OverlayState overlay;
  SlideshowStateView slideshow;
  int receivers = 0;
  Tally tally = Tally::None;
  bool busy = false;  // a picture is being loaded
  BorderState borders;
  uint64_t oscIgnored = 0;  // OSC packets and messages ignored so far
  bool operator==(const ControlState&) const = default;
  std::string cued;   // the cued picture's file; empty: nothing cued
};

// How an operation ended. `reason` is the operator's words for a failure
// ("Cannot show NAME: reason" or the like); it becomes the error text.
struct HostOutcome {
  enum class Kind {
    Done,            // applied; for a show: the picture is on air
    NotFound,        // no such file
    DoesNotDecode,   // not a picture that can be shown (damaged, a directory, ...)
    NotPossibleNow,  // refused in the present state (output failed, slideshow off, ...)
  };
  Kind kind = Kind::Done;
  std::string reason;

  static HostOutcome done() { return {}; }
  bool ok() const { return kind == Kind::Done; }
};

// Called once, on the window's thread, when an asynchronous operation ends.
// Dropping it uncalled answers the client "not possible now".
using HostCompletion = std::function<void(HostOutcome)>;

// A change of output format; absent members stay as they are.
struct OutputChange {
  std::optional<std::pair<int, int>> size;       // width, height: a Resolution menu entry
  std::optional<std::pair<int, int>> frameRate;  // N, D: a Framerate menu entry
  std::optional<bool> alpha;                     // false: "No alpha output" ticked
};

struct BackgroundChange {
  std::optional<Background> mode;
  std::optional<std::array<Rgb, 2>> colours;
};

// A change of the borders; absent members stay as they are. Sizes arrive
// checked (0..99).
struct BorderChange {
  std::optional<int> sides;
  std::optional<int> topBottom;
  std::optional<bool> equal;
  std::optional<bool> use;
};

// The slideshow's settings; absent members stay as they are. Values arrive
// checked (format 0..2, duration 2..240).
struct SlideshowChange {
  std::optional<SlideshowMode> mode;
  std::optional<int> numberFormat;
  std::optional<int> durationSecs;
};

// The frame on air as the window last sent it, for thumbnails: 32-bit
// pixels (blue, green, red, alpha), valid until the window's next frame.
struct FrameView {
  const uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int strideBytes = 0;
  uint64_t generation = 0;  // changes with every frame sent
};

class ControlHost {
 public:
  virtual ~ControlHost() = default;

  virtual ControlState state() const = 0;

  // Shows a file as a drop does. Completes when it is on air (Done) or has
  // failed (nothing on air changed). A later show may supersede it; the
  // superseded one then completes NotPossibleNow.
  virtual void show(const std::string& path, HostCompletion done) = 0;
  // Loads the overlay picture from a file; completes as show() does.
  virtual void loadOverlay(const std::string& path, HostCompletion done) = 0;

  // Prepares a file for a later take without touching the output;
  // completes once it is ready (Done: it is the cue now) or has failed, as
  // show() does (the cue before stays).
  virtual void cue(const std::string& path, HostCompletion done) {
    (void)path;
    done({HostOutcome::Kind::NotPossibleNow, "cueing is not offered"});
  }
  // Puts the cued picture on air; completes once it is there.
  // NotPossibleNow when nothing is cued.
  virtual void take(HostCompletion done) { done({HostOutcome::Kind::NotPossibleNow, "nothing is cued"}); }
  virtual HostOutcome forgetCue() { return HostOutcome::done(); }

  // As step() and setOutput(), completing once what they asked for is on
  // air (a picture of the new size, the step's picture).
  virtual void stepOnAir(Step which, HostCompletion done) { done(step(which)); }
  virtual void setOutputOnAir(const OutputChange& change, HostCompletion done) { done(setOutput(change)); }

  // The rest act at once, as the window's controls do.
  // The four step buttons; NotPossibleNow while the slideshow is off.
  virtual HostOutcome step(Step step) = 0;
  virtual HostOutcome setOutput(const OutputChange& change) = 0;
  virtual HostOutcome setBackground(const BackgroundChange& change) = 0;
  virtual HostOutcome setScaling(Scaling mode) = 0;
  virtual HostOutcome setTransition(Transition mode) = 0;
  virtual HostOutcome setRange(Range mode) = 0;
  virtual HostOutcome setWatch(bool on) = 0;
  virtual HostOutcome grab() = 0;
  virtual HostOutcome setOverlayUse(bool use) = 0;

  // The rest of the window's controls. A window without them answers
  // NotPossibleNow.
  virtual HostOutcome setSlideshow(const SlideshowChange&) { return Unavailable(); }
  // The Start and End number buttons: the number of the picture on air.
  virtual HostOutcome markSlideshowStart() { return Unavailable(); }
  virtual HostOutcome markSlideshowEnd() { return Unavailable(); }
  // Shows picture `number` of the sequence; DoesNotDecode (422) outside
  // start..end, changing nothing.
  virtual HostOutcome gotoNumber(int) { return Unavailable(); }
  virtual HostOutcome setBorders(const BorderChange&) { return Unavailable(); }
  // "Grab Overlay": the picture on air becomes the overlay; completes when it has.
  virtual void grabOverlay(HostCompletion done) { done(Unavailable()); }
  // "Save config now", without the box that confirms it.
  virtual HostOutcome saveConfig() { return Unavailable(); }
  // The frame on air; no pixels when there is none.
  virtual FrameView frameOnAir() const { return {}; }
  // The cued picture as it would go on air; no pixels while nothing is cued.
  virtual FrameView frameCued() const { return {}; }

 private:
  static HostOutcome Unavailable() { return HostOutcome{HostOutcome::Kind::NotPossibleNow, "not available"}; }
};

}  // namespace plombix::control
