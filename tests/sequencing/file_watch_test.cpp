#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <sstream>

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

// Scripts on a watch switched on (with no file) over a file "a": tN sets
// its time, zN its size, g removes it, w toggles the watch (a as the
// current file), p polls a, x polls "" , r is the retry after a failed
// re-show, sN a picture went on air with its file's time N from before the
// read, fN the last re-show's read failed (the file's stamp then, time N).
TEST(PollWatchedFile, ScriptsOfTouchesShowsAndPolls) {
  const struct {
    const char* name;
    const char* script;
    Calls calls;
    uint32_t lastSeen;
    size_t lookups;  // times asked for
  } rows[] = {
      {"first poll only records, unchanged nothing, a change re-shows at once", "t5 p p t9 p", {"show:a"}, 9, 3},
      {"two touches within one period give one re-show", "t100 p t200 t300 p p", {"show:a"}, 300, 3},
      {"a change of only the high 32 bits goes unnoticed", "t4294967303 p t8589934599 p", {}, 7, 2},
      {"low bits zero count as nothing seen: the next poll is a first one", "t4294967296 p t4294967297 p", {}, 1, 2},
      {"a vanished file is skipped, keeps its time; back unchanged nothing", "t50 p g p t50 p t60 p", {"show:a"}, 60, 4},
      {"a change made while off is picked up after switching on", "t10 p w t20 p w p",
       {"button:Watch state 3", "button:Watching state 2", "show:a"}, 20, 2},
      {"the shown picture's file time is the reference", "s10 t20 p s20 p", {"show:a"}, 20, 2},
      {"turned on with no time seen, the file's time is taken at once", "w t10 w t20 p",
       {"button:Watch state 3", "button:Watching state 2", "show:a"}, 20, 2},
      {"a failed read is tried again once the file changed in time or size", "t10 p t20 p t25 f25 r z9 r f25 t30 r r p",
       {"show:a", "retry:250", "show:a", "retry:250", "show:a"}, 30, 6},
      {"off nothing is polled, an empty name opens nothing (1: the time taken on)", "t1 w p w x",
       {"button:Watch state 3", "button:Watching state 2"}, 1, 1},
  };
  for (const auto& row : rows) {
    FakeTimes times;
    testing::RecordingWatchHost host;
    FileWatch watch(times, host);
    uint8_t watchOn = 0;
    watch.ToggleWatch(watchOn, "");
    host.calls.clear();
    std::istringstream ops(row.script);
    for (std::string op; ops >> op;) {
      const uint64_t n = op.size() > 1 ? std::stoull(op.substr(1)) : 0;
      switch (op[0]) {
        case 't': times.times["a"].writeTime = n; break;
        case 'z': times.times["a"].size = n; break;
        case 'g': times.times.erase("a"); break;
        case 'w': watch.ToggleWatch(watchOn, "a"); break;
        case 'p': watch.PollWatchedFile("a"); break;
        case 'x': watch.PollWatchedFile(""); break;
        case 'r': watch.RetryFailedShow("a"); break;
        case 's': watch.Shown(FileStamp{n, 0}); break;
        case 'f': host.failed(FileStamp{n, times.times["a"].size}); break;
      }
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
  // 100-ns units since 1601: (1,700,000,000 + 11,644,473,600) x 10^7 +
  // 1,234,567 (123,456,789 ns div 100); 11,644,473,600 s from 1601 to 1970.
  EXPECT_EQ(t->writeTime, 133444736001234567ULL);
  EXPECT_EQ(t->size, 3u);
  EXPECT_FALSE(source.stamp(dir.file("missing.png")).has_value());
  ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0644), 0);
  EXPECT_TRUE(source.stamp(dir.file("pipe")).has_value());  // opened without blocking
}

}  // namespace
}  // namespace plombix
