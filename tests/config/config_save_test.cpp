#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <tuple>

#include "config_file.h"
#include "config_test_support.h"

namespace plombix {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// Every field of the block a distinct value: each byte of the block in the
// file shows where its field went.
ViewerConfig DistinctBlock() {
  ViewerConfig c{0x11223344, 0x55667788, 0x01020304, 0x05060708, 0x090A0B0C};
  uint8_t* fields[12] = {&c.borderSidesPct, &c.borderTopBottomPct, &c.borderEqual, &c.borderUse,
                         &c.scalingMode,    &c.limitedRange,       &c.fadeOn,      &c.watchOn,
                         &c.noAlpha,        &c.useLast,            &c.useImage,    &c.overlayOn};
  for (int i = 0; i < 12; ++i) *fields[i] = uint8_t(20 + i);
  c.slideshow = {32, 33, 34, 35, 36, 37, 38, 39};
  return c;
}

SaveResult Save(const std::string& file) {
  ViewerConfig block = DistinctBlock();
  block.reserved.fill(0x5A);  // must not reach the file
  PathBuffer image, overlay, slideshow;
  EXPECT_TRUE(image.assign("/pictures/long-name-first.png"));
  EXPECT_TRUE(image.assign("/p/a.png"));  // leaves a tail behind the terminator
  EXPECT_TRUE(overlay.assign("/pictures/logo.png"));
  EXPECT_TRUE(slideshow.assign("/shots/shot007.jpg"));
  return SaveConfigFile(file, block, image, overlay, slideshow);
}

// UTF-16LE bytes of an ASCII text, for comparing with the file.
std::vector<uint8_t> Utf16Le(const char* ascii) {
  std::vector<uint8_t> out;
  for (const char* p = ascii; *p; ++p) out.insert(out.end(), {static_cast<uint8_t>(*p), 0});
  return out;
}

TEST(SaveConfigFile, WritesTheDocumentedLayoutOf2364Bytes) {
  TempDir dir;
  ASSERT_TRUE(Save(dir.file("last.plq")).ok());
  const auto f = ReadBytes(dir.file("last.plq"));
  ASSERT_EQ(f.size(), 2364u);
  EXPECT_EQ(std::string(f.begin(), f.begin() + 8), "QLVPLMX1");
  // The block at 8, its u32 fields little-endian, then each u8 field at its
  // offset (20..39), the 12 reserved bytes as zeros; read back the same.
  const std::vector<uint8_t> u32s = {0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55, 0x04, 0x03,
                                     0x02, 0x01, 0x08, 0x07, 0x06, 0x05, 0x0C, 0x0B, 0x0A, 0x09};
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 8, f.begin() + 28), u32s);
  for (int i = 20; i < 52; ++i) EXPECT_EQ(f[size_t(8 + i)], i < 40 ? i : 0) << "block byte " << i;
  EXPECT_EQ(DecodeViewerConfig(std::span<const uint8_t, 52>(f.data() + 8, 52)), DistinctBlock());
  // Paths at 60, 828, 1596, each 768 bytes, in the order image, overlay,
  // slideshow; behind the image's terminator the tail of the longer path
  // stored before ('l', unit 10 of "/pictures/long...").
  for (const auto& [offset, text] : {std::pair{60, "/p/a.png"}, {828, "/pictures/logo.png"}, {1596, "/shots/shot007.jpg"}}) {
    const auto units = Utf16Le(text);
    EXPECT_TRUE(std::equal(units.begin(), units.end(), f.begin() + offset)) << text;
  }
  EXPECT_EQ(std::pair(f[60 + 16], f[60 + 20]), std::pair(uint8_t(0), uint8_t('l')));
}

TEST(ConfigFileName, FirstCopyUsesLastPlqOthersTheirNumberPlusOneNeverCut) {
  // "last" + 7 digits + ".plq" = 15 characters: the longest that fits.
  for (const auto& [n, name] : {std::pair{0, "last.plq"}, {1, "last2.plq"}, {7, "last8.plq"},
                                {9999998, "last9999999.plq"}, {99999999, ""}})
    EXPECT_EQ(ConfigFileName(n), name) << n;
}

