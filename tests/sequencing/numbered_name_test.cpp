#include <gtest/gtest.h>

#include "numbered_name.h"

namespace plombix {
namespace {

TEST(SplitNumberedName, NamesTable) {
  const struct {
    const char* path;
    bool found;
    const char* prefix;
    int number;
    int digits;
    const char* suffix;
  } rows[] = {
      {"/shots/shot007.jpg", true, "/shots/shot", 7, 3, ".jpg"},
      {"/shots/shot12.jpg", true, "/shots/shot", 12, 2, ".jpg"},
      {"/shots/shot.jpg", false, "/shots/shot", 0, 0, ".jpg"},
      {"/x/a1b2.png", true, "/x/a1b", 2, 1, ".png"},
      {"/x/img1234567.png", true, "/x/img12", 34567, 5, ".png"},  // five digits at most
      {"/x/00000.png", true, "/x/", 0, 5, ".png"},
      {"/x/123.jpg", true, "/x/", 123, 3, ".jpg"},
      {"relative9.png", true, "relative", 9, 1, ".png"},
      {"/dir.d/shot7", true, "/dir.d/shot", 7, 1, ""},      // a dot in the directory is no extension
      {"/x/shot7.tar.gz", false, "/x/shot7.tar", 0, 0, ".gz"},
      {"/x/shot7.", true, "/x/shot", 7, 1, "."},
      {"/x/.hidden5", false, "/x/", 0, 0, ".hidden5"},      // all extension, empty file name
      {"/x/dir/", false, "/x/dir/", 0, 0, ""},
  };
  for (const auto& row : rows) {
    NumberedName n;
    EXPECT_EQ(SplitNumberedName(row.path, n), row.found) << row.path;
    EXPECT_EQ(n.prefix, row.prefix) << row.path;
    EXPECT_EQ(n.number, row.number) << row.path;
    EXPECT_EQ(n.digitCount, row.digits) << row.path;
    EXPECT_EQ(n.suffix, row.suffix) << row.path;
  }
}

TEST(SplitNumberedName, EmptyPathChangesNothing) {
  NumberedName n{"/keep/", ".png", 42, 2};
  EXPECT_FALSE(SplitNumberedName("", n));
  EXPECT_EQ(n.prefix, "/keep/");
  EXPECT_EQ(n.number, 42);
}

TEST(SplitNumberedName, OverLongComponentEmptiesTheSplitInsteadOfCuttingIt) {
  const std::string longDir = "/" + std::string(260, 'd') + "/";  // 262 units
  const struct { const char* name; std::string path; bool accepted; } rows[] = {
      {"file name of 260", "/x/" + std::string(259, 'f') + "1.png", true},
      {"file name of 261", "/x/" + std::string(260, 'f') + "1.png", false},
      {"directory of 262", longDir + "shot1.png", false},
  };
  for (const auto& row : rows) {
    NumberedName n{"/old/", ".png", 5, 1};
    EXPECT_EQ(SplitNumberedName(row.path, n), row.accepted) << row.name;
    if (!row.accepted) {
      EXPECT_EQ(n.prefix, "") << row.name;
      EXPECT_EQ(n.suffix, "") << row.name;
      EXPECT_EQ(n.number, 0) << row.name;
    }
  }
}

TEST(SequenceName, PadsToTheFormatWidthAndWritesWiderNumbersInFull) {
  const NumberedName n{"/s/shot", ".jpg", 0, 0};
  EXPECT_EQ(SequenceName(n, 0, 7), "/s/shot7.jpg");
  EXPECT_EQ(SequenceName(n, 1, 7), "/s/shot07.jpg");
  EXPECT_EQ(SequenceName(n, 2, 7), "/s/shot007.jpg");
  EXPECT_EQ(SequenceName(n, 0, 123), "/s/shot123.jpg");
  EXPECT_EQ(SequenceName(n, 1, 255), "/s/shot255.jpg");
  EXPECT_EQ(SequenceName(n, 9, 3), "/s/shot0000000003.jpg");  // a damaged format still forms a name
}

TEST(SequenceName, SplitThenRebuildGivesTheSameFile) {
  for (const char* path : {"/s/shot007.jpg", "/s/a1b2.png", "/s/img1234567.png", "/s/x99.tif"}) {
    NumberedName n;
    ASSERT_TRUE(SplitNumberedName(path, n));
    EXPECT_EQ(SequenceName(n, static_cast<uint8_t>(n.digitCount - 1), n.number), path);
  }
}

}  // namespace
}  // namespace plombix
