// The texts of the remote-control API: each enum of control_host.h by its
// JSON name, and the Resolution and Framerate menu texts by their figures.
//
// The resolution and frame-rate tables repeat the figures of the window's
// menus (ten sizes, five rates, in menu order) so that this layer needs
// nothing of the output's; the window maps the figures back to its menu
// entries, and a test checks that both tables agree.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "control_host.h"

namespace plombix::control {

struct ResolutionName {
  const char* name;      // "1920x1080": the API's own form
  const char* menuText;  // "1920 x 1080" or "1080 x 1920 (9:16)": also accepted
  int width;
  int height;
};

struct FrameRateName {
  const char* name;  // "29.97"; also accepted with a trailing "p"
  int frameRateN;
  int frameRateD;
};

std::span<const ResolutionName> ResolutionNames();
std::span<const FrameRateName> FrameRateNames();

// A resolution text: "1920x1080", "1920 x 1080" or the full menu text.
std::optional<ResolutionName> ParseResolution(std::string_view text);
// A frame-rate text: "25", "29.97", "30", "50", "60", each with or without "p".
std::optional<FrameRateName> ParseFrameRate(std::string_view text);

// JSON names. The Parse functions take exactly these texts.
const char* NameOf(Background v);  // black white grad1..grad6 grabbed transparent
const char* NameOf(Scaling v);     // none contain fill
const char* NameOf(Range v);       // full video
const char* NameOf(Transition v);  // cut fade
const char* NameOf(SlideshowMode v);  // off manual auto
const char* NameOf(Tally v);       // none program preview
const char* NameOf(Step v);        // next previous first last

std::optional<Background> ParseBackground(std::string_view text);
std::optional<Scaling> ParseScaling(std::string_view text);
std::optional<Range> ParseRange(std::string_view text);
std::optional<Transition> ParseTransition(std::string_view text);
std::optional<Step> ParseStep(std::string_view text);
std::optional<SlideshowMode> ParseSlideshowMode(std::string_view text);

// "#rrggbb" (either letter case) <-> 0xRRGGBB.
std::optional<Rgb> ParseColour(std::string_view text);
std::string ColourText(Rgb colour);  // lower case

// The number format as the window's radio buttons show it: "1", "01", "001".
std::string NumberFormatText(int numberFormat);

}  // namespace plombix::control
