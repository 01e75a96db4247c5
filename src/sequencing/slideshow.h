// The simple slideshow over numbered files: stepping by hand, automatic
// advance with wrap-around, the Slideshow / Start number / End number
// controls and the check of a sequence's start and end files.
//
// Slideshow works on state the window owns (the SlideshowState inside the
// live ViewerConfig, currentFileName, resumeSlideshow) and reaches the
// window only through SlideshowHost, so the order of the effects (set a
// name, show it, caption a button, start a timer) is decided here and can be
// recorded by a test.
//
// Everything runs on the window's one thread; no call re-enters another.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "numbered_name.h"
#include "path_buffer.h"
#include "step_controls.h"
#include "viewer_config.h"

namespace plombix {

// How a sequence file's show ended.
struct SequenceShow {
  int loaded = -1;          // the candidate that loaded; -1 when none did (or not known)
  bool onAir = false;       // it went on air (else it was kept off air)
  bool superseded = false;  // a show of another kind took over first
};

class SlideshowHost {
 public:
  virtual ~SlideshowHost() = default;

  // Shows the first of `candidates` that loads (ShowPicture with sending),
  // off the window's thread. Once one has loaded, `keepOffAir()` is asked
  // on the window's thread: true leaves the output as it is. `done` follows
  // on the window's thread. A picture that goes on air becomes the
  // window's currentFileName.
  virtual void showSequenceFile(std::vector<std::string> candidates,
                                std::function<bool()> keepOffAir,
                                std::function<void(const SequenceShow&)> done) = 0;
  // Checks that each of `paths` decodes, off the window's thread; `done`
  // follows with the verdict unless a newer check took over.
  virtual void checkSequenceFiles(std::vector<std::string> paths,
                                  std::function<void(bool valid)> done) = 0;

  // Slideshow button (1056): caption and colour state (1 by hand, 2
  // automatic, 3 idle), then repaint.
  virtual void setSlideshowButton(const std::string& caption, int colourState) = 0;
  // Slideshow button caption only; the colour stays.
  virtual void setSlideshowCaption(const std::string& caption) = 0;
  virtual void setStartNumberCaption(const std::string& caption) = 0;  // 1058
  virtual void setEndNumberCaption(const std::string& caption) = 0;    // 1059
  virtual void setBaseNameLabel(const std::string& text) = 0;          // 1069
  // Push every control variable to its control; the number-format radios
  // show the record's numberFormat.
  virtual void pushControls() = 0;

  // TIMER_SLIDESHOW: (re)start with a period, or stop.
  virtual void startSlideshowTimer(int periodMs) = 0;
  virtual void stopSlideshowTimer() = 0;
};

// Skip bits of ValidateSequence.
inline constexpr unsigned kSkipStartFile = 1;
inline constexpr unsigned kSkipEndFile = 2;

// Period of TIMER_SLIDESHOW: durationSecs x 1,000 ms. A duration outside
// 2..240 (only possible from a damaged file before its fix-up) is taken at
// the nearer bound so that the timer can never run with period 0.
[[nodiscard]] int SlideshowPeriodMs(uint8_t durationSecs);

class Slideshow {
 public:
  // `currentFileName` is read only: the file on air, which the window sets
  // whenever a picture goes on air.
  Slideshow(SlideshowState& state, const std::string& currentFileName, bool& resumeSlideshow,
            SlideshowHost& host);

  // The numbered-name split the controls last produced.
  NumberedName split;
  // While set, the Slideshow button does nothing; the window clears it at
  // the end of the start-up restore (ResumeAfterRestore does).
  bool slideshowLocked = true;

  // SplitNumberedName into `split`.
  bool SplitNumberedName(std::string_view path);

  // Checks the start file (unless bit 0 of skipMask) and the end file
  // (unless bit 1), named by the split, off the window's thread; then
  // sequenceValid := whether both decode, and `then(valid)`. Checking never
  // touches currentFileName.
  void ValidateSequence(unsigned skipMask, std::function<void(bool valid)> then);

