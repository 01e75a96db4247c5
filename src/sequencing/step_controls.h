// Step actions and the controls that trigger them: keys, gamepad buttons
// and the four two-line step buttons, with the colours of the window's
// state-coloured buttons. Pure data for the window to apply.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace plombix {

// The first parameter of the step message (WM_STEP).
enum StepAction : int {
  StepNext = 1,
  StepPrevious = 2,
  StepLast = 3,   // to endNumber
  StepFirst = 4,  // to startNumber
};

// Window message number of the step message: the first application-defined
// message (WM_USER + 1).
inline constexpr int kWmStep = 0x0401;

[[nodiscard]] constexpr bool IsStepAction(int code) { return code >= StepNext && code <= StepFirst; }

// Keys seen before the window's own handling; each sends its step and then
// takes its normal course.
enum class StepKey { PageDown, PageUp, End, Home };

[[nodiscard]] constexpr StepAction StepActionForKey(StepKey key) {
  switch (key) {
    case StepKey::PageDown: return StepNext;
    case StepKey::PageUp: return StepPrevious;
    case StepKey::End: return StepLast;
    case StepKey::Home: return StepFirst;
  }
  return StepNext;
}

// Gamepad button bits (XInput values) and the actions of the mapped ones.
inline constexpr uint16_t kPadStart = 0x0010;
inline constexpr uint16_t kPadA = 0x1000;
inline constexpr uint16_t kPadB = 0x2000;
inline constexpr uint16_t kPadX = 0x4000;
inline constexpr uint16_t kPadY = 0x8000;

[[nodiscard]] constexpr std::optional<StepAction> StepActionForPadBit(uint16_t bit) {
  switch (bit) {
    case kPadStart: return StepFirst;
    case kPadA: return StepNext;
    case kPadB: return StepPrevious;
    case kPadX: return StepFirst;
    case kPadY: return StepLast;
    default: return std::nullopt;
  }
}

// Colour states of the state-coloured buttons (their colours are the
// buttons' shared table: 1 pink, 2 green, 3 pale; 4 a button's own colour).
inline constexpr int kColourStateHand = 1;    // "Grabbed"; Slideshow by hand
inline constexpr int kColourStateOn = 2;      // "Fade", "Watching", Slideshow automatic
inline constexpr int kColourStateIdle = 3;    // start state of every toggle
inline constexpr int kColourStateOwnFace = 4; // the X and Y step buttons' own colour

// The four step buttons (two-line text, no pressed-state colour). Buttons in
// colour state 4 get their face colour as their state-4 colour; the others
// show the shared colour of their state, which is the same colour.
struct StepButtonFace {
  int controlId;
  const char* upperText;
  const char* lowerText;
  int colourState;
  uint8_t red, green, blue;  // face colour
  StepAction action;
};

inline constexpr std::array<StepButtonFace, 4> kStepButtons{{
    {1070, "X", "Home", kColourStateOwnFace, 164, 184, 252, StepFirst},
    {1050, "Y", "End", kColourStateOwnFace, 252, 252, 184, StepLast},
    {1072, "A  ->", "PgDn", kColourStateOn, 184, 252, 184, StepNext},
    {1071, "<-  B", "PgUp", kColourStateHand, 252, 184, 184, StepPrevious},
}};

// The toggles that start in the idle state with their own window text:
// Grab, Grab Overlay, Cut/Fade, Watch, Slideshow.
inline constexpr std::array<int, 5> kIdleToggleIds{{1048, 1067, 1021, 1000, 1056}};

}  // namespace plombix
