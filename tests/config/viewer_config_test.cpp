#include <gtest/gtest.h>

#include <array>

#include "config_file.h"
#include "viewer_config.h"

namespace plombix {
namespace {

TEST(ViewerConfig, EachFieldLandsAtItsFileOffset) {
  // Every field gets a distinct value; the expected position of each is the
  // offset table of the file format.
  ViewerConfig c;
  c.fillColour1 = 0x11223344;
  c.fillColour2 = 0x55667788;
  c.resolutionId = 0x01020304;
  c.frameRateId = 0x05060708;
  c.backgroundId = 0x090A0B0C;
  uint8_t* fields[12] = {&c.borderSidesPct, &c.borderTopBottomPct, &c.borderEqual, &c.borderUse,
                         &c.scalingMode,    &c.limitedRange,       &c.fadeOn,      &c.watchOn,
                         &c.noAlpha,        &c.useLast,            &c.useImage,    &c.overlayOn};
  for (int i = 0; i < 12; ++i) *fields[i] = uint8_t(20 + i);
  c.slideshow = {32, 33, 34, 35, 36, 37, 38, 39};
  c.reserved.fill(0xEE);
  std::array<uint8_t, 52> b{};
  EncodeViewerConfig(c, b);
  const uint8_t u32s[20] = {0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55, 0x04, 0x03,
                            0x02, 0x01, 0x08, 0x07, 0x06, 0x05, 0x0C, 0x0B, 0x0A, 0x09};
  for (int i = 0; i < 20; ++i) EXPECT_EQ(b[i], u32s[i]) << "byte " << i;
  for (int i = 20; i < 40; ++i) EXPECT_EQ(b[i], i) << "byte " << i;  // each field holds its offset
  for (int i = 40; i < 52; ++i) EXPECT_EQ(b[i], 0) << "reserved byte " << i << " must be written as 0";
  c.reserved.fill(0);
  EXPECT_EQ(DecodeViewerConfig(b), c);
}

TEST(ConfigFileName, FirstCopyUsesLastPlqOthersTheirNumberPlusOneNeverCut) {
  // "last" + 7 digits + ".plq" = 15 characters: the longest that fits.
  for (const auto& [n, name] : {std::pair{0, "last.plq"}, {1, "last2.plq"}, {7, "last8.plq"},
                                {9999998, "last9999999.plq"}, {99999999, ""}})
    EXPECT_EQ(ConfigFileName(n), name) << n;
}

}  // namespace
}  // namespace plombix
