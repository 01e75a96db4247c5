#include <gtest/gtest.h>

#include <sstream>

#include "recording_hosts.h"
#include "slideshow.h"

namespace plombix {
namespace {

using testing::Calls;

// A slideshow over /s/shot<n>.jpg in format 0 with the files `present`;
// `onAir` names the number whose file is on air (0: another file).
struct Fixture {
  SlideshowState state{};
  bool resume = false;
  testing::RecordingSlideshowHost host;
  Slideshow show{state, host.onAir, resume, host};

  Fixture(uint8_t mode, uint8_t current, uint8_t start, uint8_t end, std::initializer_list<int> present = {},
          int onAir = 0) {
    state = {mode, current, start, end, 0, 0, 1, 5};
    show.split = NumberedName{"/s/shot", ".jpg", 0, 0};
    for (int n : present) host.loadable.insert(name(n));
    host.onAir = name(onAir);
  }
  static std::string name(int n) { return n ? "/s/shot" + std::to_string(n) + ".jpg" : "/s/dropped.png"; }
  // N(ext), P(revious), L(ast), F(irst), A(dvance) or ? (an unknown code).
  void press(char action) {
    if (action == 'A') return show.AdvanceSlideshow();
    show.StepSequence(action == 'N' ? StepNext : action == 'P' ? StepPrevious : action == 'L' ? StepLast
                      : action == 'F' ? StepFirst : 7);
  }
};

// Steps one after the other on one slideshow. Script: steps split by ';',
// each its action, the number after it, and the files it tried ('x' when
// failing), e.g. "N4 3x 4"; a step that shows anything captions its number.
// Files that fail are skipped and the number stops on the bound even when
// its file fails; a step from outside start..end goes to the start (Next,
// First) or the end (Previous, Last); First and Last show their file unless
// it is on air with the number on it.
TEST(StepSequence, StepsSkipMissingFilesStayInTheSequenceAndStopOnTheBounds) {
  const struct { const char* name; uint8_t mode, current, start, end; std::initializer_list<int> present;
                 int onAir, onAirAfter; const char* script; } rows[] = {  // onAir 0: a dropped file
      {"next skips a gap, stops on the end when it fails", 1, 2, 1, 5, {1, 2, 4}, 2, 4, "N4 3x 4; N5 5x; N5"},
      {"previous skips down to the start", 1, 5, 1, 5, {2}, 5, 2, "P2 4x 3x 2; P1 1x"},
      {"last on a missing file sets the number only", 1, 2, 1, 5, {2}, 2, 2, "L5 5x"},
      {"first after a drop shows the start file", 1, 1, 1, 5, {1}, 0, 1, "F1 1; F1"},
      {"next from below the start goes to the start", 1, 1, 3, 8, {1, 3, 4}, 1, 4, "N3 3; P3; N4 4"},
      {"previous from beyond the end goes to the end", 1, 9, 1, 3, {2}, 0, 2, "P2 3x 2; L3 3x"},
      {"advance wraps to the start once, then runs as next", 2, 5, 3, 5, {}, 0, 0, "A3 3x; A5 4x 5x"},
      {"advance with start equal to end", 2, 4, 4, 4, {4}, 4, 4, "A4"},
      {"nothing with the mode off", 0, 3, 1, 5, {1, 2, 3, 4, 5}, 3, 3, "N3; P3; L3; F3; A3"},
      {"next or last at the end with its file on air", 1, 5, 1, 5, {5}, 5, 5, "N5; L5"},
      {"unknown step codes", 1, 3, 1, 5, {1, 2, 3, 4, 5}, 3, 3, "?3"},
  };
  for (const auto& row : rows) {
    Fixture f(row.mode, row.current, row.start, row.end, row.present, row.onAir);
    std::stringstream steps(row.script);
    for (std::string step; std::getline(steps, step, ';');) {
      std::stringstream words(step);
      std::string head, tried;
      words >> head;
      Calls expected;
      while (words >> tried)
        expected.push_back("show:" + Fixture::name(std::stoi(tried)) + (tried.back() == 'x' ? " (fails)" : ""));
      if (!expected.empty()) expected.push_back("caption:S/Show " + head.substr(1));
      f.host.calls.clear();
      f.press(head[0]);
      EXPECT_EQ(f.state.currentNumber, std::stoi(head.substr(1))) << row.name << ": " << step;
      EXPECT_EQ(f.host.calls, expected) << row.name << ": " << step;
    }
    EXPECT_EQ(f.host.onAir, Fixture::name(row.onAirAfter)) << row.name;
  }
}

// Steps pressed while an earlier one still loads land where the same steps
// pressed one by one land, with the same picture on air, and only the last
// of them puts a picture on air.
TEST(StepSequence, QuickStepsLandWhereSlowOnesLand) {
  const struct { const char* name; uint8_t current, end; std::initializer_list<int> present; const char* presses;
                 uint8_t number; int onAir; } rows[] = {
      {"two nexts over a missing file", 1, 5, {1, 3, 4}, "NN", 4, 4},
      {"three nexts", 1, 4, {1, 2, 3, 4}, "NNN", 4, 4},
      {"the second next finds nothing: the first's file stays", 2, 5, {1, 2, 3}, "NN", 5, 3},
      {"next to the end, then last", 4, 5, {4, 5}, "NL", 5, 5},
      {"next then previous", 2, 5, {1, 2, 3}, "NP", 2, 2},
      {"advance, then first", 1, 5, {1, 2}, "AF", 1, 1},
  };
  for (const auto& row : rows) {
    for (bool quick : {false, true}) {
      Fixture f(1, row.current, 1, row.end, row.present, row.current);
      f.host.later = quick;
      for (const char* p = row.presses; *p; ++p) f.press(*p);
      while (!f.host.pending.empty()) f.host.finish();
      EXPECT_EQ(std::pair(f.state.currentNumber, f.host.onAir), std::pair(row.number, Fixture::name(row.onAir)))
          << row.name << (quick ? " (quick)" : "");
      const auto onAirShows = std::count_if(f.host.calls.begin(), f.host.calls.end(), [](const std::string& c) {
        return c.rfind("show:", 0) == 0 && c.find(" (") == std::string::npos;
      });
      if (quick) { EXPECT_EQ(onAirShows, 1) << row.name; }
    }
  }
}

// The button by mode, and a new duration restarting the timer only in
// automatic mode when not resuming; clicks cycle the mode once unlocked.
TEST(SlideshowButton, CaptionColourAndTimerByModeAndTheClickCycle) {
  const struct { uint8_t mode; bool resume; Calls refresh, duration; } rows[] = {
      {0, false, {"button:SlideShow state 3", "timer:stop"}, {}}, {1, false, {"button:S/Show 07 state 1"}, {}},
      {2, false, {"button:S/Show 07 state 2", "timer:5000"}, {"timer:17000"}},
      {2, true, {"button:S/Show 07 state 2"}, {}}};  // resuming: the restore starts the timer
  for (const auto& row : rows) {
    Fixture f(row.mode, 7, 1, 9);
    f.state.numberFormat = 1;
    f.resume = row.resume;
    f.show.RefreshSlideshowButton();
    EXPECT_EQ(f.host.calls, row.refresh) << int(row.mode) << " resume " << row.resume;
    f.host.calls.clear();
    f.state.durationSecs = 17;
    f.show.OnDurationChanged();
    EXPECT_EQ(f.host.calls, row.duration) << int(row.mode) << " resume " << row.resume;
  }
  Fixture f(9, 3, 1, 9);  // a damaged mode: a click turns it off rather than counting on
  std::vector<int> modes;
  for (int i = 0; i < 5; ++i, modes.push_back(f.state.mode)) {
    f.show.OnSlideshowClicked();
    f.show.slideshowLocked = false;  // the first click comes while locked
  }
  EXPECT_EQ(modes, (std::vector<int>{9, 0, 1, 2, 0}));
}

// "Start number" and "End number" with the picture on air: each takes its
// number (capped at 255) and captions it; "Start number" picks the width
// from the digits (1 -> "1", 2 below 10 -> "01", 3 below 100 -> "001", else
// unchanged) and copies the dropped picture's path; then the other end's
// file is checked and the label names the prefix or the fault. Only the
// files /s/shot012.jpg and /e/shot03.jpg exist.
TEST(StartAndEndNumber, TakeTheNumberCaptionItAndCheckTheOtherEndsFile) {
  const struct {
    const char* path;
    uint8_t otherEnd, formatBefore;
    const char *caption, *probe;  // the caption call; the file checked
    uint8_t number, format;
  } rows[] = {
      {"/s/shot007.jpg", 12, 0, "start:Start at:- 007", "/s/shot012.jpg", 7, 2},
      {"/s/shot.jpg", 12, 1, "start:Start at:- 00", "/s/shot12.jpg", 0, 1},
      {"/s/shot7.jpg", 3, 2, "start:Start at:- 7", "/s/shot3.jpg", 7, 0},
      {"/s/shot07.jpg", 12, 0, "start:Start at:- 07", "/s/shot12.jpg", 7, 1},
      {"/s/shot12.jpg", 12, 2, "start:Start at:- 012", "/s/shot012.jpg", 12, 2},
      {"/s/shot099.jpg", 12, 0, "start:Start at:- 099", "/s/shot012.jpg", 99, 2},
      {"/s/shot100.jpg", 12, 1, "start:Start at:- 100", "/s/shot12.jpg", 100, 1},
      {"/s/shot300.jpg", 12, 0, "start:Start at:- 255", "/s/shot12.jpg", 255, 0},
      {"/s/shot0042.jpg", 12, 2, "start:Start at:- 042", "/s/shot012.jpg", 42, 2},
      {"/e/shot1234.jpg", 3, 1, "end:End at:- 255", "/e/shot03.jpg", 255, 1},
  };
  for (const auto& row : rows) {
    const bool start = row.path[1] == 's';
    Fixture f(0, 0, 0, 0);
    PathBuffer imagePath, slideshowPath;
    ASSERT_TRUE(imagePath.assign("/s/dropped.png") && slideshowPath.assign("/old/slides.png"));
    f.state.numberFormat = row.formatBefore;
    (start ? f.state.endNumber : f.state.startNumber) = row.otherEnd;
    f.host.loadable = {"/s/shot012.jpg", "/e/shot03.jpg"};
    if (start) f.show.OnStartNumber(row.path, imagePath, slideshowPath);
    else f.show.OnEndNumber(row.path);
    EXPECT_EQ(std::pair(start ? f.state.startNumber : f.state.endNumber, f.state.numberFormat),
              std::pair(row.number, row.format)) << row.path;
    const bool valid = f.host.loadable.count(row.probe) != 0;
    const Calls tail = {row.caption, std::string("probe:") + row.probe + (valid ? "" : " (fails)"),
                        "label:" + (valid ? std::string(row.path, 7) : start ? "Invalid seq end" : "Invalid seq start")};
    ASSERT_GE(f.host.calls.size(), 3u) << row.path;
    EXPECT_EQ(Calls(f.host.calls.end() - 3, f.host.calls.end()), tail) << row.path;
    EXPECT_EQ(f.state.sequenceValid, valid) << row.path;
    EXPECT_EQ(slideshowPath.toUtf8(), start ? "/s/dropped.png" : "/old/slides.png") << row.path;
  }
  Fixture f(1, 4, 3, 0);  // the number-format radios recaption the numbers that are not 0
  for (uint8_t format : {0, 2, 1}) {
    if (format == 1) f.state.endNumber = 9;
    f.show.OnNumberFormatChanged(format);
  }
  EXPECT_EQ(f.host.calls, (Calls{"start:Start at:- 003", "start:Start at:- 03", "end:End at:- 09"}));
}

// After a load the button is captioned only within start..end; the stored
// sequence is checked through its name; a saved automatic slideshow resumes
// at its start (the load moved its number to the end), others only unlock.
TEST(StartUp, CaptionCheckAndResume) {
  for (const auto& [mode, current, captioned] : {std::tuple{1, 3, true}, {2, 9, true}, {1, 2, false},
                                                {1, 10, false}, {0, 5, false}}) {
    Fixture f(uint8_t(mode), uint8_t(current), 3, 9);
    f.show.CaptionAfterLoad();
    EXPECT_EQ(f.host.calls.size(), captioned ? 1u : 0u) << mode << "/" << current;
  }
  const struct { std::initializer_list<int> present; const char* name; Calls calls; } rows[] = {
      {{1, 3}, "/s/shot2.jpg", {"probe:/s/shot1.jpg", "probe:/s/shot3.jpg", "label:/s/shot"}},
      {{1}, "/s/shot2.jpg", {"probe:/s/shot1.jpg", "probe:/s/shot3.jpg (fails)", "label:Invalid start or end"}},
      {{1, 3}, "/s/shot.jpg", {"label:Invalid start or end"}}};  // no number: nothing probed
  for (const auto& row : rows) {
    Fixture f(0, 0, 1, 3, row.present);
    f.show.CheckRestoredSequence(row.name);
    EXPECT_EQ(f.host.calls, row.calls) << row.name;
  }
  Fixture f(2, 9, 3, 9, {3, 4});
  f.resume = true;
  f.show.RefreshSlideshowButton();  // during the load: no timer yet
  EXPECT_TRUE(f.show.ResumeAfterRestore());
  f.show.AdvanceSlideshow();  // the timer's first tick
  EXPECT_EQ(f.host.calls, (Calls{"button:S/Show 9 state 2", "show:/s/shot3.jpg", "caption:S/Show 3", "timer:5000",
                                 "show:/s/shot4.jpg", "caption:S/Show 4"}));
  EXPECT_FALSE(f.resume || f.show.slideshowLocked);
  Fixture byHand(1, 2, 1, 5);
  EXPECT_FALSE(byHand.show.ResumeAfterRestore());
  EXPECT_TRUE(byHand.host.calls.empty());
  EXPECT_FALSE(byHand.show.slideshowLocked);
}

TEST(SlideshowPeriodMs, IsDurationTimesAThousandNeverZero) {
  for (const auto& [secs, ms] : {std::pair{2, 2000}, {240, 240000}, {0, 2000}, {255, 240000}})
    EXPECT_EQ(SlideshowPeriodMs(uint8_t(secs)), ms) << secs;
}

}  // namespace
}  // namespace plombix
