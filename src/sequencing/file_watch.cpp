// The file watch. See file_watch.h for the time arithmetic.
#include "file_watch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "step_controls.h"

namespace plombix {

uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
  constexpr uint64_t kEpochDifferenceSecs = 11644473600ULL;
  constexpr uint64_t kUnitsPerSecond = 10000000ULL;
  // Unsigned arithmetic wraps modulo 2^64, which keeps the low bits exact
  // for any input (and avoids signed overflow).
  return (static_cast<uint64_t>(seconds) + kEpochDifferenceSecs) * kUnitsPerSecond +
         static_cast<uint64_t>(nanoseconds / 100);
}

std::optional<FileStamp> ReadFileStamp(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  const bool ok = ::fstat(fd, &st) == 0;
  ::close(fd);
  if (!ok) return std::nullopt;
  return FileStamp{FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec), uint64_t(st.st_size)};
}

void FileWatch::caption() {
  if (on_) {
    host_.setWatchButton(kWatchCaptionOn, kColourStateOn);
  } else {
    host_.setWatchButton(kWatchCaptionOff, kColourStateIdle);
  }
}

void FileWatch::ToggleWatch(uint8_t& watchOn, const std::string& currentFileName) {
  on_ = !on_;
  watchOn = on_ ? 1 : 0;
  if (on_ && lastSeen_ == 0 && !currentFileName.empty()) {
    if (const auto stamp = times_.stamp(currentFileName)) lastSeen_ = static_cast<uint32_t>(stamp->writeTime);
  }
  caption();
}

void FileWatch::SetWatch(bool on) {
  on_ = on;
  caption();
}

void FileWatch::Shown(const std::optional<FileStamp>& stamp) {
  if (stamp) lastSeen_ = static_cast<uint32_t>(stamp->writeTime);
}

void FileWatch::PollWatchedFile(const std::string& currentFileName) {
  if (!on_ || currentFileName.empty()) return;
  const auto stamp = times_.stamp(currentFileName);
  if (!stamp) return;
  const auto low = static_cast<uint32_t>(stamp->writeTime);
  const bool changed = lastSeen_ != 0 && lastSeen_ != low;
  lastSeen_ = low;
  if (changed) reShow(currentFileName);
}

void FileWatch::RetryFailedShow(const std::string& currentFileName) {
  if (!on_ || !failed_ || currentFileName.empty()) return;
  const auto stamp = times_.stamp(currentFileName);
  if (!stamp || *stamp == *failed_) return;  // unchanged: the next poll takes over
  lastSeen_ = static_cast<uint32_t>(stamp->writeTime);
  reShow(currentFileName);
}

void FileWatch::reShow(const std::string& path) {
  failed_.reset();
  host_.showPicture(path, [this](std::optional<FileStamp> readStamp) {
    // The read failed, most likely on a file still being written: once it
    // has changed again (its writer finishing) it is tried again.
    if (!readStamp) return;
    failed_ = readStamp;
    lastSeen_ = static_cast<uint32_t>(readStamp->writeTime);
    host_.startRetryTimer(kWatchRetryMs);
  });
}

}  // namespace plombix
