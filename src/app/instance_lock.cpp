#include "instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "runtime_folder.h"

namespace plombix {

std::string InstanceLock::RuntimeFolder() { return plombix::RuntimeFolder().path; }

InstanceLock::~InstanceLock() { Release(); }

InstanceLock::Result InstanceLock::TryAcquire() {
  Release();
  error_.clear();
  const FolderResult folder = plombix::RuntimeFolder();
  if (!folder.ok()) {
    error_ = folder.error;
    return Result::FolderUnusable;
  }
  int opened = 0;
  std::string lastError;
  for (int k = 0; k < kMaxInstances; ++k) {
    const std::string path = folder.path + "/instance-" + std::to_string(k) + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
      lastError = "Cannot use the runtime folder '" + folder.path + "': " + std::strerror(errno);
      continue;
    }
    ++opened;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      fd_ = fd;
      index_ = k;
      return Result::Acquired;
    }
    ::close(fd);
  }
  // Only locks that could be opened and were held by others mean that eight
  // copies run; a folder whose lock files cannot even be opened is unusable.
  if (opened == 0) {
    error_ = lastError;
    return Result::FolderUnusable;
  }
  return Result::AllTaken;
}

void InstanceLock::Release() {
  if (fd_ >= 0) ::close(fd_);  // closing the descriptor drops the flock
  fd_ = -1;
  index_ = -1;
}

}  // namespace plombix
