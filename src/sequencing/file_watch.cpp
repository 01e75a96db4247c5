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

std::optional<FileStamp> StatFileTimeSource::stamp(const std::string& path) {
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

void FileWatch::ToggleWatch(uint8_t& watchOn) {
  on_ = !on_;
  watchOn = on_ ? 1 : 0;
  caption();
}

void FileWatch::SetWatch(bool on) {
  on_ = on;
  caption();
}

void FileWatch::PollWatchedFile(const std::string& currentFileName) {
  if (!on_ || currentFileName.empty()) return;
  const auto stamp = times_.stamp(currentFileName);
  if (!stamp) return;
  const auto low = static_cast<uint32_t>(stamp->writeTime);
  if (lastSeen_ != 0 && lastSeen_ != low) {
    pending_ = Pending{currentFileName, *stamp};
    host_.startSettleTimer(kWatchSettleMs);
  }
  lastSeen_ = low;
}

void FileWatch::OnSettleTick(const std::string& currentFileName) {
  if (!pending_) return;
  if (!on_ || pending_->path != currentFileName) {
    pending_.reset();
    return;
  }
  const auto stamp = times_.stamp(currentFileName);
  if (!stamp) {
    // Gone or unreadable for the moment (being replaced): the next poll
    // sees it again with a new time.
    pending_.reset();
    return;
  }
  if (*stamp == pending_->stamp) {
    pending_.reset();
    (void)host_.showPicture(currentFileName);
    return;
  }
  // Still being written: wait until it stays the same.
  pending_->stamp = *stamp;
  lastSeen_ = static_cast<uint32_t>(stamp->writeTime);
  host_.startSettleTimer(kWatchSettleMs);
}

}  // namespace plombix
