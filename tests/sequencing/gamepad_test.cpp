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
    EXPECT_EQ(host.calls, (Calls{"caption:GamePad found", "timer:50"}));
    host.calls.clear();
  }
};

// Button scripts on a controller polled every 50 ms tick: `events` maps a
// tick to the buttons held from it on (kMove: an analogue input, a new
// packet without a button). The hold-off is 18 at tick 0 and counts down
// at the end of every tick: 0 after tick 17. A button pressed again inside
// it and kept down acts on the first later packet (a move, another button).
// Pressed together they act in bit order: START (4) First, A (12) Next, B
// (13) Previous, X (14) First, Y (15) Last.
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
      {"A held three seconds", 60, false, {{0, kPadA}}, {StepNext}},
      {"A held while a stick moves every tick", 60, true, {{0, kPadA}}, {StepNext}},
      {"five taps within 900 ms", 40, false,
       {{0, kPadA}, {2, 0}, {4, kPadA}, {6, 0}, {8, kPadA}, {10, 0}, {12, kPadA}, {14, 0}, {16, kPadA}, {18, 0}},
       {StepNext}},
      {"A again a second later", 40, false, {{0, kPadA}, {5, 0}, {20, kPadA}}, {StepNext, StepNext}},
      {"again at tick 17: inside the hold-off", 30, false, {{0, kPadA}, {2, 0}, {17, kPadA}}, {StepNext}},
      {"again at tick 18", 30, false, {{0, kPadA}, {2, 0}, {18, kPadA}}, {StepNext, StepNext}},
      {"kept down inside the hold-off, then a move", 60, false, {{0, kPadA}, {5, 0}, {10, kPadA}, {40, kMove}},
       {StepNext, StepNext}},
      {"kept down inside the hold-off, then B", 60, false, {{0, kPadA}, {5, 0}, {10, kPadA}, {40, kPadA | kPadB}},
       {StepNext, StepNext, StepPrevious}},
      {"all five together", 2, false, {{0, kPadY | kPadX | kPadB | kPadA | kPadStart}},
       {StepFirst, StepNext, StepPrevious, StepFirst, StepLast}},
      {"BACK, DPAD UP and a shoulder", 3, false, {{0, 0x0020 | 0x0001 | 0x0100}}, {}},
      {"a first packet numbered 0 is not newer than none", 2, false, {{1, kPadA}}, {StepNext}, 0},
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

// Start-up tries index 0 only (the file's present flag is replaced); after
// the settings load all four are scanned and the poll starts without a
// caption; Find GamePad finds any index and captions it; unplugged, the
// poll (two queries a tick) stops and the caption returns.
TEST(DetectGamepad, StartUpLoadFindAndUnplug) {
  ScriptedGamepadSource source;
  RecordingGamepadHost host;
  uint8_t present = 1;
  Gamepad pad(source, host, present);
  source.plug(2);
  pad.DetectAtStartup();
  EXPECT_EQ(std::pair(source.queries, present), std::pair(std::vector<int>{0}, uint8_t(0)));
  pad.DetectAfterLoad();
  EXPECT_EQ(source.queries, (std::vector<int>{0, 0, 1, 2, 2}));
  EXPECT_EQ(std::pair(pad.controllerIndex(), present), std::pair(2, uint8_t(1)));
  EXPECT_EQ(host.calls, (Calls{"timer:50"}));
  source.queries.clear();
  pad.PollGamepad();
  EXPECT_EQ(source.queries, (std::vector<int>{2, 2}));
  source.setButtons(2, kPadA);
  source.unplug(2);
  pad.PollGamepad();
  EXPECT_TRUE(host.steps.empty());
  EXPECT_EQ(std::pair(pad.controllerIndex(), present), std::pair(-1, uint8_t(0)));
  source.plug(0);
  pad.FindGamepad();
  source.unplug(0);
  pad.FindGamepad();
  EXPECT_EQ(host.calls, (Calls{"timer:50", "timer:stop", "caption:Find GamePad", "caption:GamePad found", "timer:50",
                               "timer:stop", "caption:Find GamePad"}));
  Pad atStart;  // found at start-up on index 0: captioned
  EXPECT_EQ(atStart.present, 1);
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
  for (const StepButtonFace& face : kStepButtons)  // the button's letter does its pad button's step
    EXPECT_EQ(face.action, *StepActionForPadBit(face.upperText[0] == 'X' ? kPadX : face.upperText[0] == 'Y' ? kPadY
                                                : face.upperText[0] == 'A' ? kPadA : kPadB)) << face.controlId;
}

TEST(SdlGamepadSource, AnswersFalseWithoutAControllerAndWithoutADisplay) {
  SdlGamepadSource source;
  GamepadState state{};
  for (int i = -1; i < 5; ++i) EXPECT_FALSE(source.query(i, state)) << "user index " << i;
  RecordingGamepadHost host;
  uint8_t present = 1;
  Gamepad(source, host, present).FindGamepad();
  EXPECT_EQ(present, 0);
}

}  // namespace
}  // namespace plombix
