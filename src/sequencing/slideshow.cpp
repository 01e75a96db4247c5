// The slideshow logic. See slideshow.h; the order of the host calls in each
// function is part of its behaviour (a name is set before it is shown, the
// caption follows the show).
#include "slideshow.h"

#include <algorithm>

#include "slideshow_text.h"

namespace plombix {

int SlideshowPeriodMs(uint8_t durationSecs) {
  return std::clamp<int>(durationSecs, 2, 240) * 1000;
}

Slideshow::Slideshow(SlideshowState& state, std::string& currentFileName, bool& resumeSlideshow,
                     SlideshowHost& host)
    : state_(state), currentFileName_(currentFileName), resumeSlideshow_(resumeSlideshow), host_(host) {}

bool Slideshow::SplitNumberedName(std::string_view path) { return plombix::SplitNumberedName(path, split); }

void Slideshow::ValidateSequence(unsigned skipMask, std::function<void(bool valid)> then) {
  std::vector<std::string> paths;
  if ((skipMask & kSkipStartFile) == 0)
    paths.push_back(SequenceName(split, state_.numberFormat, state_.startNumber));
  if ((skipMask & kSkipEndFile) == 0)
    paths.push_back(SequenceName(split, state_.numberFormat, state_.endNumber));
  auto finish = [this, then = std::move(then)](bool valid) {
    state_.sequenceValid = valid ? 1 : 0;
    if (then) then(valid);
  };
  if (paths.empty()) {
    finish(true);
    return;
  }
  host_.checkSequenceFiles(std::move(paths), std::move(finish));
}

void Slideshow::RefreshSlideshowButton() {
  if (state_.mode != 0) {
    // Modes above 2 never come from the player; they show as by hand.
    const int colour = state_.mode == 2 ? kColourStateOn : kColourStateHand;
    host_.setSlideshowButton(SlideshowNumberCaption(state_.numberFormat, state_.currentNumber), colour);
    if (state_.mode == 2 && !resumeSlideshow_) host_.startSlideshowTimer(SlideshowPeriodMs(state_.durationSecs));
  } else {
    host_.setSlideshowButton(kSlideshowIdleCaption, kColourStateIdle);
    host_.stopSlideshowTimer();
  }
}

void Slideshow::captionNumber() {
  host_.setSlideshowCaption(SlideshowNumberCaption(state_.numberFormat, state_.currentNumber));
}

void Slideshow::showNumbers(int first, int bound, int direction) {
  std::vector<uint8_t> numbers;
  std::vector<std::string> names;
  for (int n = first;; n += direction) {
    numbers.push_back(static_cast<uint8_t>(n));
    names.push_back(SequenceName(split, state_.numberFormat, n));
    if (direction == 0 || n == bound) break;
  }
  state_.currentNumber = numbers.front();
  currentFileName_ = names.front();
  host_.showSequenceFile(names, [this, numbers, names](int shown) {
    // Files that fail are skipped; when none loads the number stays on the bound.
    const size_t i = shown >= 0 && size_t(shown) < numbers.size() ? size_t(shown) : numbers.size() - 1;
    state_.currentNumber = numbers[i];
    currentFileName_ = names[i];
    captionNumber();
  });
}

void Slideshow::moveAndSkip(int direction) {
  const bool canMove = direction > 0 ? state_.currentNumber < state_.endNumber
                                     : state_.currentNumber > state_.startNumber;
  if (!canMove) return;
  showNumbers(state_.currentNumber + direction, direction > 0 ? state_.endNumber : state_.startNumber,
              direction);
}

void Slideshow::StepSequence(int action) {
  if (state_.mode == 0) return;
  switch (action) {
    case StepNext: moveAndSkip(+1); return;
    case StepPrevious: moveAndSkip(-1); return;
    // Last and First try their one file only.
    case StepLast:
      if (state_.currentNumber < state_.endNumber) showNumbers(state_.endNumber, state_.endNumber, 0);
      return;
    case StepFirst:
      if (state_.currentNumber > state_.startNumber)
        showNumbers(state_.startNumber, state_.startNumber, 0);
      return;
    default: return;
  }
}

void Slideshow::AdvanceSlideshow() {
  if (state_.mode == 0) return;
  if (state_.currentNumber < state_.endNumber) {
    moveAndSkip(+1);
  } else if (state_.currentNumber > state_.startNumber) {
    showNumbers(state_.startNumber, state_.startNumber, 0);  // wraps: one try, no skipping
  }
}

void Slideshow::ResumeSlideshow() {
  AdvanceSlideshow();
  host_.startSlideshowTimer(SlideshowPeriodMs(state_.durationSecs));
}

void Slideshow::OnSlideshowClicked() {
  if (slideshowLocked) return;
  // 0 -> 1 -> 2 -> 0; a damaged value above 2 also returns to off.
  state_.mode = state_.mode >= 2 ? 0 : static_cast<uint8_t>(state_.mode + 1);
  RefreshSlideshowButton();
}

void Slideshow::OnStartNumber(const std::string& mainPictureFilePath, const PathBuffer& imagePath,
                              PathBuffer& slideshowPath) {
  (void)SplitNumberedName(mainPictureFilePath);
  state_.startNumber = static_cast<uint8_t>(std::min(split.number, 255));
  if (split.digitCount == 1) {
    state_.numberFormat = 0;
  } else if (split.digitCount == 2 && state_.startNumber < 10) {
    state_.numberFormat = 1;
  } else if (split.digitCount == 3 && state_.startNumber < 100) {
    state_.numberFormat = 2;
  }
  host_.pushControls();
  host_.setStartNumberCaption(StartNumberCaption(state_.numberFormat, state_.startNumber));
  ValidateSequence(kSkipStartFile, [this, prefix = split.prefix](bool valid) {
    host_.setBaseNameLabel(valid ? prefix : std::string(kInvalidSeqEnd));
  });
  slideshowPath.copyPathFrom(imagePath);
}

void Slideshow::OnEndNumber(const std::string& mainPictureFilePath) {
  (void)SplitNumberedName(mainPictureFilePath);
  state_.endNumber = static_cast<uint8_t>(std::min(split.number, 255));
  host_.setEndNumberCaption(EndNumberCaption(state_.numberFormat, state_.endNumber));
  ValidateSequence(kSkipEndFile, [this, prefix = split.prefix](bool valid) {
    host_.setBaseNameLabel(valid ? prefix : std::string(kInvalidSeqStart));
  });
}

void Slideshow::OnNumberFormatChanged(uint8_t selection) {
  if (selection == state_.numberFormat) return;
  if (state_.startNumber != 0) host_.setStartNumberCaption(StartNumberCaption(selection, state_.startNumber));
  if (state_.endNumber != 0) host_.setEndNumberCaption(EndNumberCaption(selection, state_.endNumber));
  state_.numberFormat = selection;
}

void Slideshow::OnDurationChanged() {
  if (!resumeSlideshow_ && state_.mode == 2) host_.startSlideshowTimer(SlideshowPeriodMs(state_.durationSecs));
}

void Slideshow::CaptionAfterLoad() {
  if (state_.mode != 0 && state_.currentNumber >= state_.startNumber &&
      state_.currentNumber <= state_.endNumber) {
    captionNumber();
  }
}

void Slideshow::CheckRestoredSequence(const std::string& slideshowName) {
  if (!SplitNumberedName(slideshowName)) {
    host_.setBaseNameLabel(kInvalidStartOrEnd);
    return;
  }
  ValidateSequence(0, [this, prefix = split.prefix](bool valid) {
    host_.setBaseNameLabel(valid ? prefix : std::string(kInvalidStartOrEnd));
  });
}

bool Slideshow::ResumeAfterRestore() {
  bool resumed = false;
  if (resumeSlideshow_ && state_.mode == 2) {
    resumeSlideshow_ = false;
    ResumeSlideshow();
    resumed = true;
  }
  resumeSlideshow_ = false;
  slideshowLocked = false;
  return resumed;
}

}  // namespace plombix
