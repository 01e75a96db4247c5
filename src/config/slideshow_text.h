// The texts that show a SlideshowState: the Slideshow button, the "Start
// number" and "End number" captions and the base-name label messages.
// Shared by the configuration load (which captions the buttons after
// applying a file) and the slideshow logic.
//
// Numbers are zero-padded to width numberFormat + 1 ("%0*d"); a number
// wider than the width is written in full. Any numberFormat 0..255 gives a
// well-formed text.
#pragma once

#include <cstdint>
#include <string>

namespace plombix {

inline constexpr const char* kSlideshowIdleCaption = "SlideShow";
inline constexpr const char* kInvalidSeqEnd = "Invalid seq end";
inline constexpr const char* kInvalidSeqStart = "Invalid seq start";
inline constexpr const char* kInvalidStartOrEnd = "Invalid start or end";

// `number` zero-padded to numberFormat + 1 digits.
[[nodiscard]] std::string PaddedNumber(uint8_t numberFormat, int number);

// "S/Show %0*d"
[[nodiscard]] std::string SlideshowNumberCaption(uint8_t numberFormat, int number);
// "Start at:- %0*d"
[[nodiscard]] std::string StartNumberCaption(uint8_t numberFormat, int number);
// "End at:- %0*d"
[[nodiscard]] std::string EndNumberCaption(uint8_t numberFormat, int number);

}  // namespace plombix
