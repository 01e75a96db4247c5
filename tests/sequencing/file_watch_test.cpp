#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "file_watch.h"
#include "recording_hosts.h"

namespace plombix {
namespace {

using testing::Calls;
using testing::RecordingWatchHost;

// Times a test sets by hand; a path without a time is missing.
class FakeTimes : public FileTimeSource {
 public:
  std::map<std::string, uint64_t> times;
  std::vector<std::string> asked;
  std::optional<uint64_t> lastWriteTime(const std::string& path) override {
    asked.push_back(path);
    const auto it = times.find(path);
    if (it == times.end()) return std::nullopt;
    return it->second;
  }
};

struct Watch {
  FakeTimes times;
  RecordingWatchHost host;
  FileWatch watch{times, host};
  uint8_t watchOn = 0;
  Watch() {
    watch.ToggleWatch(watchOn);
    host.calls.clear();
  }
};

TEST(FileTimeFromUnix, CountsHundredNanosecondsSince1601) {
  // 1970-01-01 is 11,644,473,600 s after 1601-01-01: 116,444,736,000,000,000 units.
  EXPECT_EQ(FileTimeFromUnix(0, 0), 116444736000000000ULL);
  EXPECT_EQ(FileTimeFromUnix(1, 250), 116444736000000000ULL + 10000000ULL + 2ULL);  // 250 ns -> 2 units
  EXPECT_EQ(FileTimeFromUnix(-11644473600LL, 0), 0ULL);  // 1601-01-01 itself
  EXPECT_EQ(static_cast<uint32_t>(FileTimeFromUnix(0, 0)), 0xD53E8000u);
}

TEST(ToggleWatch, CaptionsAndMirrorsTheSwitch) {
  FakeTimes times;
  RecordingWatchHost host;
  FileWatch watch(times, host);
  uint8_t watchOn = 0;
  watch.ToggleWatch(watchOn);
  EXPECT_EQ(watchOn, 1);
  watch.ToggleWatch(watchOn);
  EXPECT_EQ(watchOn, 0);
  watch.SetWatch(true);
  EXPECT_EQ(host.calls, (Calls{"button:Watching state 2", "button:Watch state 3", "button:Watching state 2"}));
  EXPECT_TRUE(watch.on());
}

TEST(PollWatchedFile, FirstPollOnlyRecordsThenAChangeReShows) {
  Watch w;
  w.times.times["/p/a.png"] = 0x0000000100000005ULL;
  w.watch.PollWatchedFile("/p/a.png");
  EXPECT_TRUE(w.host.calls.empty());
  EXPECT_EQ(w.watch.lastSeen(), 5u);
  w.watch.PollWatchedFile("/p/a.png");  // unchanged
  EXPECT_TRUE(w.host.calls.empty());
  w.times.times["/p/a.png"] = 0x0000000100000009ULL;
  w.watch.PollWatchedFile("/p/a.png");
  EXPECT_EQ(w.host.calls, (Calls{"show:/p/a.png"}));
  EXPECT_EQ(w.watch.lastSeen(), 9u);
}

TEST(PollWatchedFile, TwoTouchesWithinOnePeriodGiveOneReShow) {
  Watch w;
  w.times.times["/p/a.png"] = 100;
  w.watch.PollWatchedFile("/p/a.png");
  w.times.times["/p/a.png"] = 200;  // first touch
  w.times.times["/p/a.png"] = 300;  // second touch before the next poll
  w.watch.PollWatchedFile("/p/a.png");
  w.watch.PollWatchedFile("/p/a.png");
  EXPECT_EQ(w.host.calls, (Calls{"show:/p/a.png"}));
}

TEST(PollWatchedFile, AChangeOfOnlyTheHigh32BitsGoesUnnoticed) {
  Watch w;
  w.times.times["/p/a.png"] = 0x0000000100000007ULL;
  w.watch.PollWatchedFile("/p/a.png");
  w.times.times["/p/a.png"] = 0x0000000200000007ULL;
  w.watch.PollWatchedFile("/p/a.png");
  EXPECT_TRUE(w.host.calls.empty());
}

TEST(PollWatchedFile, LowBitsZeroCountAsNothingSeen) {
  Watch w;
  w.times.times["/p/a.png"] = 0x0000000300000000ULL;
  w.watch.PollWatchedFile("/p/a.png");
  EXPECT_EQ(w.watch.lastSeen(), 0u);
  w.times.times["/p/a.png"] = 0x0000000300000001ULL;
  w.watch.PollWatchedFile("/p/a.png");  // treated as the first poll
  EXPECT_TRUE(w.host.calls.empty());
  EXPECT_EQ(w.watch.lastSeen(), 1u);
}

TEST(PollWatchedFile, VanishedFileIsSkippedAndKeepsTheLastTime) {
  Watch w;
  w.times.times["/p/a.png"] = 50;
  w.watch.PollWatchedFile("/p/a.png");
  w.times.times.erase("/p/a.png");
  w.watch.PollWatchedFile("/p/a.png");
  EXPECT_EQ(w.watch.lastSeen(), 50u);
  w.times.times["/p/a.png"] = 50;  // back unchanged: nothing
  w.watch.PollWatchedFile("/p/a.png");
  EXPECT_TRUE(w.host.calls.empty());
  w.times.times["/p/a.png"] = 60;  // back rewritten: re-shown
  w.watch.PollWatchedFile("/p/a.png");
  EXPECT_EQ(w.host.calls, (Calls{"show:/p/a.png"}));
}

TEST(PollWatchedFile, OffOrEmptyNameOpensNothing) {
  FakeTimes times;
  RecordingWatchHost host;
  FileWatch watch(times, host);
  times.times["/p/a.png"] = 1;
  watch.PollWatchedFile("/p/a.png");  // off
  uint8_t on = 0;
  watch.ToggleWatch(on);
  watch.PollWatchedFile("");
  EXPECT_TRUE(times.asked.empty());
}

TEST(PollWatchedFile, AChangeMadeWhileOffIsPickedUpAfterSwitchingOn) {
  Watch w;
  w.times.times["/p/a.png"] = 10;
  w.watch.PollWatchedFile("/p/a.png");
  w.watch.ToggleWatch(w.watchOn);  // off
  w.times.times["/p/a.png"] = 20;
  w.watch.PollWatchedFile("/p/a.png");
  w.watch.ToggleWatch(w.watchOn);  // on again
  w.host.calls.clear();
  w.watch.PollWatchedFile("/p/a.png");
  EXPECT_EQ(w.host.calls, (Calls{"show:/p/a.png"}));
}

TEST(PollWatchedFile, ANewFileIsShownOnceBecauseTheSeenTimeBelongsToTheOldOne) {
  Watch w;
  w.times.times["/p/a.png"] = 10;
  w.times.times["/p/b.png"] = 99;
  w.watch.PollWatchedFile("/p/a.png");
  w.watch.PollWatchedFile("/p/b.png");
  w.watch.PollWatchedFile("/p/b.png");
  EXPECT_EQ(w.host.calls, (Calls{"show:/p/b.png"}));
}

// ---- Real files ---------------------------------------------------------------

class RealDir {
 public:
  RealDir() {
    std::string t = (std::filesystem::temp_directory_path() / "plombix-watch-XXXXXX").string();
    EXPECT_NE(::mkdtemp(t.data()), nullptr);
    path_ = t;
  }
  ~RealDir() { std::filesystem::remove_all(path_); }
  std::string file(const char* name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

void SetMtime(const std::string& path, int64_t sec, long nsec) {
  const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(sec), nsec}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(StatFileTimeSource, ReadsTheExactModificationTime) {
  RealDir dir;
  const auto f = dir.file("a.png");
  std::ofstream(f) << "x";
  SetMtime(f, 1700000000, 123456789);
  StatFileTimeSource source;
  const auto t = source.lastWriteTime(f);
  ASSERT_TRUE(t.has_value());
  // (1,700,000,000 + 11,644,473,600) x 10^7 + 1,234,567 (123,456,789 ns div 100)
  EXPECT_EQ(*t, 133444736001234567ULL);
  EXPECT_FALSE(source.lastWriteTime(dir.file("missing.png")).has_value());
  ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0644), 0);
  EXPECT_TRUE(source.lastWriteTime(dir.file("pipe")).has_value());  // opened without blocking
}

TEST(FileWatchOnRealFiles, RewriteReShowsButAHigh32BitChangeDoesNot) {
  RealDir dir;
  const auto f = dir.file("a.png");
  std::ofstream(f) << "x";
  StatFileTimeSource source;
  RecordingWatchHost host;
  FileWatch watch(source, host);
  uint8_t on = 0;
  watch.ToggleWatch(on);
  host.calls.clear();

  SetMtime(f, 1700000000, 0);
  watch.PollWatchedFile(f);
  EXPECT_TRUE(host.calls.empty());
  SetMtime(f, 1700000010, 0);
  watch.PollWatchedFile(f);
  EXPECT_EQ(host.calls, (Calls{"show:" + f}));
  // 2^32 units of 100 ns = 429.4967296 s: the low 32 bits come out equal.
  SetMtime(f, 1700000010 + 429, 496729600);
  watch.PollWatchedFile(f);
  EXPECT_EQ(host.calls.size(), 1u);
  std::filesystem::remove(f);
  watch.PollWatchedFile(f);  // vanished: skipped
  EXPECT_EQ(host.calls.size(), 1u);
}

}  // namespace
}  // namespace plombix
