// ScriptedGamepadSource: controllers a test plugs in, presses and unplugs
// by hand (header-only: the window's tests use it too). As on a real
// controller, the packet number goes up whenever the state changes (other
// buttons, or move(): an analogue input that changes no button).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "gamepad.h"

namespace plombix::testing {

class ScriptedGamepadSource final : public GamepadSource {
 public:
  void plug(int userIndex, uint32_t firstPacket = 1) { pads_.at(size_t(userIndex)) = {true, {firstPacket, 0}}; }
  void unplug(int userIndex) { pads_.at(size_t(userIndex)).present = false; }
  // Holds exactly `buttons` down from now on.
  void setButtons(int userIndex, uint16_t buttons) {
    Pad& p = pads_.at(size_t(userIndex));
    if (p.state.buttons != buttons) p.state = {p.state.packetNumber + 1, buttons};
  }
  void move(int userIndex) { ++pads_.at(size_t(userIndex)).state.packetNumber; }

  bool query(int userIndex, GamepadState& state) override {
    queries.push_back(userIndex);
    if (userIndex < 0 || userIndex >= int(pads_.size()) || !pads_[size_t(userIndex)].present) return false;
    state = pads_[size_t(userIndex)].state;
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
