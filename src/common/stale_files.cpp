#include "stale_files.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace plombix {
namespace {

// Whether process `pid` may still write: it exists (kill with no signal
// succeeds, or is refused because it belongs to someone else).
bool Runs(long pid) {
  if (pid == long(::getpid())) return false;
  return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

int RemoveStaleWrites(const std::string& target, const std::string& marker) {
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  const std::string prefix = (slash == std::string::npos ? target : target.substr(slash + 1)) + marker;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return 0;
  int removed = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0) continue;
    const char* digits = name + prefix.size();
    if (*digits < '0' || *digits > '9') continue;
    char* end = nullptr;
    errno = 0;
    const long pid = std::strtol(digits, &end, 10);
    // Only names this program makes: a positive id ended by '-'.
    if (*end != '-' || pid <= 0 || errno != 0) continue;
    if (Runs(pid)) continue;
    if (::unlinkat(::dirfd(dir), name, 0) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}

}  // namespace plombix
