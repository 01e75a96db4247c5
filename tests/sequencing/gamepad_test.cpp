#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "gamepad.h"
#include "recording_hosts.h"
#include "scripted_gamepad_source.h"
#include "sdl_gamepad_source.h"

namespace plombix {
namespace {

using testing::Calls;
using testing::RecordingGamepadHost;
using testing::ScriptedGamepadSource;
using Steps = std::vector<StepAction>;

// A controller on user index 0, found at window creation, then driven tick
// by tick: `script[t]` is the button word held from tick t on.
struct Pad {
  ScriptedGamepadSource source;
  RecordingGamepadHost host;
  uint8_t present = 0;
  Gamepad pad{source, host, present};

  Pad() {
    source.plug(0);
    pad.DetectAtStartup();
    host.calls.clear();
  }
  // Runs ticks 0..ticks-1; before tick t the script's entry for t (if any)
  // is applied.
  void run(int ticks, const std::map<int, std::function<void()>>& script) {
    for (int t = 0; t < ticks; ++t) {
      if (auto it = script.find(t); it != script.end()) it->second();
      pad.PollGamepad();
    }
  }
  std::function<void()> hold(uint16_t buttons) {
    return [this, buttons] { source.setButtons(0, buttons); };
  }
};

TEST(PollGamepad, HoldingAForThreeSecondsGivesOneNext) {
  Pad p;
  p.run(60, {{0, p.hold(kPadA)}});
  EXPECT_EQ(p.host.steps, (Steps{StepNext}));
  // Also while other inputs keep making new packets (a stick moving every
  // tick): the held flag, not the hold-off, keeps A from acting again.
  Pad busy;
  std::map<int, std::function<void()>> script{{0, busy.hold(kPadA)}};
  for (int t = 1; t < 60; ++t) script[t] = [&busy] { busy.source.move(0); };
  busy.run(60, script);
  EXPECT_EQ(busy.host.steps, (Steps{StepNext}));
}

TEST(PollGamepad, FiveTapsWithinNineHundredMillisecondsGiveOneNext) {
  Pad p;
  std::map<int, std::function<void()>> script;
  for (int tap = 0; tap < 5; ++tap) {
    script[tap * 4] = p.hold(kPadA);       // ticks 0, 4, 8, 12, 16 (800 ms)
    script[tap * 4 + 2] = p.hold(0);
  }
  p.run(40, script);
  EXPECT_EQ(p.host.steps, (Steps{StepNext}));
}

TEST(PollGamepad, ARePressOneSecondAfterTheFirstGivesASecondNext) {
  Pad p;
  p.run(40, {{0, p.hold(kPadA)}, {5, p.hold(0)}, {20, p.hold(kPadA)}});
  EXPECT_EQ(p.host.steps, (Steps{StepNext, StepNext}));
}

TEST(PollGamepad, HoldOffEndsExactlyEighteenTicksAfterThePress) {
  // The counter is set to 18 at tick 0 and counts down at the end of every
  // tick from that one on: 17 after tick 0, ..., 0 after tick 17.
  Pad early;
  early.run(30, {{0, early.hold(kPadA)}, {2, early.hold(0)}, {17, early.hold(kPadA)}});
  EXPECT_EQ(early.host.steps, (Steps{StepNext}));
  Pad onTime;
  onTime.run(30, {{0, onTime.hold(kPadA)}, {2, onTime.hold(0)}, {18, onTime.hold(kPadA)}});
  EXPECT_EQ(onTime.host.steps, (Steps{StepNext, StepNext}));
}

TEST(PollGamepad, ButtonsPressedTogetherActInBitOrder) {
  Pad p;
  p.run(2, {{0, p.hold(kPadB | kPadA)}});
  EXPECT_EQ(p.host.steps, (Steps{StepNext, StepPrevious}));  // A is bit 12, B bit 13
  Pad all;
  all.run(2, {{0, all.hold(kPadY | kPadX | kPadB | kPadA | kPadStart)}});
  EXPECT_EQ(all.host.steps, (Steps{StepFirst, StepNext, StepPrevious, StepFirst, StepLast}));
}

TEST(PollGamepad, StartAndXBothGiveFirstAndYGivesLast) {
  const struct {
    const char* name;
    uint16_t button;
    Steps steps;
  } rows[] = {{"START", kPadStart, {StepFirst}}, {"X", kPadX, {StepFirst}}, {"Y", kPadY, {StepLast}},
              {"B", kPadB, {StepPrevious}},     {"BACK", 0x0020, {}},        {"DPAD UP", 0x0001, {}},
              {"shoulder", 0x0100, {}}};
  for (const auto& row : rows) {
    Pad p;
    p.run(3, {{0, p.hold(row.button)}});
    EXPECT_EQ(p.host.steps, row.steps) << row.name;
  }
}

TEST(PollGamepad, ARePressWithinTheHoldOffActsOnTheFirstLaterPacketAfterIt) {
  Pad p;
  // Pressed again at tick 10 (inside the hold-off) and kept down: nothing,
  // however long, while no new packet arrives. A stick moved at tick 40
  // makes a packet that finds A down and not held: the second Next.
  p.run(60, {{0, p.hold(kPadA)}, {5, p.hold(0)}, {10, p.hold(kPadA)}, {40, [&] { p.source.move(0); }}});
  EXPECT_EQ(p.host.steps, (Steps{StepNext, StepNext}));
  // Another button is also such an input: B at tick 40 acts after A.
  Pad q;
  q.run(60, {{0, q.hold(kPadA)}, {5, q.hold(0)}, {10, q.hold(kPadA)}, {40, q.hold(kPadA | kPadB)}});
  EXPECT_EQ(q.host.steps, (Steps{StepNext, StepNext, StepPrevious}));
}

TEST(PollGamepad, PacketsThatAreNotNewerAreNotProcessed) {
  ScriptedGamepadSource source;
  RecordingGamepadHost host;
  uint8_t present = 0;
  Gamepad pad(source, host, present);
  source.plug(0, 0);  // packet number 0: not newer than "none processed"
  pad.DetectAtStartup();
  pad.PollGamepad();
  EXPECT_TRUE(host.steps.empty());
  source.setButtons(0, kPadA);  // packet 1
  pad.PollGamepad();
  EXPECT_EQ(host.steps, (Steps{StepNext}));
}

TEST(DetectGamepad, FirstDetectionTriesIndexZeroOnlyThenTheLoadScansAllFour) {
  ScriptedGamepadSource source;
  RecordingGamepadHost host;
  uint8_t present = 1;  // as read from a file: replaced by detection
  Gamepad pad(source, host, present);
  source.plug(2);

  pad.DetectAtStartup();
  EXPECT_EQ(source.queries, (std::vector<int>{0}));
  EXPECT_EQ(present, 0);
  EXPECT_TRUE(host.calls.empty());  // the caption keeps reading "Find GamePad"

  pad.DetectAfterLoad();
  EXPECT_EQ(source.queries, (std::vector<int>{0, 0, 1, 2, 2}));
  EXPECT_EQ(pad.controllerIndex(), 2);
  EXPECT_EQ(present, 1);
  EXPECT_EQ(host.calls, (Calls{"timer:50"}));  // polling starts, caption unchanged
}

TEST(FindGamepad, FindsIndexTwoAndCaptionsIt) {
  ScriptedGamepadSource source;
  RecordingGamepadHost host;
  uint8_t present = 0;
  Gamepad pad(source, host, present);
  source.plug(2);
  pad.DetectAtStartup();
  pad.FindGamepad();
  EXPECT_EQ(present, 1);
  EXPECT_EQ(host.calls, (Calls{"caption:GamePad found", "timer:50"}));
  source.unplug(2);
  host.calls.clear();
  pad.FindGamepad();
  EXPECT_EQ(present, 0);
  EXPECT_EQ(host.calls, (Calls{"timer:stop", "caption:Find GamePad"}));
}

TEST(DetectAtStartup, AControllerOnIndexZeroIsFoundAndCaptioned) {
  ScriptedGamepadSource source;
  RecordingGamepadHost host;
  uint8_t present = 0;
  Gamepad pad(source, host, present);
  source.plug(0);
  pad.DetectAtStartup();
  EXPECT_EQ(present, 1);
  EXPECT_EQ(host.calls, (Calls{"caption:GamePad found", "timer:50"}));
}

TEST(PollGamepad, UnpluggingStopsThePollAndResetsTheCaption) {
  Pad p;
  p.source.setButtons(0, kPadA);
  p.source.unplug(0);
  p.pad.PollGamepad();
  EXPECT_EQ(p.host.calls, (Calls{"timer:stop", "caption:Find GamePad"}));
  EXPECT_EQ(p.present, 0);
  EXPECT_TRUE(p.host.steps.empty());
  EXPECT_EQ(p.pad.controllerIndex(), -1);
}

TEST(PollGamepad, EachTickQueriesTheControllerTwice) {
  Pad p;
  p.source.queries.clear();
  p.pad.PollGamepad();
  EXPECT_EQ(p.source.queries, (std::vector<int>{0, 0}));
}

TEST(StepControls, KeysAndButtonsMapToTheirActions) {
  EXPECT_EQ(StepActionForKey(StepKey::PageDown), StepNext);
  EXPECT_EQ(StepActionForKey(StepKey::PageUp), StepPrevious);
  EXPECT_EQ(StepActionForKey(StepKey::End), StepLast);
  EXPECT_EQ(StepActionForKey(StepKey::Home), StepFirst);
  int mapped = 0;
  for (int bit = 0; bit < 16; ++bit) mapped += StepActionForPadBit(static_cast<uint16_t>(1u << bit)) ? 1 : 0;
  EXPECT_EQ(mapped, 5);
  EXPECT_EQ(kStepButtons[2].upperText, std::string("A  ->"));
  EXPECT_EQ(kStepButtons[3].upperText, std::string("<-  B"));
}

TEST(SdlGamepadSource, AnswersFalseWithoutAControllerAndWithoutADisplay) {
  SdlGamepadSource source;
  GamepadState state{};
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(source.query(i, state)) << "user index " << i;
  EXPECT_FALSE(source.query(-1, state));
  EXPECT_FALSE(source.query(4, state));
  RecordingGamepadHost host;
  uint8_t present = 1;
  Gamepad pad(source, host, present);
  pad.FindGamepad();
  EXPECT_EQ(present, 0);
}

}  // namespace
}  // namespace plombix
