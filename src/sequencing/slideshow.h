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

class SlideshowHost {
 public:
  virtual ~SlideshowHost() = default;

  // Shows the first of `candidates` that loads (ShowPicture with sending),
  // off the window's thread. `done` follows on the window's thread with the
  // index of the file that went on air, or -1 when none did; it is not
  // called when a newer show took over before this one finished.
  virtual void showSequenceFile(std::vector<std::string> candidates,
                                std::function<void(int shownIndex)> done) = 0;
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
  Slideshow(SlideshowState& state, std::string& currentFileName, bool& resumeSlideshow,
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
  // touches currentFileName: the file on air, the one the watch polls and
  // the one a re-show loads stay what they were.
  void ValidateSequence(unsigned skipMask, std::function<void(bool valid)> then);

  // Captions and colours the Slideshow button by mode; mode 2 without
  // resumeSlideshow (re)starts the timer, mode 0 stops it.
  void RefreshSlideshowButton();

  // One step: Next/Previous move by one and skip files that fail up to the
  // bound; Last/First try their one file. Nothing in mode 0 or when the
  // number cannot move. Codes other than 1..4 are ignored.
  void StepSequence(int action);

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

  // Number-format radios changed to `selection` (0..2).
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
  // Shows the numbers from `first` towards `bound` (by `direction`, or
  // `first` alone when it is 0), the first whose file loads. currentNumber
  // and currentFileName name `first` at once, so that a quick further step
  // goes on from there; when the show ends they name the number that went
  // on air, or the bound when none did, and the button is captioned.
  void showNumbers(int first, int bound, int direction);
  // Next (+1) or Previous (-1) with skipping, then the caption.
  void moveAndSkip(int direction);
  void captionNumber();

  SlideshowState& state_;
  std::string& currentFileName_;
  bool& resumeSlideshow_;
  SlideshowHost& host_;
};

}  // namespace plombix
