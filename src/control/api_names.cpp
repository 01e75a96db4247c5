#include "api_names.h"

#include <cstdio>

namespace plombix::control {
namespace {

constexpr ResolutionName kResolutions[] = {
    {"4096x2160", "4096 x 2160", 4096, 2160},
    {"3840x2160", "3840 x 2160", 3840, 2160},
    {"2560x1440", "2560 x 1440", 2560, 1440},
    {"1920x1080", "1920 x 1080", 1920, 1080},
    {"1280x720", "1280 x 720", 1280, 720},
    {"1080x1920", "1080 x 1920 (9:16)", 1080, 1920},
    {"960x540", "960 x 540", 960, 540},
    {"720x576", "720 x 576 (4:3)", 720, 576},
    {"720x480", "720 x 480 (4:3)", 720, 480},
    {"640x360", "640 x 360", 640, 360},
};

// 25 frames a second is the fraction 30000/1200, as the menu sends it.
constexpr FrameRateName kFrameRates[] = {
    {"25", 30000, 1200},
    {"29.97", 30000, 1001},
    {"30", 30000, 1000},
    {"50", 60000, 1200},
    {"60", 60000, 1000},
};

template <typename Enum, size_t N>
std::optional<Enum> FindName(const char* const (&names)[N], std::string_view text) {
  for (size_t i = 0; i < N; ++i)
    if (text == names[i]) return Enum(i);
  return std::nullopt;
}

// In the order of each enum's values.
constexpr const char* kBackgroundNames[] = {"black", "white", "grad1", "grad2", "grad3",
                                            "grad4", "grad5", "grad6", "grabbed", "transparent"};
constexpr const char* kScalingNames[] = {"none", "contain", "fill"};
constexpr const char* kRangeNames[] = {"full", "video"};
constexpr const char* kTransitionNames[] = {"cut", "fade"};
constexpr const char* kSlideshowNames[] = {"off", "manual", "auto"};
constexpr const char* kTallyNames[] = {"none", "program", "preview"};
constexpr const char* kStepNames[] = {"next", "previous", "first", "last"};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::span<const ResolutionName> ResolutionNames() { return kResolutions; }
std::span<const FrameRateName> FrameRateNames() { return kFrameRates; }

std::optional<ResolutionName> ParseResolution(std::string_view text) {
  for (const ResolutionName& r : kResolutions) {
    const std::string_view menu = r.menuText;
    // "1080 x 1920" without the menu's " (9:16)" is accepted too.
    const std::string_view shortMenu = menu.substr(0, menu.find(" ("));
    if (text == r.name || text == menu || text == shortMenu) return r;
  }
  return std::nullopt;
}

std::optional<FrameRateName> ParseFrameRate(std::string_view text) {
  if (!text.empty() && text.back() == 'p') text.remove_suffix(1);
  for (const FrameRateName& f : kFrameRates)
    if (text == f.name) return f;
  return std::nullopt;
}

const char* NameOf(Background v) { return kBackgroundNames[int(v)]; }
const char* NameOf(Scaling v) { return kScalingNames[int(v)]; }
const char* NameOf(Range v) { return kRangeNames[int(v)]; }
const char* NameOf(Transition v) { return kTransitionNames[int(v)]; }
const char* NameOf(SlideshowMode v) { return kSlideshowNames[int(v)]; }
const char* NameOf(Tally v) { return kTallyNames[int(v)]; }
const char* NameOf(Step v) { return kStepNames[int(v)]; }

std::optional<Background> ParseBackground(std::string_view text) {
  return FindName<Background>(kBackgroundNames, text);
}
std::optional<Scaling> ParseScaling(std::string_view text) { return FindName<Scaling>(kScalingNames, text); }
std::optional<Range> ParseRange(std::string_view text) { return FindName<Range>(kRangeNames, text); }
std::optional<Transition> ParseTransition(std::string_view text) {
  return FindName<Transition>(kTransitionNames, text);
}
std::optional<Step> ParseStep(std::string_view text) { return FindName<Step>(kStepNames, text); }
std::optional<SlideshowMode> ParseSlideshowMode(std::string_view text) {
  return FindName<SlideshowMode>(kSlideshowNames, text);
}

std::optional<Rgb> ParseColour(std::string_view text) {
  if (text.size() != 7 || text[0] != '#') return std::nullopt;
  Rgb value = 0;
  for (size_t i = 1; i < 7; ++i) {
    const int d = HexDigit(text[i]);
    if (d < 0) return std::nullopt;
    value = (value << 4) | Rgb(d);
  }
  return value;
}

std::string ColourText(Rgb colour) {
  char text[8];
  std::snprintf(text, sizeof text, "#%06x", unsigned(colour & 0xFFFFFFu));
  return text;
}

std::string NumberFormatText(int numberFormat) {
  if (numberFormat <= 0) return "1";
  if (numberFormat == 1) return "01";
  return "001";
}

}  // namespace plombix::control
