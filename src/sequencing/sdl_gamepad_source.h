// SdlGamepadSource: controller states from SDL2's game-controller API.
//
// User indices 0..3 are the first four attached game controllers in SDL's
// device order. Each query refreshes SDL's view of the devices and reads
// the buttons (A, B, X, Y, START and the other XInput buttons mapped to
// their XInput bits) and the sticks and triggers. The packet number is one
// counter for the whole source that goes up whenever the polled state of
// the queried controller differs from what it was at that controller's
// previous query, so a change of controller never makes packets go
// backwards.
//
// SDL is started here with its signal handlers off (the window keeps its
// own), events ignored, and works headless: with no controller, no udev and
// no display every query simply answers false. If SDL cannot start at all,
// the source stays usable and answers false.
#pragma once

#include <memory>

#include "gamepad.h"

namespace plombix {

class SdlGamepadSource final : public GamepadSource {
 public:
  SdlGamepadSource();
  ~SdlGamepadSource() override;
  SdlGamepadSource(const SdlGamepadSource&) = delete;
  SdlGamepadSource& operator=(const SdlGamepadSource&) = delete;

  bool query(int userIndex, GamepadState& state) override;

  // True when SDL's game-controller part started.
  [[nodiscard]] bool available() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace plombix
