// Little-endian file form of ViewerConfig, field by field at the offsets
// checked in viewer_config.h.
#include "viewer_config.h"

#include <algorithm>

#include <cstring>

namespace plombix {
namespace {

void putU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t getU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

void EncodeViewerConfig(const ViewerConfig& b, std::span<uint8_t, kViewerConfigBytes> out) {
  uint8_t* p = out.data();
  putU32(p + 0, b.fillColour1);
  putU32(p + 4, b.fillColour2);
  putU32(p + 8, b.resolutionId);
  putU32(p + 12, b.frameRateId);
  putU32(p + 16, b.backgroundId);
  const uint8_t bytes[12] = {b.borderSidesPct, b.borderTopBottomPct, b.borderEqual, b.borderUse,
                             b.scalingMode,    b.limitedRange,       b.fadeOn,      b.watchOn,
                             b.noAlpha,        b.useLast,            b.useImage,    b.overlayOn};
  std::memcpy(p + 20, bytes, sizeof bytes);
  const SlideshowState& s = b.slideshow;
  const uint8_t show[8] = {s.mode,         s.currentNumber,  s.startNumber,   s.endNumber,
                           s.numberFormat, s.gamepadPresent, s.sequenceValid, s.durationSecs};
  std::memcpy(p + 32, show, sizeof show);
  std::memset(p + 40, 0, 12);
}

ViewerConfig DecodeViewerConfig(std::span<const uint8_t, kViewerConfigBytes> in) {
  const uint8_t* p = in.data();
  ViewerConfig b;
  b.fillColour1 = getU32(p + 0);
  b.fillColour2 = getU32(p + 4);
  b.resolutionId = getU32(p + 8);
  b.frameRateId = getU32(p + 12);
  b.backgroundId = getU32(p + 16);
  b.borderSidesPct = p[20];
  b.borderTopBottomPct = p[21];
  b.borderEqual = p[22];
  b.borderUse = p[23];
  b.scalingMode = p[24];
  b.limitedRange = p[25];
  b.fadeOn = p[26];
  b.watchOn = p[27];
  b.noAlpha = p[28];
  b.useLast = p[29];
  b.useImage = p[30];
  b.overlayOn = p[31];
  SlideshowState& s = b.slideshow;
  s.mode = p[32];
  s.currentNumber = p[33];
  s.startNumber = p[34];
  s.endNumber = p[35];
  s.numberFormat = p[36];
  s.gamepadPresent = p[37];
  s.sequenceValid = p[38];
  s.durationSecs = p[39];
  std::memcpy(b.reserved.data(), p + 40, 12);
  return b;
}

void BringIntoControlRange(ViewerConfig& block) {
  block.borderSidesPct = std::min<uint8_t>(block.borderSidesPct, 99);
  block.borderTopBottomPct = std::min<uint8_t>(block.borderTopBottomPct, 99);
}

}  // namespace plombix