  // Captions and colours the Slideshow button by mode; mode 2 without
  // resumeSlideshow (re)starts the timer, mode 0 stops it.
  void RefreshSlideshowButton();

  // One step (nothing in mode 0; codes other than 1..4 are ignored):
  //  - Next from a number within start..end moves up by one, Previous down
  //    by one; from a number outside start..end Next goes to the start and
  //    Previous to the end. Either skips files that fail, towards the end
  //    (Next) or the start (Previous); when none loads the number stays on
  //    the bound. Nothing when the number is on its bound already.
  //  - First and Last try their one file, whenever it is not the file on
  //    air or the number is not on it yet.
  // Steps asked for while a step is loading wait for it and then go on from
  // where it landed, so quick steps land where slow ones would; only the
  // last of them puts its picture on air.
  void StepSequence(int action);

  // The files the next steps would try, one list each for Next, Previous,
  // First and Last (an automatic wrap goes to First); a step that would do
  // nothing has an empty list.
  [[nodiscard]] std::vector<std::vector<std::string>> Neighbours() const;

  // One TIMER_SLIDESHOW tick: Next while below the end, else wrap to the
  // start (one try, no skipping); nothing in mode 0 or when start >= end.
  void AdvanceSlideshow();

  // One advance, then TIMER_SLIDESHOW started with the duration.
  void ResumeSlideshow();

  // Slideshow button click: ignored while locked; mode 0 -> 1 -> 2 -> 0.
  void OnSlideshowClicked();

  // "Start number": split `mainPictureFilePath` (the path last loaded into
  // the main picture), startNumber := number (at most 255), pick the
  // number format from the digit count, push controls, caption, validate
  // the end file, label, slideshowPath := imagePath.
  void OnStartNumber(const std::string& mainPictureFilePath, const PathBuffer& imagePath,
                     PathBuffer& slideshowPath);

  // "End number": split, endNumber := number (at most 255), caption,
  // validate the start file, label. Format and slideshowPath untouched.
  void OnEndNumber(const std::string& mainPictureFilePath);

  // Number-format radios changed to `selection`.
  void OnNumberFormatChanged(uint8_t selection);

  // The duration edit lost focus after durationSecs was read back.
  void OnDurationChanged();

  // After a successful configuration load at start-up: in a mode other
  // than off with currentNumber within start..end, caption "S/Show %0*d".
  void CaptionAfterLoad();

  // Start-up restore, step "check the stored slideshow": split
  // `slideshowName`; the label shows the prefix when a number was found and
  // both files validate, else "Invalid start or end".
  void CheckRestoredSequence(const std::string& slideshowName);

  // Start-up restore, last steps: when `resumeSlideshow` was set by the
  // load and the mode is 2, ResumeSlideshow; then resumeSlideshow and
  // slideshowLocked are cleared. Returns true when it resumed.
  bool ResumeAfterRestore();

 private:
  // The numbers one step tries, in order; empty when it does nothing.
  std::vector<int> numbersFor(int action) const;
  // Runs the waiting steps, one show at a time; when none is left and a
  // landing was kept off air, shows that.
  void runSteps();
  // Shows the first of `numbers` whose file loads; `fallback` (a landing
  // kept off air) is tried last and, when it loads, leaves the number on
  // the last of `numbers`.
  void showNumbers(std::vector<int> numbers);
  void captionNumber();
  // The file a step compares with: a landing kept off air, else the file on air.
  const std::string& onAir() const { return held_.empty() ? currentFileName_ : held_; }

  SlideshowState& state_;
  const std::string& currentFileName_;
  bool& resumeSlideshow_;
  SlideshowHost& host_;
  std::vector<int> waiting_;  // steps asked for while one loads (codes, kAdvance)
  bool loading_ = false;      // a step's show is under way
  std::string held_;          // a landing that was kept off air for a later step
};

}  // namespace plombix
