#include "instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace plombix {
namespace {

// Creates `path` with mode 0700 when missing; accepts an existing folder
// only when it belongs to us, so another user cannot plant lock files.
bool EnsurePrivateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

}  // namespace

std::string InstanceLock::RuntimeFolder() {
  std::string folder;
  if (const char* dir = std::getenv("PLOMBIX_RUNTIME_DIR"); dir && *dir) {
    folder = dir;
  } else if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) {
    folder = std::string(xdg) + "/vora-plombix";
  } else {
    folder = "/tmp/vora-plombix-" + std::to_string(::getuid());
  }
  return EnsurePrivateFolder(folder) ? folder : std::string();
}

InstanceLock::~InstanceLock() { Release(); }

bool InstanceLock::Acquire() {
  Release();
  const std::string folder = RuntimeFolder();
  if (folder.empty()) return false;
  for (int k = 0; k < kMaxInstances; ++k) {
    const std::string path = folder + "/instance-" + std::to_string(k) + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      fd_ = fd;
      index_ = k;
      return true;
    }
    ::close(fd);
  }
  return false;
}

void InstanceLock::Release() {
  if (fd_ >= 0) ::close(fd_);  // closing the descriptor drops the flock
  fd_ = -1;
  index_ = -1;
}

}  // namespace plombix
