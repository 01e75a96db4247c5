#include "file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <utility>

#include "decode_budget.h"
#include "pixel_alloc.h"
#include "unique_fd.h"

namespace plombix {
namespace {

// Large enough to read a photo in a few calls, small enough that a
// cancellation is seen within a millisecond or so.
constexpr size_t kChunkBytes = size_t(4) << 20;

std::mutex hookMutex;
std::function<void(const std::string&)> readHook;

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

void SetFileReadHookForTesting(std::function<void(const std::string&)> hook) {
  std::lock_guard<std::mutex> lock(hookMutex);
  readHook = std::move(hook);
}

DecodeError ReadFileBytes(const std::string& path, FileBytes* out,
                          const std::function<bool()>& cancelled) {
  *out = FileBytes{};
  if (path.empty()) return DecodeError::CannotOpen;
  // O_NONBLOCK keeps a FIFO from blocking the open; only regular files are
  // read, so it never matters for the reads themselves.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) return errno == ENOENT ? DecodeError::NotFound : DecodeError::CannotOpen;
  struct stat before {};
  if (::fstat(fd.get(), &before) != 0 || !S_ISREG(before.st_mode)) return DecodeError::CannotOpen;
  if (before.st_size == 0) return DecodeError::NotAnImage;
  if (before.st_size > kDecodeBudgetBytes) return DecodeError::TooLarge;

  const size_t size = size_t(before.st_size);
  auto data = AllocateArray<uint8_t>(size);
  if (!data) return DecodeError::OutOfMemory;
  size_t done = 0;
  bool hooked = false;
  while (done < size) {
    const ssize_t got = ::read(fd.get(), data.get() + done, std::min(kChunkBytes, size - done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return DecodeError::CannotOpen;
    if (got == 0) return DecodeError::Changed;  // cut short while we read
    done += size_t(got);
    if (!hooked) {
      hooked = true;
      std::function<void(const std::string&)> hook;
      {
        std::lock_guard<std::mutex> lock(hookMutex);
        hook = readHook;
      }
      if (hook) hook(path);
    }
    if (cancelled && cancelled()) return DecodeError::Cancelled;
  }
  // One more byte would mean the file grew; the size check below sees that
  // too, but only if the write has updated the size already.
  uint8_t extra;
  ssize_t more;
  do more = ::read(fd.get(), &extra, 1);
  while (more < 0 && errno == EINTR);
  if (more != 0) return DecodeError::Changed;

  struct stat after {};
  struct stat named {};
  if (::fstat(fd.get(), &after) != 0 || ::stat(path.c_str(), &named) != 0)
    return DecodeError::Changed;  // removed or renamed away meanwhile
  if (!SameFile(before, after) || !SameFile(before, named)) return DecodeError::Changed;
  out->data = std::move(data);
  out->size = size;
  return DecodeError::None;
}

}  // namespace plombix
