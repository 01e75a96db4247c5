// The as-run log: one line of JSON for each picture that goes on air, so
// that what was broadcast can be shown afterwards.
//
// File: <folder>/as-run-N.jsonl for copy N, the folder being
// $XDG_STATE_HOME/vora-plombix (an absolute $XDG_STATE_HOME), else
// ~/.local/state/vora-plombix -- where the runtime folder falls back to.
// A line:
//   {"time":"2026-05-14T10:22:33.123Z","path":"/pictures/a.jpg","size":48213,
//    "sha256":"9f86d0...","output":{"width":1920,"height":1080,"frameRateN":30000,
//    "frameRateD":1001},"trigger":"drop","transition":"cut"}
// time is UTC to the millisecond; size and sha256 are those of the file when
// the line is written, or null when it can no longer be read.
//
// AsRunLog writes on its own thread: append() only queues the entry, so the
// caller never waits on the disk or on hashing a large file. Each line goes
// out in one write(); a write that does not go through whole (a full disk)
// is cut back off, so the file never holds a torn line. A failure (full
// disk, a folder that cannot be made or written) is reported once through
// the failure callback, again only after a line has been written since;
// entries that cannot be written are lost, nothing else stops.
//
// At start, on the writer's thread: as-run files of any copy not written
// for `keepDays` are removed, and this copy's lines older than that dropped.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plombix {

using AsRunClock = std::chrono::system_clock;

struct AsRunEntry {
  AsRunClock::time_point time;  // when it went on air
  std::string path;
  int outputWidth = 0;
  int outputHeight = 0;
  int frameRateN = 0;
  int frameRateD = 1;
  std::string trigger;  // drop, open, recent, api, key, pad, timer, watch, restore, take
  bool fade = false;    // "fade", else "cut"
};

// The folder of the list at the top, from the environment; empty when no
// home folder is known.
[[nodiscard]] std::string AsRunFolderFromEnvironment();
// "<folder>/as-run-<copy>.jsonl"
[[nodiscard]] std::string AsRunFile(const std::string& folder, int copyNumber);

// "2026-05-14T10:22:33.123Z", and back (the milliseconds may be left out).
[[nodiscard]] std::string AsRunTimeText(AsRunClock::time_point time);
[[nodiscard]] std::optional<AsRunClock::time_point> ParseAsRunTime(std::string_view text);

// The line for `entry` (without its line break), the file's size and hash as given.
[[nodiscard]] std::string AsRunLine(const AsRunEntry& entry, std::optional<uint64_t> size,
                                    const std::string& sha256);

class AsRunLog {
 public:
  struct Options {
    std::string folder;  // made (with its parents, mode 0700) when missing
    int copyNumber = 1;
    // Called on the writer's thread with the operator's words for a failure.
    std::function<void(const std::string& message)> onFailure;
    int keepDays = 31;
    size_t maxWaiting = 1024;  // entries queued beyond this are lost (and reported)
  };

  [[nodiscard]] static std::unique_ptr<AsRunLog> Start(Options options);
  // Writes what is queued, then stops the thread.
  ~AsRunLog();
  AsRunLog(const AsRunLog&) = delete;
  AsRunLog& operator=(const AsRunLog&) = delete;

  // Any thread; never blocks on the disk.
  void append(AsRunEntry entry);
  // Waits until everything appended so far is written or has failed (tests).
  void waitIdle();

  class Writer;

 private:
  AsRunLog() = default;
  std::unique_ptr<Writer> writer_;
};

// The lines of `file` whose time is at or after `since` (all when absent),
// the last `limit` of them, oldest first. A missing file has none; a line
// cut short by a concurrent write is left out. False when the file exists
// but cannot be read.
[[nodiscard]] bool ReadAsRun(const std::string& file, std::optional<AsRunClock::time_point> since,
                             size_t limit, std::vector<std::string>* lines);

}  // namespace plombix
