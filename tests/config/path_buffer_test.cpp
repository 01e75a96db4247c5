#include <gtest/gtest.h>

#include <random>
#include <string>

#include "path_buffer.h"

namespace plombix {
namespace {

// Lengths count UTF-16 units, not bytes: U+1F600 is 4 bytes of UTF-8 and 2
// units, U+00E9 2 bytes and 1 unit.
TEST(PathBuffer, StoresAPathOfAtMost383UnitsOrTheCallersLimitAndNeverCutsALongerOne) {
  const char* emoji = "\xF0\x9F\x98\x80";
  const struct {
    std::size_t count;
    const char* character;
    std::size_t limit;
    bool fits;
    std::size_t units;  // stored afterwards
  } rows[] = {{0, "a", 384, true, 0},     {383, "a", 384, true, 383}, {384, "a", 384, false, 0},
              {500, "a", 384, false, 0},  {259, "a", 260, true, 259}, {260, "a", 260, false, 0},
              {191, emoji, 384, true, 382}, {192, emoji, 384, false, 0}, {383, "\xC3\xA9", 384, true, 383}};
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

TEST(PathBuffer, AShorterPathLeavesTheLongerOnesTailAlsoInTheFileForm) {
  PathBuffer p;
  ASSERT_TRUE(p.assign("/long-name"));
  ASSERT_TRUE(p.assign("\xC3\xA9"));  // U+00E9
  EXPECT_EQ(p.toUtf8(), "\xC3\xA9");
  EXPECT_EQ(std::u16string(p.units().data(), 11), std::u16string(u"\u00E9\0ong-name\0", 11));
  std::array<uint8_t, 768> bytes{};
  p.encode(bytes);
  // Little-endian: E9 00, the terminator 00 00, then the tail ('o' at 4).
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 6),
            (std::vector<uint8_t>{0xE9, 0, 0, 0, 'o', 0}));
  PathBuffer back;
  back.overwriteBytes(bytes);
  EXPECT_EQ(back, p);
}

TEST(PathBuffer, PartialOverwriteAndMissingTerminatorStayInsideTheBuffer) {
  PathBuffer p;
  ASSERT_TRUE(p.assign("ABCD"));
  const uint8_t in[3] = {'x', 0, 'y'};  // unit 0 := 'x', low byte of unit 1 := 'y'
  p.overwriteBytes(in);
  EXPECT_EQ(std::u16string(p.view()), u"xyCD");  // 'B' (0x0042) keeps its high byte 0x00
  p.units().fill(u'z');  // no terminator: reads empty
  EXPECT_TRUE(p.view().empty());
  EXPECT_EQ(p.toUtf8(), "");
  p.units()[383] = 0;  // terminator in the very last unit: a 383-unit path
  EXPECT_EQ(p.toUtf8(), std::string(383, 'z'));
}

TEST(PathConversion, RoundTripsTable) {
  struct Row { const char* name; std::string utf8; std::u16string utf16; } rows[] = {
      {"ascii", "/home/op/shot007.jpg", u"/home/op/shot007.jpg"},
      {"two-byte", "/tmp/caf\xC3\xA9.png", u"/tmp/caf\u00E9.png"},
      {"three-byte", "/tmp/\xE6\x97\xA5.png", u"/tmp/\u65E5.png"},
      {"four-byte", "/tmp/\xF0\x9F\x98\x80.png", u"/tmp/\U0001F600.png"},
      {"latin-1 byte", "/tmp/caf\xE9.png", u"/tmp/caf\xDCE9.png"},
      {"lone continuation", "/\x80", u"/\xDC80"},
      {"overlong slash", "/\xC0\xAF", u"/\xDCC0\xDCAF"},
      {"encoded surrogate", "/\xED\xA0\x80", u"/\xDCED\xDCA0\xDC80"},
      {"cut sequence", "/\xE6\x97", u"/\xDCE6\xDC97"},
  };
  for (const auto& row : rows) {
    const auto to16 = PathToUtf16(row.utf8);
    ASSERT_TRUE(to16.has_value()) << row.name;
    EXPECT_EQ(*to16, row.utf16) << row.name;
    const auto back = PathFromUtf16(*to16);
    ASSERT_TRUE(back.has_value()) << row.name;
    EXPECT_EQ(*back, row.utf8) << row.name;
  }
}

TEST(PathConversion, UnitsWithoutAFileSystemFormAreRefused) {
  EXPECT_FALSE(PathFromUtf16(u"/a\xD800").has_value());         // lone high surrogate
  EXPECT_FALSE(PathFromUtf16(u"/a\xDC10").has_value());         // low surrogate outside the escapes
  EXPECT_FALSE(PathFromUtf16(u"/\xDCC3\xDCA9").has_value());    // escapes that would read as U+00E9
  EXPECT_FALSE(PathToUtf16(std::string("/a\0b", 4)).has_value()); // a zero byte names no file
  PathBuffer p;
  p.units()[0] = 0xD800;
  p.units()[1] = 0;
  EXPECT_FALSE(p.empty());
  EXPECT_EQ(p.toUtf8(), "");
}

TEST(PathConversion, AnyByteStringSurvivesTheRoundTrip) {
  const unsigned seed = 77;
  std::mt19937 rng(seed);
  for (int round = 0; round < 2000; ++round) {
    std::string s(rng() % 40, '\0');
    for (auto& c : s) c = static_cast<char>(1 + rng() % 255);
    const auto u = PathToUtf16(s);
    ASSERT_TRUE(u.has_value()) << "seed " << seed << " round " << round;
    const auto back = PathFromUtf16(*u);
    ASSERT_TRUE(back.has_value()) << "seed " << seed << " round " << round;
    ASSERT_EQ(*back, s) << "seed " << seed << " round " << round;
  }
}

}  // namespace
}  // namespace plombix
