// Controller states from SDL2's game-controller API. See
// sdl_gamepad_source.h.
#include "sdl_gamepad_source.h"

#include <SDL.h>

#include <array>
#include <map>
#include <vector>

namespace plombix {
namespace {

// SDL buttons and the XInput bits they stand for.
struct ButtonBit {
  SDL_GameControllerButton button;
  uint16_t bit;
};
constexpr std::array<ButtonBit, 14> kButtonBits{{
    {SDL_CONTROLLER_BUTTON_DPAD_UP, 0x0001},
    {SDL_CONTROLLER_BUTTON_DPAD_DOWN, 0x0002},
    {SDL_CONTROLLER_BUTTON_DPAD_LEFT, 0x0004},
    {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 0x0008},
    {SDL_CONTROLLER_BUTTON_START, 0x0010},
    {SDL_CONTROLLER_BUTTON_BACK, 0x0020},
    {SDL_CONTROLLER_BUTTON_LEFTSTICK, 0x0040},
    {SDL_CONTROLLER_BUTTON_RIGHTSTICK, 0x0080},
    {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, 0x0100},
    {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, 0x0200},
    {SDL_CONTROLLER_BUTTON_A, 0x1000},
    {SDL_CONTROLLER_BUTTON_B, 0x2000},
    {SDL_CONTROLLER_BUTTON_X, 0x4000},
    {SDL_CONTROLLER_BUTTON_Y, 0x8000},
}};

// Everything that moves the packet number: buttons, sticks, triggers.
struct Snapshot {
  uint16_t buttons = 0;
  std::array<int16_t, SDL_CONTROLLER_AXIS_MAX> axes{};
  friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

struct Controller {
  SDL_GameController* handle = nullptr;
  Snapshot last{};
  uint32_t packet = 0;
};

}  // namespace

struct SdlGamepadSource::Impl {
  bool started = false;
  uint32_t packetCounter = 0;
  std::map<SDL_JoystickID, Controller> open;  // by SDL instance id

  // Instance ids of the attached game controllers, in device order.
  std::vector<SDL_JoystickID> attached() const {
    std::vector<SDL_JoystickID> ids;
    const int count = SDL_NumJoysticks();
    for (int i = 0; i < count; ++i) {
      if (SDL_IsGameController(i)) ids.push_back(SDL_JoystickGetDeviceInstanceID(i));
    }
    return ids;
  }

  // Closes the controllers that are no longer attached.
  void closeGone(const std::vector<SDL_JoystickID>& ids) {
    for (auto it = open.begin(); it != open.end();) {
      bool present = false;
      for (const auto id : ids) present = present || id == it->first;
      if (present && SDL_GameControllerGetAttached(it->second.handle)) {
        ++it;
      } else {
        SDL_GameControllerClose(it->second.handle);
        it = open.erase(it);
      }
    }
  }

  Controller* controllerAt(int userIndex) {
    const auto ids = attached();
    closeGone(ids);
    if (userIndex < 0 || static_cast<std::size_t>(userIndex) >= ids.size()) return nullptr;
    const SDL_JoystickID id = ids[static_cast<std::size_t>(userIndex)];
    if (auto it = open.find(id); it != open.end()) return &it->second;
    // Device index of that instance id (the list may have moved).
    const int count = SDL_NumJoysticks();
    for (int i = 0; i < count; ++i) {
      if (SDL_JoystickGetDeviceInstanceID(i) != id) continue;
      SDL_GameController* handle = SDL_GameControllerOpen(i);
      if (handle == nullptr) return nullptr;
      Controller c;
      c.handle = handle;
      c.packet = ++packetCounter;  // the first state seen counts as new
      c.last = read(handle);
      return &open.emplace(id, c).first->second;
    }
    return nullptr;
  }

  static Snapshot read(SDL_GameController* handle) {
    Snapshot s;
    for (const auto& bb : kButtonBits) {
      if (SDL_GameControllerGetButton(handle, bb.button) != 0) s.buttons |= bb.bit;
    }
    for (int a = 0; a < SDL_CONTROLLER_AXIS_MAX; ++a) {
      s.axes[static_cast<std::size_t>(a)] =
          SDL_GameControllerGetAxis(handle, static_cast<SDL_GameControllerAxis>(a));
    }
    return s;
  }
};

SdlGamepadSource::SdlGamepadSource() : impl_(std::make_unique<Impl>()) {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
  if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) == 0) {
    impl_->started = true;
    // States are polled; nothing is to pile up in SDL's event queue.
    SDL_GameControllerEventState(SDL_IGNORE);
    SDL_JoystickEventState(SDL_IGNORE);
  }
}

SdlGamepadSource::~SdlGamepadSource() {
  if (!impl_->started) return;
  for (auto& [id, c] : impl_->open) SDL_GameControllerClose(c.handle);
  impl_->open.clear();
  SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
}

bool SdlGamepadSource::available() const { return impl_->started; }

bool SdlGamepadSource::query(int userIndex, GamepadState& state) {
  if (!impl_->started) return false;
  SDL_GameControllerUpdate();
  Controller* c = impl_->controllerAt(userIndex);
  if (c == nullptr) return false;
  const Snapshot now = Impl::read(c->handle);
  if (!(now == c->last)) {
    c->last = now;
    c->packet = ++impl_->packetCounter;
  }
  state.packetNumber = c->packet;
  state.buttons = now.buttons;
  return true;
}

}  // namespace plombix
