#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <tuple>
#include <functional>

#include "config_file.h"
#include "config_test_support.h"

namespace plombix {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

struct SaveInputs {
  ViewerConfig block;
  PathBuffer image, overlay, slideshow;
};

SaveInputs SampleInputs() {
  SaveInputs in;
  in.block.fillColour1 = 0x00A1B2C3;
  in.block.useLast = 1;
  in.block.scalingMode = 2;
  in.block.slideshow = {2, 5, 3, 9, 1, 0, 1, 17};
  in.block.reserved.fill(0x5A);  // must not reach the file
  EXPECT_TRUE(in.image.assign("/pictures/long-name-first.png"));
  EXPECT_TRUE(in.image.assign("/p/a.png"));  // leaves a tail behind the terminator
  EXPECT_TRUE(in.overlay.assign("/pictures/logo.png"));
  EXPECT_TRUE(in.slideshow.assign("/shots/shot007.jpg"));
  return in;
}

SaveResult Save(const std::string& file, const SaveInputs& in) {
  return SaveConfigFile(file, in.block, in.image, in.overlay, in.slideshow);
}

// UTF-16LE bytes of an ASCII text, for comparing with the file.
std::vector<uint8_t> Utf16Le(const char* ascii) {
  std::vector<uint8_t> out;
  for (const char* p = ascii; *p; ++p) out.insert(out.end(), {static_cast<uint8_t>(*p), 0});
  return out;
}

TEST(SaveConfigFile, WritesTheDocumentedLayoutOf2364Bytes) {
  TempDir dir;
  const auto in = SampleInputs();
  ASSERT_TRUE(Save(dir.file("last.plq"), in).ok());
  const auto f = ReadBytes(dir.file("last.plq"));
  ASSERT_EQ(f.size(), 2364u);
  EXPECT_EQ(std::string(f.begin(), f.begin() + 8), "QLVPLMX1");
  // Block at 8: fillColour1 little-endian, scalingMode at block offset 24,
  // useLast at 29, the slideshow record at 32..39, reserved 40..51 as zeros.
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 8, f.begin() + 12), (std::vector<uint8_t>{0xC3, 0xB2, 0xA1, 0}));
  EXPECT_EQ(std::tuple(f[8 + 24], f[8 + 29]), std::tuple(2, 1));
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 40, f.begin() + 60),
            (std::vector<uint8_t>{2, 5, 3, 9, 1, 0, 1, 17, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  // Paths at 60, 828, 1596, each 768 bytes, in the order image, overlay, slideshow.
  const auto image = Utf16Le("/p/a.png");
  EXPECT_TRUE(std::equal(image.begin(), image.end(), f.begin() + 60));
  EXPECT_EQ(f[60 + 16], 0);  // terminator unit
  EXPECT_EQ(f[60 + 20], 'l');  // tail of the earlier, longer path: unit 10 of "/pictures/long..." 
  const auto overlay = Utf16Le("/pictures/logo.png");
  EXPECT_TRUE(std::equal(overlay.begin(), overlay.end(), f.begin() + 828));
  const auto slides = Utf16Le("/shots/shot007.jpg");
  EXPECT_TRUE(std::equal(slides.begin(), slides.end(), f.begin() + 1596));
}

TEST(SaveConfigFile, ReplacesTheOldFileKeepingItsPermissionsAndFollowsASymbolicLink) {
  TempDir dir;
  WriteBytes(dir.file("last.plq"), std::vector<uint8_t>(5000, 0xAB));
  ASSERT_EQ(::chmod(dir.file("last.plq").c_str(), 0640), 0);
  ASSERT_TRUE(Save(dir.file("last.plq"), SampleInputs()).ok());
  EXPECT_EQ(ReadBytes(dir.file("last.plq")).size(), 2364u);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"last.plq"});
  struct stat st {};
  ASSERT_EQ(::stat(dir.file("last.plq").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // Through a link: the link stays and its target gets the file.
  WriteBytes(dir.file("real.plq"), {1, 2, 3});
  ASSERT_EQ(::symlink(dir.file("real.plq").c_str(), dir.file("link.plq").c_str()), 0);
  ASSERT_TRUE(Save(dir.file("link.plq"), SampleInputs()).ok());
  ASSERT_EQ(::lstat(dir.file("link.plq").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadBytes(dir.file("real.plq")).size(), 2364u);
}

TEST(SaveConfigFile, AFileThatCannotBeCreatedFailsAndSaysSo) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("a-directory.plq").c_str(), 0755), 0);
  const struct { const char* name; std::string file; } rows[] = {
      {"missing directory", dir.file("no-such-dir/last.plq")},
      {"a directory in the way", dir.file("a-directory.plq")},
      {"empty name", ""},
  };
  for (const auto& row : rows) {
    const auto r = Save(row.file, SampleInputs());
    EXPECT_EQ(r.error, SaveError::CannotOpen) << row.name;
    EXPECT_STREQ(SaveErrorText(r.error), "Problem initiating file save") << row.name;
  }
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"a-directory.plq"});
}

