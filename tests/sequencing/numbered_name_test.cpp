#include <gtest/gtest.h>

#include "numbered_name.h"

namespace plombix {
namespace {

// Each split starts from a previous one ("/keep/", 42, 2 digits, ".png"):
// an empty path leaves it; a component too long for its field (260 units)
// empties it rather than cutting it.
TEST(SplitNumberedName, NamesTable) {
  const std::string longDir = "/" + std::string(260, 'd') + "/";
  const struct {
    std::string path;
    bool found;
    std::string prefix;
    int number, digits;
    const char* suffix;
  } rows[] = {
      {"/shots/shot007.jpg", true, "/shots/shot", 7, 3, ".jpg"},
      {"/shots/shot12.jpg", true, "/shots/shot", 12, 2, ".jpg"},
      {"/shots/shot.jpg", false, "/shots/shot", 0, 0, ".jpg"},
      {"/x/a1b2.png", true, "/x/a1b", 2, 1, ".png"},
      {"/x/img1234567.png", true, "/x/img12", 34567, 5, ".png"},  // five digits at most
      {"/x/00000.png", true, "/x/", 0, 5, ".png"},
      {"relative9.png", true, "relative", 9, 1, ".png"},
      {"/dir.d/shot7", true, "/dir.d/shot", 7, 1, ""},  // a dot in the directory is no extension
      {"/x/shot7.tar.gz", false, "/x/shot7.tar", 0, 0, ".gz"},
      {"/x/shot7.", true, "/x/shot", 7, 1, "."},
      {"/x/.hidden5", false, "/x/", 0, 0, ".hidden5"},  // all extension, empty file name
      {"/x/dir/", false, "/x/dir/", 0, 0, ""},
      {"", false, "/keep/", 42, 2, ".png"},
      {"/x/" + std::string(259, 'f') + "1.png", true, "/x/" + std::string(259, 'f'), 1, 1, ".png"},
      {"/x/" + std::string(260, 'f') + "1.png", false, "", 0, 0, ""},
      {longDir + "shot1.png", false, "", 0, 0, ""},
  };
  for (const auto& row : rows) {
    NumberedName n{"/keep/", ".png", 42, 2};
    EXPECT_EQ(SplitNumberedName(row.path, n), row.found) << row.path;
    EXPECT_EQ(n.prefix, row.prefix) << row.path;
    EXPECT_EQ(std::pair(n.number, n.digitCount), std::pair(row.number, row.digits)) << row.path;
    EXPECT_EQ(n.suffix, row.suffix) << row.path;
  }
}

TEST(SequenceName, PadsToTheFormatWidthWritesWiderNumbersInFullAndRebuildsTheSplitName) {
  const NumberedName n{"/s/shot", ".jpg", 0, 0};
  for (const auto& [format, number, name] : {std::tuple{0, 7, "/s/shot7.jpg"}, {1, 7, "/s/shot07.jpg"},
                                             {2, 7, "/s/shot007.jpg"}, {0, 123, "/s/shot123.jpg"},
                                             {1, 255, "/s/shot255.jpg"}, {9, 3, "/s/shot0000000003.jpg"}})
    EXPECT_EQ(SequenceName(n, uint8_t(format), number), name);
  for (const char* path : {"/s/shot007.jpg", "/s/a1b2.png", "/s/img1234567.png", "/s/x99.tif"}) {
    NumberedName split;
    ASSERT_TRUE(SplitNumberedName(path, split));
    EXPECT_EQ(SequenceName(split, static_cast<uint8_t>(split.digitCount - 1), split.number), path);
  }
}

}  // namespace
}  // namespace plombix
