#include "output_formats.h"

#include <cstdio>

namespace plombix {
namespace {

constexpr ResolutionEntry kResolutions[] = {
    {32785, "4096 x 2160", "4096 x 2160", 4096, 2160},
    {32784, "3840 x 2160", "3840 x 2160", 3840, 2160},
    {32783, "2560 x 1440", "2560 x 1440", 2560, 1440},
    {32771, "1920 x 1080", "1920 x 1080", 1920, 1080},
    {32772, "1280 x 720", "1280 x 720", 1280, 720},
    {32796, "1080 x 1920 (9:16)", "1080 x 1920", 1080, 1920},
    {32773, "960 x 540", "960 x 540", 960, 540},
    {32774, "720 x 576 (4:3)", "720 x 576", 720, 576},
    {32775, "720 x 480 (4:3)", "720 x 480", 720, 480},
    {32776, "640 x 360", "640 x 360", 640, 360},
};

// 25p is 30000/1200 rather than 25/1; receivers only ever see the fraction.
constexpr FrameRateEntry kFrameRates[] = {
    {32777, "25p", 30000, 1200},
    {32780, "29.97p", 30000, 1001},
    {32778, "30p", 30000, 1000},
    {32781, "50p", 60000, 1200},
    {32782, "60p", 60000, 1000},
};

constexpr BackgroundEntry kBackgrounds[] = {
    {32786, "Black", false, "Black", 0},
    {32797, "White", false, "White", 1},
    {32790, "v1 Vertical Grad", true, "Grad Fill 1", 11},
    {32791, "v2 (reversed)", true, "Grad Fill 2", 12},
    {32792, "v3 Vertical Split", true, "Grad Fill 3", 13},
    {32793, "v4 (reversed)", true, "Grad Fill 4", 14},
    {32794, "v5 Quad Split", true, "Grad Fill 5", 15},
    {32795, "v6 (reversed)", true, "Grad Fill 6", 16},
    {32788, "Copy from grabbed", false, "Set from o/p", 20},
    {32789, "None", false, "Transparent", 30},
    // Reached only through a stored setting; draws like the first fill.
    {32787, nullptr, false, "Grad Fill -", 10},
};

template <typename Entry>
const Entry* FindById(std::span<const Entry> entries, int id) {
  for (const Entry& e : entries)
    if (e.id == id) return &e;
  return nullptr;
}

}  // namespace

std::span<const ResolutionEntry> ResolutionEntries() { return kResolutions; }
std::span<const FrameRateEntry> FrameRateEntries() { return kFrameRates; }
std::span<const BackgroundEntry> BackgroundEntries() { return kBackgrounds; }

const ResolutionEntry* FindResolution(int id) { return FindById(ResolutionEntries(), id); }
const FrameRateEntry* FindFrameRate(int id) { return FindById(FrameRateEntries(), id); }
const BackgroundEntry* FindBackground(int id) { return FindById(BackgroundEntries(), id); }

float AspectRatioFor(int outputWidth, int outputHeight) {
  if (outputHeight <= 0) return kAspect4x3;
  if ((int64_t(outputWidth) * 16) / outputHeight == 9) return kAspect9x16;
  if ((int64_t(outputWidth) * 9) / outputHeight == 16) return kAspect16x9;
  return kAspect4x3;
}

std::string OutputLineText(int outputWidth, int outputHeight, int frameRateN, int frameRateD) {
  const double fps = frameRateD != 0 ? double(frameRateN) / double(frameRateD) : 0.0;
  char text[64];
  std::snprintf(text, sizeof text, "%d x %d - %2.2f fps", outputWidth, outputHeight, fps);
  return text;
}

}  // namespace plombix
