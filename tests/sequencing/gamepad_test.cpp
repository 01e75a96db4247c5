#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

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

// A controller on user index 0, found at window creation.
struct Pad {
  ScriptedGamepadSource source;
  RecordingGamepadHost host;
  uint8_t present = 0;
  Gamepad pad{source, host, present};

  explicit Pad(uint32_t firstPacket = 1) {
    source.plug(0, firstPacket);
    pad.DetectAtStartup();
    host.calls.clear();
  }
};

// Button scripts on a controller polled every 50 ms tick. `events` maps a
// tick to the buttons held from it on; kMove is an analogue input that
// changes no button but makes a new packet.
TEST(PollGamepad, HoldOffAndHeldButtonsGiveOneStepAPress) {
  constexpr int kMove = -1;
  const struct {
    const char* name;
    int ticks;
    bool moveEveryTick;
    std::vector<std::pair<int, int>> events;  // tick, buttons (or kMove)
    Steps steps;
    uint32_t firstPacket = 1;
  } rows[] = {
      {"A held three seconds: one Next", 60, false, {{0, kPadA}}, {StepNext}},
      {"A held while a stick moves every tick: the held flag stops it", 60, true, {{0, kPadA}}, {StepNext}},
      // Ticks 0, 4, 8, 12, 16 (800 ms).
      {"five taps within 900 ms: one Next", 40, false,
       {{0, kPadA}, {2, 0}, {4, kPadA}, {6, 0}, {8, kPadA}, {10, 0}, {12, kPadA}, {14, 0}, {16, kPadA},
        {18, 0}},
       {StepNext}},
      {"A again a second after the first: a second Next", 40, false, {{0, kPadA}, {5, 0}, {20, kPadA}},
       {StepNext, StepNext}},
      // The hold-off is set to 18 at tick 0 and counts down at the end of
      // every tick from that one on: 17 after tick 0, ..., 0 after tick 17.
      {"pressed again at tick 17: inside the hold-off", 30, false, {{0, kPadA}, {2, 0}, {17, kPadA}},
       {StepNext}},
      {"pressed again at tick 18: acts", 30, false, {{0, kPadA}, {2, 0}, {18, kPadA}}, {StepNext, StepNext}},
      // Pressed again inside the hold-off and kept down: nothing while no
      // new packet arrives; a stick moved at tick 40 makes a packet that
      // finds A down and not held. Another button is such an input too.
      {"re-press inside the hold-off acts on the first later packet", 60, false,
       {{0, kPadA}, {5, 0}, {10, kPadA}, {40, kMove}}, {StepNext, StepNext}},
      {"re-press inside the hold-off, then B", 60, false,
       {{0, kPadA}, {5, 0}, {10, kPadA}, {40, kPadA | kPadB}}, {StepNext, StepNext, StepPrevious}},
      {"pressed together act in bit order (A bit 12, B bit 13)", 2, false, {{0, kPadB | kPadA}},
       {StepNext, StepPrevious}},
      // START (bit 4) First, A Next, B Previous, X (bit 14) First, Y (bit 15) Last.
      {"all five together", 2, false, {{0, kPadY | kPadX | kPadB | kPadA | kPadStart}},
       {StepFirst, StepNext, StepPrevious, StepFirst, StepLast}},
      {"BACK, DPAD UP and a shoulder give nothing", 3, false, {{0, 0x0020 | 0x0001 | 0x0100}}, {}},
      {"a first packet numbered 0 is not newer than none processed", 2, false, {{1, kPadA}}, {StepNext}, 0},
  };
  for (const auto& row : rows) {
    Pad p(row.firstPacket);
    for (int t = 0; t < row.ticks; ++t) {
      for (const auto& [tick, buttons] : row.events)
        if (tick == t) buttons == kMove ? p.source.move(0) : p.source.setButtons(0, uint16_t(buttons));
      if (row.moveEveryTick && t > 0) p.source.move(0);
      p.pad.PollGamepad();
    }
    EXPECT_EQ(p.host.steps, row.steps) << row.name;
  }
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

TEST(FindGamepad, FindsAnyIndexAndCaptionsItAtStartUpIndexZeroOnly) {
  for (int index : {0, 2}) {
    ScriptedGamepadSource source;
    RecordingGamepadHost host;
    uint8_t present = 0;
    Gamepad pad(source, host, present);
    source.plug(index);
    pad.DetectAtStartup();
    if (index != 0) pad.FindGamepad();
    EXPECT_EQ(present, 1) << index;
    EXPECT_EQ(host.calls, (Calls{"caption:GamePad found", "timer:50"})) << index;
    source.unplug(index);
    host.calls.clear();
    pad.FindGamepad();
    EXPECT_EQ(present, 0) << index;
    EXPECT_EQ(host.calls, (Calls{"timer:stop", "caption:Find GamePad"})) << index;
  }
}

TEST(PollGamepad, EachTickQueriesTwiceAndUnpluggingStopsThePollAndResetsTheCaption) {
  Pad p;
  p.source.queries.clear();
  p.pad.PollGamepad();
  EXPECT_EQ(p.source.queries, (std::vector<int>{0, 0}));
  p.source.setButtons(0, kPadA);
  p.source.unplug(0);
  p.pad.PollGamepad();
  EXPECT_EQ(p.host.calls, (Calls{"timer:stop", "caption:Find GamePad"}));
  EXPECT_EQ(p.present, 0);
  EXPECT_TRUE(p.host.steps.empty());
  EXPECT_EQ(p.pad.controllerIndex(), -1);
}

// Keys and pad bits as the step buttons' captions promise: Home / X /
// START first, End / Y last, PgDn / A next, PgUp / B previous; no other bit.
TEST(StepControls, KeysAndButtonsMapToTheirActions) {
  for (const auto& [key, action] : {std::pair{StepKey::PageDown, StepNext}, {StepKey::PageUp, StepPrevious},
                                    {StepKey::End, StepLast}, {StepKey::Home, StepFirst}})
    EXPECT_EQ(StepActionForKey(key), action) << action;
  const std::map<int, StepAction> pad = {{4, StepFirst}, {12, StepNext}, {13, StepPrevious}, {14, StepFirst},
                                         {15, StepLast}};
  for (int bit = 0; bit < 16; ++bit) {
    const auto action = StepActionForPadBit(static_cast<uint16_t>(1u << bit));
    EXPECT_EQ(action, pad.count(bit) ? std::optional(pad.at(bit)) : std::nullopt) << "bit " << bit;
  }
  for (const StepButtonFace& face : kStepButtons) {
    const std::string letter = face.action == StepFirst ? "X" : face.action == StepLast ? "Y"
                               : face.action == StepNext ? "A  ->" : "<-  B";
    EXPECT_EQ(face.upperText, letter) << face.controlId;
  }
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
