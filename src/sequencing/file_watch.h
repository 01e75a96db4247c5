// The file watch: re-shows the current file when its last-write time
// changes on disk, by polling every 2.5 s (TIMER_WATCH).
//
// Times are compared as the low 32 bits of the last-write time counted in
// 100-ns units since 1601-01-01 (UTC), the unit of the file times the
// format was designed around; FileTimeFromUnix gives the conversion:
//   t = (seconds + 11,644,473,600) x 10,000,000 + nanoseconds div 100
// computed modulo 2^64 (unsigned), so times before 1601 or far in the future
// still give well-defined low bits. 11,644,473,600 s is the span from
// 1601-01-01 to 1970-01-01 (369 years with 89 leap days: 134,774 days).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace plombix {

inline constexpr int kWatchPollMs = 2500;
// How long a changed file must stay the same (size and time) before it is
// shown again: a file still being written is never put on air half done.
inline constexpr int kWatchSettleMs = 500;
inline constexpr const char* kWatchCaptionOn = "Watching";  // colour state 2
inline constexpr const char* kWatchCaptionOff = "Watch";    // colour state 3

// 100-ns units since 1601-01-01 for a time given as seconds and nanoseconds
// since 1970-01-01.
[[nodiscard]] uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds);

// What the poll knows of a file: its last-write time in 100-ns units since
// 1601 and its size in bytes.
struct FileStamp {
  uint64_t writeTime = 0;
  uint64_t size = 0;
  bool operator==(const FileStamp&) const = default;
};

// Where the poll gets a file's stamp from. Tests inject their own.
class FileTimeSource {
 public:
  virtual ~FileTimeSource() = default;
  // The stamp of `path`, or nothing when the file does not exist, cannot be
  // opened for reading, or its time cannot be read.
  virtual std::optional<FileStamp> stamp(const std::string& path) = 0;
};

// The real source: opens the file read-only (never blocking, so a named
// pipe cannot stall the poll), reads its modification time and size with
// fstat and closes it.
class StatFileTimeSource final : public FileTimeSource {
 public:
  std::optional<FileStamp> stamp(const std::string& path) override;
};

class FileWatchHost {
 public:
  virtual ~FileWatchHost() = default;
  // ShowPicture of `path` with sending; the result is not used.
  virtual bool showPicture(const std::string& path) = 0;
  // Watch button (1000): caption and colour state, then repaint.
  virtual void setWatchButton(const std::string& caption, int colourState) = 0;
  // The one-shot settle check (OnSettleTick after `periodMs`): start or
  // restart it.
  virtual void startSettleTimer(int periodMs) = 0;
};

class FileWatch {
 public:
  FileWatch(FileTimeSource& times, FileWatchHost& host) : times_(times), host_(host) {}

  // The Watch button: inverts the switch, watchOn := the new value,
  // captions the button.
  void ToggleWatch(uint8_t& watchOn);

  // Sets the switch without a click (a loaded configuration): captions the
  // button for `on`.
  void SetWatch(bool on);

  // One TIMER_WATCH tick on `currentFileName`: nothing when off or the name
  // is empty; nothing when the time cannot be read (the seen time stays);
  // otherwise, when a time was seen before (seen != 0) and the low 32 bits
  // differ, the file is due to be re-shown once it has settled; the low bits
  // are recorded either way.
  void PollWatchedFile(const std::string& currentFileName);

  // The settle check, kWatchSettleMs after a change was seen: re-shows the
  // file when its size and time are still those seen, else waits again.
  // Nothing when the watch is off or the current file is another one now.
  void OnSettleTick(const std::string& currentFileName);

  [[nodiscard]] bool on() const { return on_; }
  // Low 32 bits of the last write time seen; 0 = none seen yet.
  [[nodiscard]] uint32_t lastSeen() const { return lastSeen_; }

 private:
  void caption();

  struct Pending {
    std::string path;
    FileStamp stamp;
  };

  FileTimeSource& times_;
  FileWatchHost& host_;
  bool on_ = false;
  uint32_t lastSeen_ = 0;
  std::optional<Pending> pending_;  // a change seen, not yet settled
};

}  // namespace plombix
