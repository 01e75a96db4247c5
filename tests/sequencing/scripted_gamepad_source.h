// ScriptedGamepadSource: a GamepadSource whose controllers a test plugs in,
// presses and unplugs by hand. Header-only so that the window's tests can
// use it too (add tests/sequencing to their include path).
//
// Like a real controller, each controller's packet number goes up whenever
// its state changes (setButtons with other buttons, or move() for an
// analogue input that changes no button) and stays put otherwise.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "gamepad.h"

namespace plombix::testing {

class ScriptedGamepadSource final : public GamepadSource {
 public:
  void plug(int userIndex, uint32_t firstPacket = 1) {
    Pad& p = pads_.at(static_cast<std::size_t>(userIndex));
    p.present = true;
    p.state = GamepadState{firstPacket, 0};
  }
  void unplug(int userIndex) { pads_.at(static_cast<std::size_t>(userIndex)).present = false; }

  // Holds exactly `buttons` down from now on.
  void setButtons(int userIndex, uint16_t buttons) {
    Pad& p = pads_.at(static_cast<std::size_t>(userIndex));
    if (p.state.buttons == buttons) return;
    p.state.buttons = buttons;
    ++p.state.packetNumber;
  }
  // An input that changes no button (a stick moved): a new packet only.
  void move(int userIndex) { ++pads_.at(static_cast<std::size_t>(userIndex)).state.packetNumber; }

  bool query(int userIndex, GamepadState& state) override {
    queries.push_back(userIndex);
    if (userIndex < 0 || userIndex >= static_cast<int>(pads_.size())) return false;
    const Pad& p = pads_[static_cast<std::size_t>(userIndex)];
    if (!p.present) return false;
    state = p.state;
    return true;
  }

  std::vector<int> queries;  // every user index asked for, in order

 private:
  struct Pad {
    bool present = false;
    GamepadState state{};
  };
  std::array<Pad, 4> pads_{};
};

}  // namespace plombix::testing