// The old file is replaced whole (its permissions kept, no file left
// beside it); through a symbolic link the link stays and its target gets
// the file.
TEST(SaveConfigFile, ReplacesTheOldFileKeepingItsPermissionsAndFollowsASymbolicLink) {
  TempDir dir;
  WriteBytes(dir.file("last.plq"), std::vector<uint8_t>(5000, 0xAB));
  ASSERT_EQ(::chmod(dir.file("last.plq").c_str(), 0640), 0);
  ASSERT_TRUE(Save(dir.file("last.plq")).ok());
  EXPECT_EQ(ReadBytes(dir.file("last.plq")).size(), 2364u);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"last.plq"});
  struct stat st {};
  ASSERT_EQ(::stat(dir.file("last.plq").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  WriteBytes(dir.file("real.plq"), {1, 2, 3});
  ASSERT_EQ(::symlink(dir.file("real.plq").c_str(), dir.file("link.plq").c_str()), 0);
  ASSERT_TRUE(Save(dir.file("link.plq")).ok());
  ASSERT_EQ(::lstat(dir.file("link.plq").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadBytes(dir.file("real.plq")).size(), 2364u);
}

// Runs `scenario` without root's right to ignore permissions: directly when
// not root, else in a child process dropped to an unprivileged user.
bool RunUnprivileged(const std::function<bool()>& scenario) {
  if (::geteuid() != 0) return scenario();
  const pid_t child = ::fork();
  if (child == 0) ::_exit(::setgid(65534) == 0 && ::setuid(65534) == 0 && scenario() ? 0 : 1);
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A file that cannot be created says "Problem initiating file save"; a
// read-only file is left alone (CannotOpen, which the window does not
// show); a writable file in a folder refusing new files is overwritten in
// place, cut to the new length.
TEST(SaveConfigFile, AFileThatCannotBeWrittenFailsAndAReadOnlyFolderGetsItInPlace) {
  TempDir dir, readOnlyFile, readOnlyFolder;
  ASSERT_EQ(::mkdir(dir.file("a-directory.plq").c_str(), 0755), 0);
  for (const std::string& file : {dir.file("no-such-dir/last.plq"), dir.file("a-directory.plq"), std::string()}) {
    const auto r = Save(file);
    EXPECT_EQ(r.error, SaveError::CannotOpen) << file;
    EXPECT_STREQ(SaveErrorText(r.error), "Problem initiating file save") << file;
  }
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"a-directory.plq"});
  const std::vector<uint8_t> old(100, 0x11);
  const std::string kept = readOnlyFile.file("last.plq"), overwritten = readOnlyFolder.file("last.plq");
  WriteBytes(kept, old);
  WriteBytes(overwritten, std::vector<uint8_t>(3000, 0x11));  // longer than a save
  ASSERT_EQ(::chmod(readOnlyFile.path().c_str(), 0777) + ::chmod(kept.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(overwritten.c_str(), 0666) + ::chmod(readOnlyFolder.path().c_str(), 0555), 0);
  EXPECT_TRUE(RunUnprivileged([&] { return Save(kept).error == SaveError::CannotOpen; }));
  EXPECT_EQ(ReadBytes(kept), old);
  EXPECT_EQ(readOnlyFile.entries(), std::vector<std::string>{"last.plq"});
  EXPECT_TRUE(RunUnprivileged([&] { return Save(overwritten).ok(); }));
  const auto f = ReadBytes(overwritten);
  ASSERT_EQ(f.size(), 2364u);
  EXPECT_EQ(std::string(f.begin(), f.begin() + 8), "QLVPLMX1");
}

// Limits the size of any file this process writes, so that a write crossing
// the limit fails (EFBIG) exactly as a full disk would make it fail.
struct FileSizeLimit {
  explicit FileSizeLimit(rlim_t bytes) : handler(::signal(SIGXFSZ, SIG_IGN)) {
    ::getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit lim = old;
    lim.rlim_cur = bytes;
    ok = ::setrlimit(RLIMIT_FSIZE, &lim) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, handler);
  }
  sighandler_t handler;
  struct rlimit old {};
  bool ok = false;
};

TEST(SaveConfigFile, AWriteFailingMidwayReportsItsItemInItsWordsAndKeepsTheOldFile) {
  const struct { rlim_t limit; SaveError error; const char* text; } rows[] = {  // the item at or across the limit fails
      {0, SaveError::Magic, "Problem initiating file save"},
      {8, SaveError::Block, "Problem occurred - config data not saved"},
      {60 + 100, SaveError::ImagePath, "Problem occurred - image path not saved"},
      {828, SaveError::OverlayPath, "Problem occurred - overlay path not saved"},
      {2363, SaveError::SlideshowPath, "Problem occurred - slideshow path not saved"},
  };
  for (const auto& row : rows) {
    TempDir dir;
    const std::vector<uint8_t> old(2364, 0x42);
    WriteBytes(dir.file("last.plq"), old);
    SaveResult r;
    {
      FileSizeLimit limit(row.limit);
      ASSERT_TRUE(limit.ok);
      r = Save(dir.file("last.plq"));
    }
    EXPECT_EQ(r.error, row.error) << row.text;
    EXPECT_STREQ(SaveErrorText(r.error), row.text);
    EXPECT_EQ(ReadBytes(dir.file("last.plq")), old) << row.text << ": the old file must stay intact";
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"last.plq"}) << row.text;
  }
  EXPECT_STREQ(SaveErrorText(SaveError::Commit), "Problem occurred - config data not saved");
  EXPECT_EQ(SaveErrorText(SaveError::None), nullptr);
}

}  // namespace
}  // namespace plombix
