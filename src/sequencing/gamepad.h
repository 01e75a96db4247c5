// Game controller stepping: detection of a controller on user index 0..3,
// the 50 ms poll with per-button edge detection and an 18-tick hold-off,
// and the mapping of buttons to step actions.
//
// Timing in poll ticks of 50 ms: a press acts once; the same button acts
// again only after it was seen released in a processed packet and 18 ticks
// (900 ms) have passed since it last acted. Buttons pressed together act in
// bit order (bit 0 first) within one tick.
#pragma once

#include <array>
#include <cstdint>

#include "step_controls.h"
#include "viewer_config.h"

namespace plombix {

inline constexpr int kGamepadPollMs = 50;
inline constexpr int kGamepadHoldOffTicks = 18;
inline constexpr int kGamepadUserIndices = 4;
inline constexpr const char* kGamepadFoundCaption = "GamePad found";
inline constexpr const char* kFindGamepadCaption = "Find GamePad";

// One polled controller state: the packet number goes up whenever the
// controller's state changed; the button word uses the XInput bit values
// (step_controls.h: START 0x0010, A 0x1000, B 0x2000, X 0x4000, Y 0x8000).
struct GamepadState {
  uint32_t packetNumber = 0;
  uint16_t buttons = 0;
};

// Where controller states come from. Tests use a scripted source
// (tests/sequencing/scripted_gamepad_source.h); the player uses
// SdlGamepadSource.
class GamepadSource {
 public:
  virtual ~GamepadSource() = default;
  // Fills `state` for controller `userIndex` (0..3); false when there is
  // no controller there.
  virtual bool query(int userIndex, GamepadState& state) = 0;
};

class GamepadHost {
 public:
  virtual ~GamepadHost() = default;
  // Sends the step message synchronously: the step (picture load and send
  // included) has finished when this returns.
  virtual void sendStep(StepAction action) = 0;
  // "Find GamePad" button (1060) caption.
  virtual void setGamepadCaption(const char* caption) = 0;
  // TIMER_GAMEPAD: (re)start with a period, or stop.
  virtual void startGamepadTimer(int periodMs) = 0;
  virtual void stopGamepadTimer() = 0;
};

class Gamepad {
 public:
  // `gamepadPresent` is the field of the live SlideshowState.
  Gamepad(GamepadSource& source, GamepadHost& host, uint8_t& gamepadPresent)
      : source_(source), host_(host), gamepadPresent_(gamepadPresent) {}

  // Looks for a controller. With no controller index (-1) it scans user
  // indices 0..3 and takes the first that answers; then it queries the
  // index in use into the held state. The index starts at 0, so the very
  // first detection tries index 0 only. A failed query forgets the index.
  bool DetectGamepad();

  // At window creation: detect, gamepadPresent := result; when found,
  // caption "GamePad found" and start the poll.
  void DetectAtStartup();

  // After a successful configuration load: detect, gamepadPresent :=
  // result, start the poll when found. The caption is not changed.
  void DetectAfterLoad();

  // "Find GamePad" clicked: detect, gamepadPresent := result; caption
  // "GamePad found" and start the poll, or caption "Find GamePad" and stop
  // it.
  void FindGamepad();

  // One TIMER_GAMEPAD tick: a failed detection stops the poll, clears
  // gamepadPresent and captions "Find GamePad"; otherwise a newer packet is
  // run through the button bookkeeping (steps sent through the host), and
  // every hold-off counter above 0 goes down by one.
  void PollGamepad();

  [[nodiscard]] int controllerIndex() const { return controllerIndex_; }

 private:
  // DetectGamepad with its result stored in gamepadPresent.
  bool detectIntoPresent();
  // Caption "GamePad found" and start the poll.
  void announceFound();

  GamepadSource& source_;
  GamepadHost& host_;
  uint8_t& gamepadPresent_;
  int controllerIndex_ = 0;
  GamepadState state_{};
  uint32_t lastPacket_ = 0;
  std::array<uint16_t, 16> held_{};
  std::array<uint16_t, 16> holdOff_{};
};

}  // namespace plombix
