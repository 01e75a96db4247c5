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
//
// A half-written file never reaches the output because the read itself is
// checked (the file must keep its size and time across the read, and the
// decode must be complete), not because the watch waits for the file to
// stay quiet: a file that another program rewrites without pause is still
// re-shown every poll with its latest complete version. A re-show whose
// read failed while the file was changing is tried again shortly
// (kWatchRetryMs), as long as the file keeps changing.
//
// The reference time is the one the shown picture's file had just before it
// was read (Shown), so a rewrite at any moment after a picture went on air
// is noticed by the next poll, also one made right after Watch was turned
// on.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace plombix {

inline constexpr int kWatchPollMs = 2500;
// A re-show that failed on a file being rewritten is tried again after this.
inline constexpr int kWatchRetryMs = 250;
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

// The stamp of the file at `path`: opened read-only without blocking (so a
// named pipe cannot stall the caller), fstat, closed. Nothing when the file
// does not exist or cannot be opened. Any thread.
[[nodiscard]] std::optional<FileStamp> ReadFileStamp(const std::string& path);

// Where the poll gets a file's stamp from. Tests inject their own.
class FileTimeSource {
 public:
  virtual ~FileTimeSource() = default;
  // The stamp of `path`, or nothing when the file does not exist, cannot be
  // opened for reading, or its time cannot be read.
  virtual std::optional<FileStamp> stamp(const std::string& path) = 0;
};

// The real source: ReadFileStamp.
class StatFileTimeSource final : public FileTimeSource {
 public:
  std::optional<FileStamp> stamp(const std::string& path) override { return ReadFileStamp(path); }
};

class FileWatchHost {
 public:
  virtual ~FileWatchHost() = default;
  // ShowPicture with sending of the current picture (`path`, or a newer one
  // already asked for). `failed(stamp)` follows only when `path` itself
  // could not be shown, with its stamp from just before the read.
  virtual void showPicture(const std::string& path,
                           std::function<void(std::optional<FileStamp> stamp)> failed) = 0;
  // Watch button (1000): caption and colour state, then repaint.
  virtual void setWatchButton(const std::string& caption, int colourState) = 0;
  // RetryFailedShow after `periodMs`: start or restart it.
  virtual void startRetryTimer(int periodMs) = 0;
};

class FileWatch {
 public:
  FileWatch(FileTimeSource& times, FileWatchHost& host) : times_(times), host_(host) {}

  // The Watch button: inverts the switch, watchOn := the new value,
  // captions the button. Turned on with no time seen yet, it takes the
  // current file's time now as the reference.
  void ToggleWatch(uint8_t& watchOn, const std::string& currentFileName);

  // Sets the switch without a click (a loaded configuration): captions the
  // button for `on`.
  void SetWatch(bool on);

  // One TIMER_WATCH tick on `currentFileName`: nothing when off or the name
  // is empty; nothing when the time cannot be read (the seen time stays);
  // otherwise, when a time was seen before (seen != 0) and the low 32 bits
  // differ, the file is re-shown; the low bits are recorded either way.
  void PollWatchedFile(const std::string& currentFileName);

  // kWatchRetryMs after a re-show whose read failed: when the file has
  // changed since that read (its time or its size: a writer finishing within
  // the same clock tick changes only the size), it is shown again.
  void RetryFailedShow(const std::string& currentFileName);

  // A picture went on air; `stamp` (its file's, from just before the read)
  // becomes the reference. Nothing when the stamp is not known.
  void Shown(const std::optional<FileStamp>& stamp);

  [[nodiscard]] bool on() const { return on_; }
  // Low 32 bits of the last write time seen; 0 = none seen yet.
  [[nodiscard]] uint32_t lastSeen() const { return lastSeen_; }

 private:
  void caption();
  void reShow(const std::string& path);

  FileTimeSource& times_;
  FileWatchHost& host_;
  bool on_ = false;
  uint32_t lastSeen_ = 0;
  std::optional<FileStamp> failed_;  // the stamp a failed re-show read
};

}  // namespace plombix
