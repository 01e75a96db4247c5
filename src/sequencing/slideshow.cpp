// The slideshow logic. See slideshow.h; the order of the host calls in each
// function is part of its behaviour (the caption follows the show).
#include "slideshow.h"

#include <algorithm>

#include "slideshow_text.h"

namespace plombix {

int SlideshowPeriodMs(uint8_t durationSecs) {
  return std::clamp<int>(durationSecs, 2, 240) * 1000;
}

namespace {

// The step code of a TIMER_SLIDESHOW advance while it waits behind a step.
constexpr int kAdvance = 0;

// The numbers from `first` to `bound` by `direction` (both included), or
// `first` alone when the bound lies the other way.
std::vector<int> Walk(int first, int bound, int direction) {
  std::vector<int> numbers{first};
  for (int n = first; (bound - n) * direction > 0;) numbers.push_back(n += direction);
  return numbers;
}

}  // namespace

Slideshow::Slideshow(SlideshowState& state, const std::string& currentFileName,
                     bool& resumeSlideshow, SlideshowHost& host)
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

std::vector<int> Slideshow::numbersFor(int action) const {
  const int current = state_.currentNumber, start = state_.startNumber, end = state_.endNumber;
  const bool inside = current >= start && current <= end;
  const auto tryOne = [&](int n) {
    const bool there = current == n && SequenceName(split, state_.numberFormat, n) == onAir();
    return there ? std::vector<int>{} : std::vector<int>{n};
  };
  switch (action) {
    case StepNext:
      if (!inside) return Walk(start, end, +1);
      return current < end ? Walk(current + 1, end, +1) : std::vector<int>{};
    case StepPrevious:
      if (!inside) return Walk(end, start, -1);
      return current > start ? Walk(current - 1, start, -1) : std::vector<int>{};
    case StepLast: return tryOne(end);
    case StepFirst: return tryOne(start);
    case kAdvance:
      if (current < end) return numbersFor(StepNext);
      return current > start ? std::vector<int>{start} : std::vector<int>{};  // wraps: one try
    default: return {};
  }
}

std::vector<std::vector<std::string>> Slideshow::Neighbours() const {
  std::vector<std::vector<std::string>> lists;
  for (int action : {StepNext, StepPrevious, StepFirst, StepLast}) {
    std::vector<std::string>& names = lists.emplace_back();
    if (state_.mode == 0) continue;
    for (int n : numbersFor(action)) names.push_back(SequenceName(split, state_.numberFormat, n));
  }
  return lists;
}

void Slideshow::showNumbers(std::vector<int> numbers) {
  std::vector<std::string> names;
  for (int n : numbers) names.push_back(SequenceName(split, state_.numberFormat, n));
  // A landing kept off air for this step goes on air when none of the step's
  // own files loads, as it would have had the steps come slowly.
  if (!held_.empty() && held_ != names.back()) {
    names.push_back(held_);
    numbers.push_back(numbers.back());
  }
  loading_ = true;
  host_.showSequenceFile(
      names, [this] { return !waiting_.empty(); },
      [this, numbers, names](const SequenceShow& show) {
        loading_ = false;
        const bool loaded = show.loaded >= 0 && size_t(show.loaded) < numbers.size();
        if (show.superseded) {
          // Another picture took over: the steps waiting are dropped; one
          // that had loaded still moves the number, as it would have had it
          // come first.
          waiting_.clear();
          held_.clear();
          if (loaded) state_.currentNumber = static_cast<uint8_t>(numbers[size_t(show.loaded)]);
          if (loaded) captionNumber();
          return;
        }
        // Files that fail are skipped; when none loads the number stays on the bound.
        state_.currentNumber = static_cast<uint8_t>(loaded ? numbers[size_t(show.loaded)] : numbers.back());
        // Kept off air, the landing waits for the next step; when nothing
        // loaded, a landing tried as the fallback failed too.
        held_ = loaded && !show.onAir ? names[size_t(show.loaded)] : std::string();
        captionNumber();
        runSteps();
      });
}

void Slideshow::runSteps() {
  while (!loading_ && !waiting_.empty()) {
    const int action = waiting_.front();
    waiting_.erase(waiting_.begin());
    if (state_.mode == 0) continue;
    std::vector<int> numbers = numbersFor(action);
    if (!numbers.empty()) showNumbers(std::move(numbers));
  }
  if (!loading_ && !held_.empty()) {
    // The steps after a landing kept off air did nothing: it goes on air
    // after all.
    std::string name = std::move(held_);
    held_.clear();
    loading_ = true;
    host_.showSequenceFile({name}, [] { return false; }, [this](const SequenceShow&) {
      loading_ = false;
      runSteps();
    });
  }
}

void Slideshow::StepSequence(int action) {
  if (state_.mode == 0 || !IsStepAction(action)) return;
  waiting_.push_back(action);
  runSteps();
}

void Slideshow::AdvanceSlideshow() {
  if (state_.mode == 0) return;
  waiting_.push_back(kAdvance);
  runSteps();
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
