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
// in turn and the number stops on the bound even when its file fails.
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

TEST(StepSequence, NothingHappensWhenTheNumberCannotMoveOrTheModeIsOff) {
  const struct {
    const char* name;
    uint8_t mode, current;
    int action;
  } rows[] = {
      {"mode 0 next", 0, 3, StepNext},      {"mode 0 previous", 0, 3, StepPrevious},
      {"mode 0 last", 0, 3, StepLast},      {"mode 0 first", 0, 3, StepFirst},
      {"next at end", 1, 5, StepNext},      {"last at end", 1, 5, StepLast},
      {"previous at start", 1, 1, StepPrevious}, {"first at start", 1, 1, StepFirst},
      {"next beyond end", 2, 9, StepNext},  {"unknown code 0", 1, 3, 0},
      {"unknown code 5", 1, 3, 5},
  };
  for (const auto& row : rows) {
    Fixture f(row.mode, row.current, 1, 5, {1, 2, 3, 4, 5});
    f.show.StepSequence(row.action);
    EXPECT_TRUE(f.host.calls.empty()) << row.name;
    EXPECT_EQ(f.state.currentNumber, row.current) << row.name;
  }
}

TEST(RefreshSlideshowButton, CaptionColourAndTimerByMode) {
  const struct {
    uint8_t mode;
    bool resume;
    Calls calls;
  } rows[] = {
      {0, false, {"button:SlideShow state 3", "timer:stop"}},
      {1, false, {"button:S/Show 07 state 1"}},
      {2, false, {"button:S/Show 07 state 2", "timer:5000"}},
      {2, true, {"button:S/Show 07 state 2"}},  // resuming: the restore starts the timer
  };
  for (const auto& row : rows) {
    Fixture f(row.mode, 7, 1, 9, {});
    f.state.numberFormat = 1;
    f.resume = row.resume;
    f.show.RefreshSlideshowButton();
    EXPECT_EQ(f.host.calls, row.calls) << int(row.mode) << " resume " << row.resume;
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

struct ControlsFixture : Fixture {
  PathBuffer imagePath, slideshowPath;
  ControlsFixture() : Fixture(0, 0, 0, 0, {}) {
    EXPECT_TRUE(imagePath.assign("/s/dropped.png"));
    EXPECT_TRUE(slideshowPath.assign("/old/slides.png"));
  }
};

TEST(StartNumber, ThreeDigitsPickFormat001AndValidateTheEndFile) {
  ControlsFixture f;
  f.state.endNumber = 12;
  f.host.loadable = {"/s/shot012.jpg"};
  f.currentFileName = "/s/shown.png";
  f.show.OnStartNumber("/s/shot007.jpg", f.imagePath, f.slideshowPath);
  EXPECT_EQ(f.state.startNumber, 7);
  EXPECT_EQ(f.state.numberFormat, 2);
  EXPECT_EQ(f.host.calls, (Calls{"pushControls", "start:Start at:- 007", "probe:/s/shot012.jpg",
                                 "label:/s/shot"}));
  EXPECT_EQ(f.state.sequenceValid, 1);
  EXPECT_EQ(f.currentFileName, "/s/shown.png");  // checking never changes the file on air
  EXPECT_EQ(f.slideshowPath.toUtf8(), "/s/dropped.png");  // copied from imagePath
}

TEST(StartNumber, FormatPickRule) {
  const struct {
    const char* path;
    uint8_t formatBefore, formatAfter, start;
  } rows[] = {
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
    ControlsFixture f;
    f.state.numberFormat = row.formatBefore;
    f.show.OnStartNumber(row.path, f.imagePath, f.slideshowPath);
    EXPECT_EQ(f.state.numberFormat, row.formatAfter) << row.path;
    EXPECT_EQ(f.state.startNumber, row.start) << row.path;
  }
}

TEST(StartNumber, NoTrailingNumberGivesStartZeroAndInvalidSeqEnd) {
  ControlsFixture f;
  f.state.endNumber = 4;
  f.show.OnStartNumber("/s/shot.jpg", f.imagePath, f.slideshowPath);
  EXPECT_EQ(f.state.startNumber, 0);
  EXPECT_EQ(f.host.calls.back(), "label:Invalid seq end");
  EXPECT_EQ(f.host.calls.end()[-2], "probe:/s/shot4.jpg (fails)");  // the end file under the prefix
  // ...unless that end file decodes.
  ControlsFixture g;
  g.state.endNumber = 4;
  g.host.loadable = {"/s/shot4.jpg"};
  g.show.OnStartNumber("/s/shot.jpg", g.imagePath, g.slideshowPath);
  EXPECT_EQ(g.host.calls.back(), "label:/s/shot");
}

TEST(EndNumber, CapsTheNumberCaptionsAndValidatesTheStartFileOnly) {
  ControlsFixture f;
  f.state.startNumber = 3;
  f.state.numberFormat = 1;
  f.show.OnEndNumber("/s/shot1234.jpg");
  EXPECT_EQ(f.state.endNumber, 255);  // 1234 capped
  EXPECT_EQ(f.state.numberFormat, 1);  // untouched
  EXPECT_EQ(f.host.calls, (Calls{"end:End at:- 255", "probe:/s/shot03.jpg (fails)",
                                 "label:Invalid seq start"}));
  EXPECT_EQ(f.slideshowPath.toUtf8(), "/old/slides.png");  // untouched
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

TEST(Duration, RestartsTheTimerOnlyInAutomaticModeWhenNotResuming) {
  const struct {
    uint8_t mode;
    bool resume;
    Calls calls;
  } rows[] = {{2, false, {"timer:17000"}}, {2, true, {}}, {1, false, {}}, {0, false, {}}};
  for (const auto& row : rows) {
    Fixture f(row.mode, 1, 1, 5, {});
    f.resume = row.resume;
    f.state.durationSecs = 17;
    f.show.OnDurationChanged();
    EXPECT_EQ(f.host.calls, row.calls) << int(row.mode) << " " << row.resume;
  }
}

TEST(SlideshowPeriodMs, IsDurationTimesAThousandNeverZero) {
  EXPECT_EQ(SlideshowPeriodMs(2), 2000);
  EXPECT_EQ(SlideshowPeriodMs(240), 240000);
  EXPECT_EQ(SlideshowPeriodMs(0), 2000);
  EXPECT_EQ(SlideshowPeriodMs(255), 240000);
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
  const struct {
    uint8_t mode, current;
    bool captioned;
  } rows[] = {{1, 3, true}, {2, 9, true}, {1, 2, false}, {1, 10, false}, {0, 5, false}};
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

TEST(StartUp, SavedAutomaticSlideshowResumesAtItsStartNumber) {
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
}

TEST(StartUp, RestoreWithoutResumeOnlyUnlocks) {
  Fixture f(1, 2, 1, 5, {});
  EXPECT_FALSE(f.show.ResumeAfterRestore());
  EXPECT_TRUE(f.host.calls.empty());
  EXPECT_FALSE(f.show.slideshowLocked);
}

}  // namespace
}  // namespace plombix
