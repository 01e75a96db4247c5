#include <gtest/gtest.h>

#include <random>
#include <string>

#include "path_buffer.h"

namespace plombix {
namespace {

// Lengths count UTF-16 units, not bytes: U+1F600 is 4 bytes of UTF-8 and 2
// units, U+00E9 2 bytes and 1 unit. A path that does not fit is stored
// empty, never cut.
TEST(PathBuffer, StoresAPathOfAtMost383UnitsOrTheCallersLimitAndNeverCutsALongerOne) {
  const char* emoji = "\xF0\x9F\x98\x80";
  const struct { std::size_t count; const char* character; std::size_t limit; bool fits; std::size_t units; } rows[] = {
      {0, "a", 384, true, 0},      {383, "a", 384, true, 383},     {384, "a", 384, false, 0},
      {259, "a", 260, true, 259},  {260, "a", 260, false, 0},       {191, emoji, 384, true, 382},
      {192, emoji, 384, false, 0}, {383, "\xC3\xA9", 384, true, 383}};
  for (const auto& row : rows) {
    PathBuffer p;
    ASSERT_TRUE(p.assign("/previous/picture.png"));
    std::string path;
    for (std::size_t i = 0; i < row.count; ++i) path += row.character;
    EXPECT_EQ(p.assign(path, row.limit), row.fits) << row.count << " x " << row.character;
    EXPECT_EQ(p.view().size(), row.units) << row.count << " x " << row.character;
    EXPECT_EQ(p.toUtf8(), row.fits ? path : std::string()) << row.count << " x " << row.character;
  }
}

// Bytes written over the front of a buffer (a file cut short) keep the
// rest; a buffer without a terminator reads as empty.
TEST(PathBuffer, PartialOverwriteAndMissingTerminatorStayInsideTheBuffer) {
  PathBuffer p;
  ASSERT_TRUE(p.assign("ABCD"));
  const uint8_t in[3] = {'x', 0, 'y'};  // unit 0 := 'x', low byte of unit 1 := 'y'
  p.overwriteBytes(in);
  EXPECT_EQ(std::u16string(p.view()), u"xyCD");  // 'B' (0x0042) keeps its high byte 0x00
  p.units().fill(u'z');
  EXPECT_EQ(p.toUtf8(), "");
  p.units()[383] = 0;  // terminator in the very last unit: a 383-unit path
  EXPECT_EQ(p.toUtf8(), std::string(383, 'z'));
  p.units()[0] = 0xD800;  // a lone surrogate names no file
  EXPECT_FALSE(p.empty());
  EXPECT_EQ(p.toUtf8(), "");
}

// UTF-8 <-> UTF-16: bytes that are no UTF-8 travel as U+DC80..U+DCFF and
// come back as they were; units without a file-system form are refused.
TEST(PathConversion, RoundTripsTableAndRefusals) {
  const struct { std::string utf8; std::u16string utf16; } rows[] = {
      {"/home/op/shot007.jpg", u"/home/op/shot007.jpg"}, {"/tmp/caf\xC3\xA9.png", u"/tmp/caf\u00E9.png"},
      {"/tmp/\xE6\x97\xA5.png", u"/tmp/\u65E5.png"},       {"/tmp/\xF0\x9F\x98\x80.png", u"/tmp/\U0001F600.png"},
      {"/tmp/caf\xE9.png", u"/tmp/caf\xDCE9.png"},         {"/\xC0\xAF", u"/\xDCC0\xDCAF"},  // overlong slash
      {"/\xED\xA0\x80", u"/\xDCED\xDCA0\xDC80"},           {"/\xE6\x97", u"/\xDCE6\xDC97"}};  // surrogate, cut
  for (const auto& row : rows) {
    EXPECT_EQ(PathToUtf16(row.utf8), row.utf16) << row.utf8;
    EXPECT_EQ(PathFromUtf16(row.utf16), row.utf8) << row.utf8;
  }
  EXPECT_FALSE(PathFromUtf16(u"/a\xD800").has_value());          // lone high surrogate
  EXPECT_FALSE(PathFromUtf16(u"/a\xDC10").has_value());          // low surrogate outside the escapes
  EXPECT_FALSE(PathFromUtf16(u"/\xDCC3\xDCA9").has_value());     // escapes that would read as U+00E9
  EXPECT_FALSE(PathToUtf16(std::string("/a\0b", 4)).has_value());  // a zero byte names no file
}

TEST(PathConversion, AnyByteStringSurvivesTheRoundTrip) {
  const unsigned seed = 77;
  std::mt19937 rng(seed);
  for (int round = 0; round < 2000; ++round) {
    std::string s(rng() % 40, '\0');
    for (auto& c : s) c = static_cast<char>(1 + rng() % 255);
    const auto u = PathToUtf16(s);
    ASSERT_TRUE(u.has_value()) << "seed " << seed << " round " << round;
    ASSERT_EQ(PathFromUtf16(*u), s) << "seed " << seed << " round " << round;
  }
}

}  // namespace
}  // namespace plombix
