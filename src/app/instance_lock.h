// InstanceLock: the number of this copy of the player, 0..7.
//
// Each running copy holds an exclusive flock on one lock file
// "instance-<k>.lock" (k = 0..7) in the per-user runtime folder for its whole
// life; a new copy takes the lowest k whose lock it can get. flock is atomic
// and released by the kernel when the process ends, however it ends, so two
// copies started together never share a number and a crashed copy frees its
// number at once.
//
// The lock files live in the per-user runtime folder that the stand-in
// runtime also uses (runtime_folder.h): $PLOMBIX_RUNTIME_DIR, else
// $XDG_RUNTIME_DIR/vora-plombix, else /tmp/vora-plombix-<uid>, mode 0700.
#pragma once

#include <string>

namespace plombix {

class InstanceLock {
 public:
  static constexpr int kMaxInstances = 8;

  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  enum class Result {
    Acquired,        // index() is this copy's number
    AllTaken,        // eight copies run already
    FolderUnusable,  // no usable folder for the lock files: error() says why
  };

  // Takes the lowest free number. When all eight are taken or the runtime
  // folder cannot be used, `index()` is -1.
  [[nodiscard]] Result TryAcquire();
  [[nodiscard]] bool Acquire() { return TryAcquire() == Result::Acquired; }
  void Release();

  int index() const { return index_; }
  // Why the folder could not be used (naming it), after FolderUnusable.
  const std::string& error() const { return error_; }

  // The runtime folder, created 0700 when missing; empty when it cannot be
  // made or is not safely ours.
  static std::string RuntimeFolder();

 private:
  int fd_ = -1;
  int index_ = -1;
  std::string error_;
};

}  // namespace plombix
