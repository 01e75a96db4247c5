#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include "file_watch.h"
#include "recording_hosts.h"
#include "temp_dir.h"

namespace plombix {
namespace {

using testing::Calls;
using testing::RecordingWatchHost;

// Stamps a test sets by hand; a path without one is missing.
class FakeTimes : public FileTimeSource {
 public:
  std::map<std::string, FileStamp> times;
  std::vector<std::string> asked;
  std::optional<FileStamp> stamp(const std::string& path) override {
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
  Watch w;  // toggled on
  EXPECT_EQ(w.watchOn, 1);
  w.watch.ToggleWatch(w.watchOn);
  EXPECT_EQ(w.watchOn, 0);
  EXPECT_FALSE(w.watch.on());
  w.watch.SetWatch(true);
  EXPECT_EQ(w.host.calls, (Calls{"button:Watch state 3", "button:Watching state 2"}));
  EXPECT_TRUE(w.watch.on());
}

// Scripts on a watch switched on: 't' sets a path's time, 's' its size, 'g'
// removes the file, 'w' toggles the watch, 'p' polls a path, 'x' runs the
// settle check with a path as the current file.
TEST(PollWatchedFile, ScriptsOfTouchesAndPolls) {
  struct Op {
    char kind;
    const char* path;
    uint64_t time = 0;
  };
  const struct {
    const char* name;
    std::vector<Op> ops;
    Calls calls;
    uint32_t lastSeen;
    size_t lookups;  // times asked for
  } rows[] = {
      {"first poll only records, unchanged does nothing, a change re-shows once settled",
       {{'t', "a", 0x100000005}, {'p', "a"}, {'p', "a"}, {'t', "a", 0x100000009}, {'p', "a"}, {'x', "a"}},
       {"settle:500", "show:a"}, 9, 4},
      {"two touches within one period give one re-show",
       {{'t', "a", 100}, {'p', "a"}, {'t', "a", 200}, {'t', "a", 300}, {'p', "a"}, {'x', "a"}, {'p', "a"}},
       {"settle:500", "show:a"}, 300, 4},
      {"a file still being written is shown only when it stays the same",
       {{'t', "a", 10}, {'p', "a"}, {'t', "a", 20}, {'s', "a", 5}, {'p', "a"}, {'t', "a", 30},
        {'s', "a", 9}, {'x', "a"}, {'x', "a"}},
       {"settle:500", "settle:500", "show:a"}, 30, 4},
      {"a settle check after the current file changed shows nothing",
       {{'t', "a", 1}, {'p', "a"}, {'t', "a", 2}, {'p', "a"}, {'x', "b"}, {'x', "a"}},
       {"settle:500"}, 2, 2},
      {"a change of only the high 32 bits goes unnoticed",
       {{'t', "a", 0x100000007}, {'p', "a"}, {'t', "a", 0x200000007}, {'p', "a"}}, {}, 7, 2},
      {"low bits zero count as nothing seen: the next poll is a first one",
       {{'t', "a", 0x300000000}, {'p', "a"}, {'t', "a", 0x300000001}, {'p', "a"}}, {}, 1, 2},
      {"a vanished file is skipped and keeps its time; back unchanged nothing, rewritten re-shown",
       {{'t', "a", 50}, {'p', "a"}, {'g', "a"}, {'p', "a"}, {'t', "a", 50}, {'p', "a"}, {'t', "a", 60},
        {'p', "a"}, {'x', "a"}},
       {"settle:500", "show:a"}, 60, 5},
      {"a change made while off is picked up after switching on",
       {{'t', "a", 10}, {'p', "a"}, {'w', ""}, {'t', "a", 20}, {'p', "a"}, {'w', ""}, {'p', "a"}, {'x', "a"}},
       {"button:Watch state 3", "button:Watching state 2", "settle:500", "show:a"}, 20, 3},
      {"a new file is shown once: the seen time belongs to the old one",
       {{'t', "a", 10}, {'t', "b", 99}, {'p', "a"}, {'p', "b"}, {'x', "b"}, {'p', "b"}},
       {"settle:500", "show:b"}, 99, 4},
      {"off or an empty name opens nothing", {{'t', "a", 1}, {'w', ""}, {'p', "a"}, {'w', ""}, {'p', ""}},
       {"button:Watch state 3", "button:Watching state 2"}, 0, 0},
  };
  for (const auto& row : rows) {
    Watch w;
    for (const Op& op : row.ops) {
      if (op.kind == 't') w.times.times[op.path].writeTime = op.time;
      if (op.kind == 's') w.times.times[op.path].size = op.time;
      if (op.kind == 'g') w.times.times.erase(op.path);
      if (op.kind == 'w') w.watch.ToggleWatch(w.watchOn);
      if (op.kind == 'p') w.watch.PollWatchedFile(op.path);
      if (op.kind == 'x') w.watch.OnSettleTick(op.path);
    }
    EXPECT_EQ(w.host.calls, row.calls) << row.name;
    EXPECT_EQ(w.watch.lastSeen(), row.lastSeen) << row.name;
    EXPECT_EQ(w.times.asked.size(), row.lookups) << row.name;
  }
}

// ---- Real files ---------------------------------------------------------------

TEST(StatFileTimeSource, ReadsTheExactModificationTimeAndSize) {
  testing::TempDir dir;
  const auto f = dir.file("a.png");
  std::ofstream(f) << "xyz";
  const struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 123456789}};  // access, modification
  ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), times, 0), 0);
  StatFileTimeSource source;
  const auto t = source.stamp(f);
  ASSERT_TRUE(t.has_value());
  // (1,700,000,000 + 11,644,473,600) x 10^7 + 1,234,567 (123,456,789 ns div 100)
  EXPECT_EQ(t->writeTime, 133444736001234567ULL);
  EXPECT_EQ(t->size, 3u);
  EXPECT_FALSE(source.stamp(dir.file("missing.png")).has_value());
  ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0644), 0);
  EXPECT_TRUE(source.stamp(dir.file("pipe")).has_value());  // opened without blocking
}

}  // namespace
}  // namespace plombix
