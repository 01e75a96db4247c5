// Recent pictures: the list's rules, the file's layout, damaged files and
// atomic saves.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "recent_files.h"
#include "temp_dir.h"

using plombix::RecentFiles;
using plombix::testing::TempDir;

namespace {

void Write(const std::string& path, const std::string& text) {
  ASSERT_TRUE(plombix::testing::WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end())));
}

}  // namespace

TEST(RecentFiles, ListRules) {
  struct Row {
    const char* label;
    std::vector<std::string> added;
    std::vector<std::string> expected;  // newest first
  };
  const Row rows[] = {
      {"newest first", {"/a", "/b", "/c"}, {"/c", "/b", "/a"}},
      {"a repeat moves up", {"/a", "/b", "/c", "/a"}, {"/a", "/c", "/b"}},
      {"the newest is added again", {"/a", "/b", "/b"}, {"/b", "/a"}},
      {"eight kept", {"/1", "/2", "/3", "/4", "/5", "/6", "/7", "/8", "/9", "/10"},
       {"/10", "/9", "/8", "/7", "/6", "/5", "/4", "/3"}},
      {"relative paths refused", {"/a", "b.png", ""}, {"/a"}},
      {"line breaks and control characters refused", {"/a", "/b\nc.png", "/tab\there", "/del\x7f"}, {"/a"}},
      {"other bytes kept as they are", {"/bilder/Über.png", "/x y/ z.jpg"}, {"/x y/ z.jpg", "/bilder/Über.png"}},
  };
  for (const Row& row : rows) {
    RecentFiles recent;
    for (const std::string& p : row.added) (void)recent.add(p);
    EXPECT_EQ(recent.entries(), row.expected) << row.label;
  }
  RecentFiles recent;
  EXPECT_TRUE(recent.add("/a"));
  EXPECT_FALSE(recent.add("a"));
  recent.remove("/a");
  EXPECT_TRUE(recent.entries().empty());
}

TEST(RecentFiles, SavedFileReadsBackAndHasItsLayout) {
  TempDir dir;
  const std::string path = dir.file("config/vora-plombix/recent-2.txt");  // folders made on save
  RecentFiles recent(path);
  for (const char* p : {"/pics/a.png", "/pics/b b.jpg", "/pics/c.webp"}) ASSERT_TRUE(recent.add(p));
  std::string error;
  ASSERT_TRUE(recent.save(&error)) << error;
  const std::vector<uint8_t> bytes = plombix::testing::ReadBytes(path);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "vora-plombix recent 1\n/pics/c.webp\n/pics/b b.jpg\n/pics/a.png\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Only the file itself is left in its folder: the temporary one was renamed.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("config/vora-plombix")), {}), 1);

  RecentFiles again(path);
  ASSERT_TRUE(again.load(&error)) << error;
  EXPECT_EQ(again.entries(), recent.entries());

  RecentFiles missing(dir.file("none.txt"));
  EXPECT_TRUE(missing.load());
  EXPECT_TRUE(missing.entries().empty());
}

TEST(RecentFiles, DamagedFilesAreIgnoredWhole) {
  TempDir dir;
  const std::string path = dir.file("recent-1.txt");
  std::string nine = "vora-plombix recent 1\n";
  for (int i = 1; i <= 9; ++i) nine += "/" + std::to_string(i) + "\n";
  struct Row { const char* label; std::string text; };
  const Row rows[] = {
      {"empty", ""},
      {"another first line", "recent 1\n/a\n"},
      {"a newer layout", "vora-plombix recent 2\n/a\n"},
      {"last line cut short", "vora-plombix recent 1\n/a\n/b"},
      {"relative path", "vora-plombix recent 1\n/a\nb.png\n"},
      {"empty line", "vora-plombix recent 1\n/a\n\n"},
      {"carriage return", "vora-plombix recent 1\n/a\r\n"},
      {"NUL byte", std::string("vora-plombix recent 1\n/a\0b\n", 27)},
      {"nine paths", nine},
      {"a repeat", "vora-plombix recent 1\n/a\n/b\n/a\n"},
      {"too large", "vora-plombix recent 1\n/" + std::string(70000, 'a') + "\n"},
  };
  for (const Row& row : rows) {
    Write(path, row.text);
    RecentFiles recent(path);
    ASSERT_TRUE(recent.add("/was/here"));
    std::string error;
    EXPECT_FALSE(recent.load(&error)) << row.label;
    EXPECT_TRUE(recent.entries().empty()) << row.label;
    EXPECT_NE(error.find("damaged"), std::string::npos) << row.label;
  }
  // A folder where the file should be.
  RecentFiles folder(dir.path());
  EXPECT_FALSE(folder.load());

  // A good file cut at every offset reads as nothing or as a shorter list.
  const std::vector<std::string> list = {"/p/one.png", "/p/two.png", "/p/three.png"};
  const std::string whole = RecentFiles::Serialize(list);
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    std::vector<std::string> read;
    if (!RecentFiles::Parse(whole.substr(0, cut), &read)) continue;
    ASSERT_LT(read.size(), list.size()) << cut;
    EXPECT_TRUE(std::equal(read.begin(), read.end(), list.begin())) << cut;
  }
}

TEST(RecentFiles, FailedSaveSaysWhyAndKeepsWhatWasThere) {
  TempDir dir;
  Write(dir.file("plain"), "a file, not a folder");
  std::string error;
  RecentFiles underFile(dir.file("plain/recent-1.txt"));
  ASSERT_TRUE(underFile.add("/a"));
  EXPECT_FALSE(underFile.save(&error));
  EXPECT_NE(error.find("plain"), std::string::npos) << error;

  // The name taken by a folder: the rename fails, the folder stays, no
  // temporary file is left behind.
  ASSERT_EQ(::mkdir(dir.file("recent-1.txt").c_str(), 0700), 0);
  RecentFiles blocked(dir.file("recent-1.txt"));
  ASSERT_TRUE(blocked.add("/a"));
  EXPECT_FALSE(blocked.save(&error));
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"plain", "recent-1.txt"}));

  RecentFiles none;
  EXPECT_FALSE(none.save(&error));
}

TEST(RecentFiles, DefaultPathPerCopy) {
  auto set = [](const char* name, const char* value) { value ? ::setenv(name, value, 1) : ::unsetenv(name); };
  const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
  const char* oldHome = std::getenv("HOME");
  const bool hadXdg = oldXdg, hadHome = oldHome;
  const std::string xdg = hadXdg ? oldXdg : "", home = hadHome ? oldHome : "";
  struct Row { const char* label; const char* xdg; const char* home; int copy; std::string path; };
  const Row rows[] = {
      {"XDG_CONFIG_HOME", "/cfg", "/home/op", 1, "/cfg/vora-plombix/recent-1.txt"},
      {"HOME", nullptr, "/home/op", 8, "/home/op/.config/vora-plombix/recent-8.txt"},
      {"a relative XDG_CONFIG_HOME is ignored", "cfg", "/home/op", 2, "/home/op/.config/vora-plombix/recent-2.txt"},
      {"neither", nullptr, nullptr, 1, ""},
      {"no copy number", "/cfg", "/home/op", 0, ""},
      {"ninth copy", "/cfg", "/home/op", 9, ""},
  };
  for (const Row& row : rows) {
    set("XDG_CONFIG_HOME", row.xdg);
    set("HOME", row.home);
    EXPECT_EQ(RecentFiles::DefaultPath(row.copy), row.path) << row.label;
  }
  set("XDG_CONFIG_HOME", hadXdg ? xdg.c_str() : nullptr);
  set("HOME", hadHome ? home.c_str() : nullptr);
}
