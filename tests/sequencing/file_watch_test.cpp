#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <map>

#include "file_watch.h"
#include "recording_hosts.h"
#include "temp_dir.h"

namespace plombix {
namespace {

using testing::Calls;

// Stamps a test sets by hand; a path without one is missing.
class FakeTimes : public FileTimeSource {
 public:
  std::map<std::string, FileStamp> times;
  size_t asked = 0;
  std::optional<FileStamp> stamp(const std::string& path) override {
    ++asked;
    const auto it = times.find(path);
    return it == times.end() ? std::nullopt : std::optional(it->second);
  }
};

TEST(FileTimeFromUnix, CountsHundredNanosecondsSince1601) {
  // 1970-01-01 is 11,644,473,600 s after 1601-01-01: 116,444,736,000,000,000 units.
  EXPECT_EQ(FileTimeFromUnix(0, 0), 116444736000000000ULL);
  EXPECT_EQ(FileTimeFromUnix(1, 250), 116444736000000000ULL + 10000000ULL + 2ULL);  // 250 ns -> 2 units
  EXPECT_EQ(FileTimeFromUnix(-11644473600LL, 0), 0ULL);  // 1601-01-01 itself
}

// Scripts on a watch switched on (with no file): 't' sets a path's time,
// 'z' its size, 'g' removes the file, 'w' toggles the watch with a path as
// the current file, 'p' polls a path, 'r' the retry after a failed re-show,
// 's' a picture went on air with its file's time from before the read, 'f'
// the last re-show's read failed (the file's stamp then, the time given).
TEST(PollWatchedFile, ScriptsOfTouchesShowsAndPolls) {
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
      {"first poll only records, unchanged does nothing, a change re-shows at once",
       {{'t', "a", 0x100000005}, {'p', "a"}, {'p', "a"}, {'t', "a", 0x100000009}, {'p', "a"}}, {"show:a"}, 9, 3},
      {"two touches within one period give one re-show",
       {{'t', "a", 100}, {'p', "a"}, {'t', "a", 200}, {'t', "a", 300}, {'p', "a"}, {'p', "a"}}, {"show:a"}, 300, 3},
      {"a change of only the high 32 bits goes unnoticed",
       {{'t', "a", 0x100000007}, {'p', "a"}, {'t', "a", 0x200000007}, {'p', "a"}}, {}, 7, 2},
      {"low bits zero count as nothing seen: the next poll is a first one",
       {{'t', "a", 0x300000000}, {'p', "a"}, {'t', "a", 0x300000001}, {'p', "a"}}, {}, 1, 2},
      {"a vanished file is skipped and keeps its time; back unchanged nothing, rewritten re-shown",
       {{'t', "a", 50}, {'p', "a"}, {'g', "a"}, {'p', "a"}, {'t', "a", 50}, {'p', "a"}, {'t', "a", 60}, {'p', "a"}},
       {"show:a"}, 60, 4},
      {"a change made while off is picked up after switching on",
       {{'t', "a", 10}, {'p', "a"}, {'w', "a"}, {'t', "a", 20}, {'p', "a"}, {'w', "a"}, {'p', "a"}},
       {"button:Watch state 3", "button:Watching state 2", "show:a"}, 20, 2},
      {"the time of the shown picture's file is the reference: a rewrite right after is seen",
       {{'s', "a", 10}, {'t', "a", 20}, {'p', "a"}, {'s', "a", 20}, {'p', "a"}}, {"show:a"}, 20, 2},
      {"turned on with no time seen, the current file's time is taken at once",
       {{'w', "a"}, {'t', "a", 10}, {'w', "a"}, {'t', "a", 20}, {'p', "a"}},
       {"button:Watch state 3", "button:Watching state 2", "show:a"}, 20, 2},
      {"a failed read is tried again when the file has changed since, in time or size",
       {{'t', "a", 10}, {'p', "a"}, {'t', "a", 20}, {'p', "a"}, {'t', "a", 25}, {'f', "a", 25}, {'r', "a"},
        {'z', "a", 9}, {'r', "a"}, {'f', "a", 25}, {'t', "a", 30}, {'r', "a"}, {'r', "a"}, {'p', "a"}},
       {"show:a", "retry:250", "show:a", "retry:250", "show:a"}, 30, 6},
      {"off or an empty name opens nothing", {{'t', "a", 1}, {'w', ""}, {'p', "a"}, {'w', ""}, {'p', ""}},
       {"button:Watch state 3", "button:Watching state 2"}, 0, 0},
  };
  for (const auto& row : rows) {
    FakeTimes times;
    testing::RecordingWatchHost host;
    FileWatch watch(times, host);
    uint8_t watchOn = 0;
    watch.ToggleWatch(watchOn, "");
    host.calls.clear();
    for (const Op& op : row.ops) {
      if (op.kind == 't') times.times[op.path].writeTime = op.time;
      if (op.kind == 'g') times.times.erase(op.path);
      if (op.kind == 'w') watch.ToggleWatch(watchOn, op.path);
      if (op.kind == 'z') times.times[op.path].size = op.time;
      if (op.kind == 'p') watch.PollWatchedFile(op.path);
      if (op.kind == 'r') watch.RetryFailedShow(op.path);
      if (op.kind == 's') watch.Shown(FileStamp{op.time, 0});
      if (op.kind == 'f') host.failed(FileStamp{op.time, times.times[op.path].size});
    }
    EXPECT_EQ(host.calls, row.calls) << row.name;
    EXPECT_EQ(watch.lastSeen(), row.lastSeen) << row.name;
    EXPECT_EQ(times.asked, row.lookups) << row.name;
    EXPECT_EQ(watchOn, watch.on() ? 1 : 0) << row.name;
  }
}

TEST(ReadFileStamp, ReadsTheExactModificationTimeAndSize) {
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
