// Ids and periods of the main window's timers. One dispatch method receives
// every tick by id; starting an id that runs restarts it with the new period.
#pragma once

namespace plombix {

enum TimerId : int {
  TIMER_START = 1,      // once, 2,500 ms after start-up: number, sender, first frame
  TIMER_TICK = 2,       // 40 ms: tally, one-second resend, activity lamp
  TIMER_FADE = 4,       // 10 ms while a cross-fade runs
  TIMER_RESTORE = 5,    // once, 10,000 ms after the start tick
  TIMER_WATCH = 6,      // 2,500 ms: file watch poll
  TIMER_WATCH_RETRY = 7,  // once, 250 ms after a watched file's re-show failed: one more poll
  TIMER_GAMEPAD = 8,    // 50 ms: game controller poll
  TIMER_SLIDESHOW = 9,  // durationSecs x 1,000 ms
  TIMER_NOTICE = 10,    // once: a load failure's notice gives way to the name on air
};

inline constexpr int kStartDelayMs = 2500;
inline constexpr int kTickPeriodMs = 40;
inline constexpr int kFadePeriodMs = 10;
inline constexpr int kRestoreDelayMs = 10000;
inline constexpr int kWatchPeriodMs = 2500;
inline constexpr int kGamepadPeriodMs = 50;
inline constexpr int kNoticeMs = 4000;

// 40 ms ticks to one second.
inline constexpr int kTicksPerSecond = 25;

}  // namespace plombix
