#include "instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "runtime_folder.h"

namespace plombix {

std::string InstanceLock::RuntimeFolder() { return plombix::RuntimeFolder().path; }

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
