// ViewerConfig and SlideshowState: the settings block of the main window.
//
// The block is stored in the configuration file byte for byte (52 bytes,
// multi-byte fields little-endian). Its layout is fixed by the file format,
// so every offset is checked below. Every settings control of the window
// writes its field here as it changes; nothing else holds a second copy.
//
// Encoding and decoding go through EncodeViewerConfig / DecodeViewerConfig,
// which spell out the little-endian layout field by field, so the file is
// the same whatever the host's byte order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace plombix {

// The slideshow record (8 bytes, offsets 32..39 of ViewerConfig).
struct SlideshowState {
  uint8_t mode = 0;            // 0 off, 1 stepping by hand, 2 automatic advance
  uint8_t currentNumber = 0;   // number of the file shown
  uint8_t startNumber = 0;     // 0..255
  uint8_t endNumber = 0;       // 0..255
  uint8_t numberFormat = 0;    // 0, 1, 2 = zero-padded width 1, 2, 3
  uint8_t gamepadPresent = 0;  // 1 while a gamepad is detected
  uint8_t sequenceValid = 0;   // 1 when the start and end files load
  uint8_t durationSecs = 2;    // 2..240 seconds per slide

  friend bool operator==(const SlideshowState&, const SlideshowState&) = default;
};

static_assert(sizeof(SlideshowState) == 8);
static_assert(offsetof(SlideshowState, mode) == 0);
static_assert(offsetof(SlideshowState, currentNumber) == 1);
static_assert(offsetof(SlideshowState, startNumber) == 2);
static_assert(offsetof(SlideshowState, endNumber) == 3);
static_assert(offsetof(SlideshowState, numberFormat) == 4);
static_assert(offsetof(SlideshowState, gamepadPresent) == 5);
static_assert(offsetof(SlideshowState, sequenceValid) == 6);
static_assert(offsetof(SlideshowState, durationSecs) == 7);

// Start-up values of the block's colour and menu fields.
inline constexpr uint32_t kDefaultFillColour1 = 0xFF203080;
inline constexpr uint32_t kDefaultFillColour2 = 0xFF000000;
inline constexpr uint32_t kDefaultResolutionId = 32772;  // 1280 x 720
inline constexpr uint32_t kDefaultFrameRateId = 32777;   // 25p
inline constexpr uint32_t kDefaultBackgroundId = 32790;  // first graduated fill

// The persisted settings block (52 bytes). Default-constructed it holds the
// start-up values: the five u32 fields above, scalingMode 1 (Contain),
// durationSecs 2, everything else 0.
struct ViewerConfig {
  uint32_t fillColour1 = kDefaultFillColour1;    // 0xAARRGGBB; top byte carried along
  uint32_t fillColour2 = kDefaultFillColour2;
  uint32_t resolutionId = kDefaultResolutionId;  // Resolution menu command id
  uint32_t frameRateId = kDefaultFrameRateId;    // Framerate menu command id
  uint32_t backgroundId = kDefaultBackgroundId;  // Background menu command id
  uint8_t borderSidesPct = 0;                    // 0..99
  uint8_t borderTopBottomPct = 0;                // 0..99
  uint8_t borderEqual = 0;
  uint8_t borderUse = 0;
  uint8_t scalingMode = 1;                       // 0 None, 1 Contain, 2 Crop & Fill
  uint8_t limitedRange = 0;                      // 1 = "16-235"
  uint8_t fadeOn = 0;                            // 1 = "Fade"
  uint8_t watchOn = 0;
  uint8_t noAlpha = 0;
  uint8_t useLast = 0;
  uint8_t useImage = 0;
  uint8_t overlayOn = 0;
  SlideshowState slideshow{};
  std::array<uint8_t, 12> reserved{};            // never set or read; written as zeros

  friend bool operator==(const ViewerConfig&, const ViewerConfig&) = default;
};

// Border percentages above 99 (which no edit accepts and which would leave
// no room for the picture) become 99. Everything else is kept as stored: a
// scaling mode above 2 scales nothing (as None does), a number format above
// 2 pads to its own width, and a start number above the end number is one
// the Start and End buttons can set. The slideshow mode and duration are
// put right by the load's own fix-ups.
void BringIntoControlRange(ViewerConfig& block);

static_assert(sizeof(ViewerConfig) == 52);
static_assert(offsetof(ViewerConfig, fillColour1) == 0);
static_assert(offsetof(ViewerConfig, fillColour2) == 4);
static_assert(offsetof(ViewerConfig, resolutionId) == 8);
static_assert(offsetof(ViewerConfig, frameRateId) == 12);
static_assert(offsetof(ViewerConfig, backgroundId) == 16);
static_assert(offsetof(ViewerConfig, borderSidesPct) == 20);
static_assert(offsetof(ViewerConfig, borderTopBottomPct) == 21);
static_assert(offsetof(ViewerConfig, borderEqual) == 22);
static_assert(offsetof(ViewerConfig, borderUse) == 23);
static_assert(offsetof(ViewerConfig, scalingMode) == 24);
static_assert(offsetof(ViewerConfig, limitedRange) == 25);
static_assert(offsetof(ViewerConfig, fadeOn) == 26);
static_assert(offsetof(ViewerConfig, watchOn) == 27);
static_assert(offsetof(ViewerConfig, noAlpha) == 28);
static_assert(offsetof(ViewerConfig, useLast) == 29);
static_assert(offsetof(ViewerConfig, useImage) == 30);
static_assert(offsetof(ViewerConfig, overlayOn) == 31);
static_assert(offsetof(ViewerConfig, slideshow) == 32);
static_assert(offsetof(ViewerConfig, reserved) == 40);

inline constexpr std::size_t kViewerConfigBytes = 52;

// Writes the block's 52-byte file form. The reserved bytes are written as
// zeros whatever the block holds.
void EncodeViewerConfig(const ViewerConfig& block, std::span<uint8_t, kViewerConfigBytes> out);

// Reads a block from its 52-byte file form, reserved bytes included.
[[nodiscard]] ViewerConfig DecodeViewerConfig(std::span<const uint8_t, kViewerConfigBytes> in);

}  // namespace plombix
