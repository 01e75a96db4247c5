// The output formats and backgrounds the operator chooses from, keyed by the
// command ids of the Resolution, Framerate and Background menus. The ids are
// also what the settings file stores, so they never change.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace plombix {

struct ResolutionEntry {
  int id;
  const char* menuText;
  const char* caption;  // the Resolution button's caption once chosen
  int width;
  int height;
};

struct FrameRateEntry {
  int id;
  const char* text;  // menu text and button caption
  int frameRateN;
  int frameRateD;
};

struct BackgroundEntry {
  int id;
  const char* menuText;  // nullptr: not offered in the menu
  bool inGradientSubmenu;
  const char* caption;   // the Background button's caption once chosen
  int backgroundMode;
};

// In menu order.
std::span<const ResolutionEntry> ResolutionEntries();
std::span<const FrameRateEntry> FrameRateEntries();
std::span<const BackgroundEntry> BackgroundEntries();

// Look-ups by command id; nullptr for an id that is not listed.
const ResolutionEntry* FindResolution(int id);
const FrameRateEntry* FindFrameRate(int id);
const BackgroundEntry* FindBackground(int id);

// Picture aspect ratio sent with frames of this size (integer arithmetic,
// truncating): (w*16)/h == 9 -> 9:16; (w*9)/h == 16 -> 16:9; else 4:3.
// So 4096 x 2160 is sent as 4:3.
float AspectRatioFor(int outputWidth, int outputHeight);

inline constexpr float kAspect16x9 = 16.0f / 9.0f;  // 1.7777778, bits 0x3FE38E39
inline constexpr float kAspect9x16 = 9.0f / 16.0f;  // 0.5625
inline constexpr float kAspect4x3 = 4.0f / 3.0f;    // 1.3333334, bits 0x3FAAAAAB

// "%d x %d - %2.2f fps", the rate as N / D in floating point.
std::string OutputLineText(int outputWidth, int outputHeight, int frameRateN, int frameRateD);

}  // namespace plombix
