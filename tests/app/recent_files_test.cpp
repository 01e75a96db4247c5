// Recent pictures: the list's rules, the file's layout and place, damaged
// files and failed saves.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "recent_files.h"
#include "temp_dir.h"

namespace plombix {
namespace {

TEST(RecentFiles, ListRules) {
  const struct {
    std::vector<std::string> added, expected;  // newest first
  } rows[] = {
      {{"/a", "/b", "/c", "/a"}, {"/a", "/c", "/b"}},  // a repeat moves up
      {{"/1", "/2", "/3", "/4", "/5", "/6", "/7", "/8", "/9"}, {"/9", "/8", "/7", "/6", "/5", "/4", "/3", "/2"}},
      {{"/a", "b.png", "", "/b\nc.png", "/tab\there", "/del\x7f"}, {"/a"}},  // relative, control characters
      {{"/bilder/Über.png", "/x y/ z.jpg"}, {"/x y/ z.jpg", "/bilder/Über.png"}},
  };
  for (const auto& row : rows) {
    RecentFiles recent;
    for (const std::string& p : row.added) (void)recent.add(p);
    EXPECT_EQ(recent.entries(), row.expected) << row.added[0];
  }
}

TEST(RecentFiles, SavedWholeInItsLayoutDamagedFilesIgnoredWhole) {
  testing::TempDir dir;
  const std::string path = dir.file("config/vora-plombix/recent-2.txt");  // folders made on save
  RecentFiles recent(path);
  for (const char* p : {"/pics/a.png", "/pics/b b.jpg"}) ASSERT_TRUE(recent.add(p));
  ASSERT_TRUE(recent.save());
  const std::vector<uint8_t> bytes = testing::ReadBytes(path);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "vora-plombix recent 1\n/pics/b b.jpg\n/pics/a.png\n");
  struct stat st {};
  EXPECT_TRUE(::stat(path.c_str(), &st) == 0 && (st.st_mode & 0777) == 0600);
  EXPECT_EQ(dir.entries().size(), 1u);  // no temporary file left
  RecentFiles again(path);
  ASSERT_TRUE(again.load());
  EXPECT_EQ(again.entries(), recent.entries());

  std::string nine = "vora-plombix recent 1\n";
  for (char i = '1'; i <= '9'; ++i) nine.append({'/', i, '\n'});
  for (const std::string& text :
       {std::string(), std::string("recent 1\n/a\n"), std::string("vora-plombix recent 2\n/a\n"),
        std::string("vora-plombix recent 1\n/a\n/b"), std::string("vora-plombix recent 1\nb.png\n"),
        std::string("vora-plombix recent 1\n/a\n\n"), std::string("vora-plombix recent 1\n/a\r\n"),
        std::string("vora-plombix recent 1\n/a\0b\n", 27), nine, std::string("vora-plombix recent 1\n/a\n/b\n/a\n"),
        std::string("vora-plombix recent 1\n/").append(70000, 'a').append("\n")}) {
    ASSERT_TRUE(testing::WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end())));
    std::string error;
    EXPECT_FALSE(again.load(&error)) << text.substr(0, 40);
    EXPECT_TRUE(again.entries().empty() && error.find("damaged") != std::string::npos) << text.substr(0, 40);
  }
  // Saves that cannot be made say why and leave what was there.
  testing::TempDir other;
  ASSERT_TRUE(testing::WriteBytes(other.file("plain"), {1}));
  ASSERT_EQ(::mkdir(other.file("recent-1.txt").c_str(), 0700), 0);
  for (const std::string& blocked : {other.file("plain/recent-1.txt"), other.file("recent-1.txt"), std::string()}) {
    RecentFiles list(blocked);
    (void)list.add("/a");
    std::string error;
    EXPECT_FALSE(list.save(&error) || error.empty()) << blocked;
  }
  EXPECT_EQ(other.entries(), (std::vector<std::string>{"plain", "recent-1.txt"}));
}

TEST(RecentFiles, EachCopyHasItsFileInTheUsersSettingsFolder) {
  const struct {
    const char *xdg, *home;
    int copy;
    std::string path;
  } rows[] = {
      {"/cfg", "/home/op", 1, "/cfg/vora-plombix/recent-1.txt"},
      {nullptr, "/home/op", 8, "/home/op/.config/vora-plombix/recent-8.txt"},
      {"cfg", "/home/op", 2, "/home/op/.config/vora-plombix/recent-2.txt"},  // relative: ignored
      {nullptr, nullptr, 1, ""},
      {"/cfg", "/home/op", 0, ""},  // no copy number
      {"/cfg", "/home/op", 9, ""},  // a ninth copy
  };
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  for (const auto& row : rows) {
    for (const auto& [name, value] : {std::pair{"XDG_CONFIG_HOME", row.xdg}, {"HOME", row.home}})
      value ? ::setenv(name, value, 1) : ::unsetenv(name);
    EXPECT_EQ(RecentFiles::DefaultPath(row.copy), row.path) << row.copy;
  }
  ::setenv("HOME", home.c_str(), 1);
}

}  // namespace
}  // namespace plombix
