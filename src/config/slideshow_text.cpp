#include "slideshow_text.h"

#include <cstdio>

namespace plombix {
namespace {

std::string formatNumber(const char* lead, uint8_t numberFormat, int number) {
  // Width at most 256 and an int of at most 11 characters: 300 bytes hold
  // every text; snprintf bounds the write regardless.
  char buf[300];
  const int n = std::snprintf(buf, sizeof buf, "%s%0*d", lead, numberFormat + 1, number);
  if (n < 0) return std::string(lead);
  return std::string(buf, static_cast<std::size_t>(n) < sizeof buf ? static_cast<std::size_t>(n)
                                                                    : sizeof buf - 1);
}

}  // namespace

std::string PaddedNumber(uint8_t numberFormat, int number) {
  return formatNumber("", numberFormat, number);
}

std::string SlideshowNumberCaption(uint8_t numberFormat, int number) {
  return formatNumber("S/Show ", numberFormat, number);
}

std::string StartNumberCaption(uint8_t numberFormat, int number) {
  return formatNumber("Start at:- ", numberFormat, number);
}

std::string EndNumberCaption(uint8_t numberFormat, int number) {
  return formatNumber("End at:- ", numberFormat, number);
}

}  // namespace plombix
