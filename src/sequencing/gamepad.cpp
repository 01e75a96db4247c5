// Gamepad detection and the polled button bookkeeping. See gamepad.h.
#include "gamepad.h"

namespace plombix {

bool Gamepad::DetectGamepad() {
  if (controllerIndex_ == -1) {
    for (int i = 0; i < kGamepadUserIndices && controllerIndex_ == -1; ++i) {
      GamepadState probe{};
      if (source_.query(i, probe)) controllerIndex_ = i;
    }
  }
  if (controllerIndex_ == -1) return false;
  state_ = GamepadState{};
  if (source_.query(controllerIndex_, state_)) return true;
  controllerIndex_ = -1;
  return false;
}

bool Gamepad::detectIntoPresent() {
  const bool found = DetectGamepad();
  gamepadPresent_ = found ? 1 : 0;
  return found;
}

void Gamepad::announceFound() {
  host_.setGamepadCaption(kGamepadFoundCaption);
  host_.startGamepadTimer(kGamepadPollMs);
}

void Gamepad::DetectAtStartup() {
  if (detectIntoPresent()) announceFound();
}

void Gamepad::DetectAfterLoad() {
  if (detectIntoPresent()) host_.startGamepadTimer(kGamepadPollMs);
}

void Gamepad::FindGamepad() {
  if (detectIntoPresent()) {
    announceFound();
  } else {
    host_.stopGamepadTimer();
    host_.setGamepadCaption(kFindGamepadCaption);
  }
}

void Gamepad::PollGamepad() {
  if (!DetectGamepad()) {
    host_.stopGamepadTimer();
    gamepadPresent_ = 0;
    host_.setGamepadCaption(kFindGamepadCaption);
    return;
  }
  if (!source_.query(controllerIndex_, state_)) return;

  if (state_.packetNumber > lastPacket_) {
    for (int bit = 0; bit < 16; ++bit) {
      const auto mask = static_cast<uint16_t>(1u << bit);
      if ((state_.buttons & mask) == 0) {
        held_[bit] = 0;
      } else if (held_[bit] == 0 && holdOff_[bit] == 0) {
        if (const auto action = StepActionForPadBit(mask)) host_.sendStep(*action);
        held_[bit] = 1;
        holdOff_[bit] = kGamepadHoldOffTicks;
      }
    }
    lastPacket_ = state_.packetNumber;
  }
  for (auto& counter : holdOff_) {
    if (counter > 0) --counter;
  }
}

}  // namespace plombix
