// Saving the configuration file without ever putting the old one at risk.
//
// The items go with unbuffered writes into a new file created beside the
// target (same directory, so the rename cannot cross file systems), each
// write checked as it happens so that the failure is reported against the
// item that did not reach the file. Only when all four items are written
// and flushed to the disk is the new file renamed over the old one; on any
// failure the new file is removed and the old one is untouched.
//
// Two cases keep the behaviour of writing the file itself: an existing
// file that may not be written (read-only) is left alone without a
// message, and a directory that refuses new files while the old file may
// be written gets the old file overwritten in place.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <span>

#include "config_file.h"

namespace plombix {
namespace {

bool writeAll(int fd, std::span<const uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The file the save replaces: a symbolic link is followed so that the file
// it names is replaced and the link stays.
std::string resolveTarget(const std::string& fileName) {
  struct stat st {};
  if (::lstat(fileName.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(fileName.c_str(), nullptr)) {
      std::string resolved(real);
      std::free(real);
      return resolved;
    }
  }
  return fileName;
}

std::string directoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Creates a new, unique file beside `target`. The mode 0666 goes through
// the process's umask as any newly created file's does.
int createBeside(const std::string& target, std::string& tempName) {
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempName = target + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    const int fd = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST) return -1;
  }
  return -1;
}

void syncDirectory(const std::string& target) {
  const int dfd = ::open(directoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return;
  (void)::fsync(dfd);  // best effort: the rename itself has happened
  ::close(dfd);
}

// Writes the four items in file order; the first that does not reach the
// file names the failure.
SaveError writeItems(int fd, const ViewerConfig& block, const PathBuffer& imagePath,
                     const PathBuffer& overlayPath, const PathBuffer& slideshowPath) {
  std::array<uint8_t, kViewerConfigBytes> blockBytes{};
  EncodeViewerConfig(block, blockBytes);
  std::array<uint8_t, PathBuffer::kBytes> pathBytes{};

  if (!writeAll(fd, std::span(reinterpret_cast<const uint8_t*>(kConfigMagic), 8))) return SaveError::Magic;
  if (!writeAll(fd, blockBytes)) return SaveError::Block;
  imagePath.encode(pathBytes);
  if (!writeAll(fd, pathBytes)) return SaveError::ImagePath;
  overlayPath.encode(pathBytes);
  if (!writeAll(fd, pathBytes)) return SaveError::OverlayPath;
  slideshowPath.encode(pathBytes);
  if (!writeAll(fd, pathBytes)) return SaveError::SlideshowPath;
  return SaveError::None;
}

// The fallback for a directory that lets the file be written but no new
// file be created beside it: the old file is overwritten from its start
// (no truncation first), then cut to the new length.
SaveResult saveInPlace(const std::string& target, const ViewerConfig& block, const PathBuffer& imagePath,
                       const PathBuffer& overlayPath, const PathBuffer& slideshowPath) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return {SaveError::CannotOpen};
  SaveError e = writeItems(fd, block, imagePath, overlayPath, slideshowPath);
  if (e == SaveError::None &&
      (::ftruncate(fd, static_cast<off_t>(kConfigFileBytes)) != 0 || ::fsync(fd) != 0)) {
    e = SaveError::Commit;
  }
  if (::close(fd) != 0 && e == SaveError::None) e = SaveError::Commit;
  return {e};
}

}  // namespace

const char* SaveErrorText(SaveError error) {
  switch (error) {
    case SaveError::None: return nullptr;
    // A file that cannot be created or written at all (read-only file or
    // file system, a folder that refuses it) is as much a failure as a full
    // disk: said the same way.
    case SaveError::CannotOpen:
    case SaveError::Magic: return "Problem initiating file save";
    case SaveError::Block: return "Problem occurred - config data not saved";
    case SaveError::ImagePath: return "Problem occurred - image path not saved";
    case SaveError::OverlayPath: return "Problem occurred - overlay path not saved";
    case SaveError::SlideshowPath: return "Problem occurred - slideshow path not saved";
    case SaveError::Commit: return "Problem occurred - config data not saved";
  }
  return nullptr;
}

SaveResult SaveConfigFile(const std::string& fileName, const ViewerConfig& block,
                          const PathBuffer& imagePath, const PathBuffer& overlayPath,
                          const PathBuffer& slideshowPath) {
  if (fileName.empty()) return {SaveError::CannotOpen};
  const std::string target = resolveTarget(fileName);

  // Something that is not a regular file cannot be written as one, and a
  // file the operator made read-only stays as it is.
  struct stat old {};
  const bool hadOld = ::stat(target.c_str(), &old) == 0;
  if (hadOld && (!S_ISREG(old.st_mode) || ::access(target.c_str(), W_OK) != 0)) {
    return {SaveError::CannotOpen};
  }

  std::string tempName;
  const int fd = createBeside(target, tempName);
  if (fd < 0) {
    if (hadOld && (errno == EACCES || errno == EPERM)) {
      return saveInPlace(target, block, imagePath, overlayPath, slideshowPath);
    }
    return {SaveError::CannotOpen};
  }
  if (hadOld) (void)::fchmod(fd, old.st_mode & 07777);  // keep the old file's permissions

  const SaveError e = writeItems(fd, block, imagePath, overlayPath, slideshowPath);
  if (e != SaveError::None || ::fsync(fd) != 0) {
    ::close(fd);
    ::unlink(tempName.c_str());
    return {e != SaveError::None ? e : SaveError::Commit};
  }
  if (::close(fd) != 0 || ::rename(tempName.c_str(), target.c_str()) != 0) {
    ::unlink(tempName.c_str());
    return {SaveError::Commit};
  }
  syncDirectory(target);
  return {SaveError::None};
}

std::string ConfigFileName(int instanceNumber) {
  if (instanceNumber == 0) return "last.plq";
  const std::string name = "last" + std::to_string(static_cast<long long>(instanceNumber) + 1) + ".plq";
  if (name.size() > 15) return {};
  return name;
}

}  // namespace plombix
