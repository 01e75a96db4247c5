#include <gtest/gtest.h>

#include <tuple>

#include "recording_hosts.h"
#include "slideshow.h"

namespace plombix {
namespace {

using testing::Calls;
using testing::RecordingSlideshowHost;

// A slideshow over /s/shot<n>.jpg in format 0 with the files `present`.
struct Fixture {
  SlideshowState state{};
  std::string currentFileName;
  bool resume = false;
  RecordingSlideshowHost host;
  Slideshow show{state, currentFileName, resume, host};

  Fixture(uint8_t mode, uint8_t current, uint8_t start, uint8_t end, std::initializer_list<int> present) {
    state.mode = mode;
    state.currentNumber = current;
    state.startNumber = start;
    state.endNumber = end;
    state.durationSecs = 5;
    show.split = NumberedName{"/s/shot", ".jpg", 0, 0};
    for (int n : present) host.loadable.insert(name(n));
  }
  static std::string name(int n) { return "/s/shot" + std::to_string(n) + ".jpg"; }
};

// Steps by hand and automatic advances over shot1..shot5 (or 3..5), each
// row one call after the other on the same slideshow: every file is tried
// in turn and the number stops on the bound even when its file fails; a
// number that cannot move, the mode off or an unknown step does nothing.
TEST(StepSequence, StepsSkipMissingFilesAndStopOnTheBounds) {
  const int kAdvance = -1;
  const struct {
    const char* name;
    uint8_t mode, current, start, end;
    std::initializer_list<int> present;
    const char* onAir;  // the picture on air at the end: the last file that loaded
    std::vector<std::tuple<int, uint8_t, Calls>> steps;  // action, number after, calls
  } rows[] = {
      {"next skips a gap, then stops on the end even if it fails, then nothing", 1, 2, 1, 5, {1, 2, 4}, "4",
       {{StepNext, 4, {"show:/s/shot3.jpg (fails)", "show:/s/shot4.jpg", "caption:S/Show 4"}},
        {StepNext, 5, {"show:/s/shot5.jpg (fails)", "caption:S/Show 5"}},
        {StepNext, 5, {}}}},
      {"previous skips down to the start", 1, 5, 1, 5, {2}, "2",
       {{StepPrevious, 2,
         {"show:/s/shot4.jpg (fails)", "show:/s/shot3.jpg (fails)", "show:/s/shot2.jpg", "caption:S/Show 2"}},
        {StepPrevious, 1, {"show:/s/shot1.jpg (fails)", "caption:S/Show 1"}}}},
      {"last on a missing file sets the number only", 1, 2, 1, 5, {2}, "",
       {{StepLast, 5, {"show:/s/shot5.jpg (fails)", "caption:S/Show 5"}}}},
      {"first tries its one file", 2, 4, 1, 5, {1}, "1",
       {{StepFirst, 1, {"show:/s/shot1.jpg", "caption:S/Show 1"}}}},
      {"advance wraps from the end to the start once, then runs as next", 2, 5, 3, 5, {}, "",
       {{kAdvance, 3, {"show:/s/shot3.jpg (fails)", "caption:S/Show 3"}},
        {kAdvance, 5, {"show:/s/shot4.jpg (fails)", "show:/s/shot5.jpg (fails)", "caption:S/Show 5"}}}},
      {"advance with start equal to end does nothing", 2, 4, 4, 4, {4}, "", {{kAdvance, 4, {}}}},
      {"advance with the mode off does nothing", 0, 1, 1, 5, {2}, "", {{kAdvance, 1, {}}}},
      {"no step with the mode off", 0, 3, 1, 5, {1, 2, 3, 4, 5}, "",
       {{StepNext, 3, {}}, {StepPrevious, 3, {}}, {StepLast, 3, {}}, {StepFirst, 3, {}}}},
      {"next or last at the end", 1, 5, 1, 5, {1, 2, 3, 4, 5}, "", {{StepNext, 5, {}}, {StepLast, 5, {}}}},
      {"previous or first at the start", 1, 1, 1, 5, {1, 2, 3, 4, 5}, "",
       {{StepPrevious, 1, {}}, {StepFirst, 1, {}}}},
      {"next beyond the end", 2, 9, 1, 5, {1, 2, 3, 4, 5}, "", {{StepNext, 9, {}}}},
      {"unknown step codes", 1, 3, 1, 5, {1, 2, 3, 4, 5}, "", {{0, 3, {}}, {5, 3, {}}}},
  };
  for (const auto& row : rows) {
    Fixture f(row.mode, row.current, row.start, row.end, row.present);
    for (const auto& [action, number, calls] : row.steps) {
      f.host.calls.clear();
      if (action == kAdvance) f.show.AdvanceSlideshow();
      else f.show.StepSequence(action);
      EXPECT_EQ(f.state.currentNumber, number) << row.name;
      EXPECT_EQ(f.host.calls, calls) << row.name;
    }
    EXPECT_EQ(f.host.onAir, *row.onAir ? "/s/shot" + std::string(row.onAir) + ".jpg" : "") << row.name;
  }
}

// The button's caption, colour and timer by mode, and a new duration
// restarting the timer only in automatic mode when not resuming.
TEST(RefreshSlideshowButton, CaptionColourAndTimerByModeAlsoOnANewDuration) {
  const struct { uint8_t mode; bool resume; Calls refresh, duration; } rows[] = {
      {0, false, {"button:SlideShow state 3", "timer:stop"}, {}},
      {1, false, {"button:S/Show 07 state 1"}, {}},
      {2, false, {"button:S/Show 07 state 2", "timer:5000"}, {"timer:17000"}},
      {2, true, {"button:S/Show 07 state 2"}, {}},  // resuming: the restore starts the timer
  };
  for (const auto& row : rows) {
    Fixture f(row.mode, 7, 1, 9, {});
    f.state.numberFormat = 1;
    f.resume = row.resume;
    f.show.RefreshSlideshowButton();
    EXPECT_EQ(f.host.calls, row.refresh) << int(row.mode) << " resume " << row.resume;
    f.host.calls.clear();
    f.state.durationSecs = 17;
    f.show.OnDurationChanged();
    EXPECT_EQ(f.host.calls, row.duration) << int(row.mode) << " resume " << row.resume;
  }
}

TEST(SlideshowButton, IgnoredWhileLockedThenCyclesOffByHandAutomaticOff) {
  Fixture f(0, 3, 1, 9, {});
  f.show.OnSlideshowClicked();
  EXPECT_EQ(f.state.mode, 0);
  EXPECT_TRUE(f.host.calls.empty());
  f.show.slideshowLocked = false;
  const uint8_t expected[] = {1, 2, 0, 1};
  for (uint8_t mode : expected) {
    f.show.OnSlideshowClicked();
    EXPECT_EQ(f.state.mode, mode);
  }
  EXPECT_EQ(f.host.calls, (Calls{"button:S/Show 3 state 1", "button:S/Show 3 state 2", "timer:5000",
                                 "button:SlideShow state 3", "timer:stop", "button:S/Show 3 state 1"}));
  f.state.mode = 9;  // damaged value: returns to off rather than counting on
  f.show.OnSlideshowClicked();
  EXPECT_EQ(f.state.mode, 0);
}

// "Start number" and "End number" with the picture on air: each takes its
// number (capped at 255) and captions it, "Start number" picks the width
// from the digits and copies the dropped picture's path; then the other
// end's file is checked and the label names the prefix or the fault. Calls
// starting with "..." are the last ones made.
TEST(StartAndEndNumber, TakeTheNumberCaptionItAndCheckTheOtherEndsFile) {
  const struct {
    const char* path;
    bool start;  // else "End number"
    uint8_t otherEnd;
    std::set<std::string> loadable;
    Calls calls;
    uint8_t number, format;
  } rows[] = {
      {"/s/shot007.jpg", true, 12, {"/s/shot012.jpg"},
       {"pushControls", "start:Start at:- 007", "probe:/s/shot012.jpg", "label:/s/shot"}, 7, 2},
      {"/s/shot.jpg", true, 4, {}, {"...", "probe:/s/shot4.jpg (fails)", "label:Invalid seq end"}, 0, 0},
      {"/s/shot.jpg", true, 4, {"/s/shot4.jpg"}, {"...", "label:/s/shot"}, 0, 0},
      {"/s/shot1234.jpg", false, 3, {},
       {"end:End at:- 255", "probe:/s/shot03.jpg (fails)", "label:Invalid seq start"}, 255, 1},
  };
  for (const auto& row : rows) {
    Fixture f(0, 0, 0, 0, {});
    PathBuffer imagePath, slideshowPath;
    ASSERT_TRUE(imagePath.assign("/s/dropped.png"));
    ASSERT_TRUE(slideshowPath.assign("/old/slides.png"));
    f.state.numberFormat = row.start ? 0 : row.format;  // "End number" leaves it alone
    (row.start ? f.state.endNumber : f.state.startNumber) = row.otherEnd;
    f.host.loadable = row.loadable;
    f.currentFileName = "/s/shown.png";
    if (row.start) f.show.OnStartNumber(row.path, imagePath, slideshowPath);
    else f.show.OnEndNumber(row.path);
    EXPECT_EQ(row.start ? f.state.startNumber : f.state.endNumber, row.number) << row.path;
    EXPECT_EQ(f.state.numberFormat, row.format) << row.path;
    if (row.calls.front() == "...") {
      ASSERT_GE(f.host.calls.size(), row.calls.size() - 1) << row.path;
      EXPECT_EQ(Calls(f.host.calls.end() - long(row.calls.size() - 1), f.host.calls.end()),
                Calls(row.calls.begin() + 1, row.calls.end())) << row.path;
    } else {
      EXPECT_EQ(f.host.calls, row.calls) << row.path;
    }
    EXPECT_EQ(f.state.sequenceValid, row.calls.back().find("Invalid") == std::string::npos) << row.path;
    EXPECT_EQ(f.currentFileName, "/s/shown.png") << row.path;  // checking never changes the file on air
    EXPECT_EQ(slideshowPath.toUtf8(), row.start ? "/s/dropped.png" : "/old/slides.png") << row.path;
  }
}

TEST(StartNumber, FormatPickRule) {
  const struct { const char* path; uint8_t formatBefore, formatAfter, start; } rows[] = {
      {"/s/shot7.jpg", 2, 0, 7},       // one digit: "1"
      {"/s/shot07.jpg", 0, 1, 7},      // two digits below 10: "01"
      {"/s/shot12.jpg", 2, 2, 12},     // two digits, 12 >= 10: stays
      {"/s/shot12.jpg", 0, 0, 12},
      {"/s/shot099.jpg", 0, 2, 99},    // three digits below 100: "001"
      {"/s/shot100.jpg", 1, 1, 100},
      {"/s/shot300.jpg", 0, 0, 255},   // capped at 255, format stays
      {"/s/shot0042.jpg", 1, 1, 42},   // four digits: stays
      {"/s/shot.jpg", 1, 1, 0},        // no number
  };
  for (const auto& row : rows) {
    Fixture f(0, 0, 0, 0, {});
    PathBuffer imagePath, slideshowPath;
    f.state.numberFormat = row.formatBefore;
    f.show.OnStartNumber(row.path, imagePath, slideshowPath);
    EXPECT_EQ(f.state.numberFormat, row.formatAfter) << row.path;
    EXPECT_EQ(f.state.startNumber, row.start) << row.path;
  }
}

TEST(NumberFormatRadio, RecaptionsTheNonZeroNumbersWithTheNewWidth) {
  Fixture f(1, 4, 3, 0, {});
  f.show.OnNumberFormatChanged(0);  // same as before: nothing
  EXPECT_TRUE(f.host.calls.empty());
  f.show.OnNumberFormatChanged(2);
  EXPECT_EQ(f.host.calls, (Calls{"start:Start at:- 003"}));  // end is 0: no caption
  EXPECT_EQ(f.state.numberFormat, 2);
  f.state.endNumber = 9;
  f.host.calls.clear();
  f.show.OnNumberFormatChanged(1);
  EXPECT_EQ(f.host.calls, (Calls{"start:Start at:- 03", "end:End at:- 09"}));
}

TEST(SlideshowPeriodMs, IsDurationTimesAThousandNeverZero) {
  for (const auto& [secs, ms] : {std::pair{2, 2000}, {240, 240000}, {0, 2000}, {255, 240000}})
    EXPECT_EQ(SlideshowPeriodMs(uint8_t(secs)), ms) << secs;
}

TEST(ValidateSequence, ChecksStartThenEndAndLeavesTheCurrentFileAlone) {
  Fixture f(0, 0, 2, 8, {2});
  f.currentFileName = "/shown.png";
  std::vector<bool> verdicts;
  f.show.ValidateSequence(0, [&](bool valid) { verdicts.push_back(valid); });
  EXPECT_EQ(f.host.calls, (Calls{"probe:/s/shot2.jpg", "probe:/s/shot8.jpg (fails)"}));
  EXPECT_EQ(f.state.sequenceValid, 0);
  f.host.calls.clear();
  f.show.ValidateSequence(kSkipStartFile | kSkipEndFile, [&](bool valid) { verdicts.push_back(valid); });
  EXPECT_TRUE(f.host.calls.empty());
  EXPECT_EQ(f.state.sequenceValid, 1);
  EXPECT_EQ(verdicts, (std::vector<bool>{false, true}));
  EXPECT_EQ(f.currentFileName, "/shown.png");
}

TEST(StartUp, CaptionAfterLoadOnlyWithinStartAndEnd) {
  const struct { uint8_t mode, current; bool captioned; } rows[] = {
      {1, 3, true}, {2, 9, true}, {1, 2, false}, {1, 10, false}, {0, 5, false}};
  for (const auto& row : rows) {
    Fixture f(row.mode, row.current, 3, 9, {});
    f.show.CaptionAfterLoad();
    EXPECT_EQ(f.host.calls.size(), row.captioned ? 1u : 0u) << int(row.mode) << "/" << int(row.current);
  }
}

TEST(StartUp, RestoredSequenceIsCheckedThroughTheStoredName) {
  Fixture ok(0, 0, 1, 3, {1, 3});
  ok.show.CheckRestoredSequence("/s/shot2.jpg");
  EXPECT_EQ(ok.host.calls.back(), "label:/s/shot");
  Fixture bad(0, 0, 1, 3, {1});
  bad.show.CheckRestoredSequence("/s/shot2.jpg");
  EXPECT_EQ(bad.host.calls.back(), "label:Invalid start or end");
  Fixture none(0, 0, 1, 3, {1, 3});
  none.show.CheckRestoredSequence("/s/shot.jpg");  // no number: nothing probed
  EXPECT_EQ(none.host.calls, (Calls{"label:Invalid start or end"}));
}

TEST(StartUp, SavedAutomaticSlideshowResumesAtItsStartNumberOthersOnlyUnlock) {
  // As loaded: mode 2, start 3, end 9, current moved to 9, resume set.
  Fixture f(2, 9, 3, 9, {3, 4});
  f.resume = true;
  f.show.RefreshSlideshowButton();  // during the load: no timer yet
  EXPECT_EQ(f.host.calls, (Calls{"button:S/Show 9 state 2"}));
  f.host.calls.clear();
  EXPECT_TRUE(f.show.ResumeAfterRestore());
  EXPECT_EQ(f.host.calls, (Calls{"show:/s/shot3.jpg", "caption:S/Show 3", "timer:5000"}));
  EXPECT_FALSE(f.resume);
  EXPECT_FALSE(f.show.slideshowLocked);
  f.host.calls.clear();
  f.show.AdvanceSlideshow();  // the timer's first tick
  EXPECT_EQ(f.host.calls, (Calls{"show:/s/shot4.jpg", "caption:S/Show 4"}));

  Fixture byHand(1, 2, 1, 5, {});
  EXPECT_FALSE(byHand.show.ResumeAfterRestore());
  EXPECT_TRUE(byHand.host.calls.empty());
  EXPECT_FALSE(byHand.show.slideshowLocked);
}

}  // namespace
}  // namespace plombix