// Runs `scenario` without root's right to ignore permissions: directly when
// not root, else in a child process that has dropped to an unprivileged
// user. True when the scenario returned true.
bool RunUnprivileged(const std::function<bool()>& scenario) {
  if (::geteuid() != 0) return scenario();
  const pid_t child = ::fork();
  if (child == 0) {
    const bool ok = ::setgid(65534) == 0 && ::setuid(65534) == 0 && scenario();
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A read-only file is left alone (CannotOpen, which the window does not
// show); a writable file in a folder refusing new files is overwritten in
// place, cut to the new length.
TEST(SaveConfigFile, AReadOnlyFileIsLeftAloneAReadOnlyFolderGetsTheFileOverwrittenInPlace) {
  TempDir readOnlyFile, readOnlyFolder;
  const std::vector<uint8_t> old(100, 0x11);
  const std::string kept = readOnlyFile.file("last.plq"), overwritten = readOnlyFolder.file("last.plq");
  WriteBytes(kept, old);
  WriteBytes(overwritten, std::vector<uint8_t>(3000, 0x11));  // longer than a save
  ASSERT_EQ(::chmod(readOnlyFile.path().c_str(), 0777), 0);
  ASSERT_EQ(::chmod(kept.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(overwritten.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(readOnlyFolder.path().c_str(), 0555), 0);
  EXPECT_TRUE(RunUnprivileged([&] { return Save(kept, SampleInputs()).error == SaveError::CannotOpen; }));
  EXPECT_EQ(ReadBytes(kept), old);
  EXPECT_EQ(readOnlyFile.entries(), std::vector<std::string>{"last.plq"});
  EXPECT_TRUE(RunUnprivileged([&] { return Save(overwritten, SampleInputs()).ok(); }));
  const auto f = ReadBytes(overwritten);
  ASSERT_EQ(f.size(), 2364u);
  EXPECT_EQ(std::string(f.begin(), f.begin() + 8), "QLVPLMX1");
}

// Limits the size of any file this process writes, so that a write crossing
// the limit fails (EFBIG) exactly as a full disk would make it fail.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    old_handler_ = ::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &old_);
    struct rlimit lim = old_;
    lim.rlim_cur = bytes;
    ok_ = ::setrlimit(RLIMIT_FSIZE, &lim) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    ::signal(SIGXFSZ, old_handler_);
  }
  bool ok() const { return ok_; }

 private:
  struct rlimit old_ {};
  sighandler_t old_handler_ = nullptr;
  bool ok_ = false;
};

TEST(SaveConfigFile, AWriteFailingMidwayReportsItsItemInItsWordsAndKeepsTheOldFile) {
  const struct {
    const char* name;
    rlim_t limit;  // the write of the item starting at or crossing it fails
    SaveError error;
    const char* text;
  } rows[] = {
      {"magic", 0, SaveError::Magic, "Problem initiating file save"},
      {"block", 8, SaveError::Block, "Problem occurred - config data not saved"},
      {"image path", 60 + 100, SaveError::ImagePath, "Problem occurred - image path not saved"},
      {"overlay path", 828, SaveError::OverlayPath, "Problem occurred - overlay path not saved"},
      {"slideshow path", 2363, SaveError::SlideshowPath, "Problem occurred - slideshow path not saved"},
  };
  for (const auto& row : rows) {
    TempDir dir;
    const std::vector<uint8_t> old(2364, 0x42);
    WriteBytes(dir.file("last.plq"), old);
    SaveResult r;
    {
      FileSizeLimit limit(row.limit);
      ASSERT_TRUE(limit.ok());
      r = Save(dir.file("last.plq"), SampleInputs());
    }
    EXPECT_EQ(r.error, row.error) << row.name;
    ASSERT_NE(SaveErrorText(r.error), nullptr) << row.name;
    EXPECT_STREQ(SaveErrorText(r.error), row.text) << row.name;
    EXPECT_EQ(ReadBytes(dir.file("last.plq")), old) << row.name << ": the old file must stay intact";
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"last.plq"}) << row.name;
  }
  // The texts of the rest: every failure has the title "Save File".
  EXPECT_STREQ(SaveErrorText(SaveError::Commit), "Problem occurred - config data not saved");
  EXPECT_EQ(SaveErrorText(SaveError::None), nullptr);
  EXPECT_STREQ(kSaveFileTitle, "Save File");
  EXPECT_STREQ(kConfigSavedOk, "Config file saved OK");
}

}  // namespace
}  // namespace plombix
