#include "runtime_folder.h"

#include <errno.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

namespace plombix {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool isDirectory(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Why `path` cannot be used, or empty when it can (after creating it).
std::string problemWith(const std::string& path) {
  if (path.empty()) return "empty path";
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return std::strerror(errno);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISLNK(st.st_mode)) return "a symbolic link";
  if (!S_ISDIR(st.st_mode)) return "not a directory";
  if (st.st_uid != ::geteuid()) return "owned by another user";
  if (st.st_mode & (S_IWGRP | S_IWOTH)) return "writable by other users";
  return {};
}

// Creates the missing parents of `path` with mode 0700 (as the base
// directory convention asks for folders under the user's home).
void makeParents(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    const std::string parent = path.substr(0, slash);
    if (!isDirectory(parent)) (void)::mkdir(parent.c_str(), 0700);
  }
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

}  // namespace

FolderResult EnsurePrivateFolder(const std::string& requested) {
  const std::string path = withoutTrailingSlash(requested);
  const std::string why = problemWith(path);
  if (why.empty()) return FolderResult{path, {}, {}};
  const std::string shown = quoted(path.empty() ? requested : path);
  return FolderResult{{}, "Cannot use the runtime folder " + shown + ": " + why, {}};
}

RuntimeFolderPlaces RuntimeFolderPlacesFromEnvironment() {
  RuntimeFolderPlaces places;
  places.forced = env("PLOMBIX_RUNTIME_DIR");
  const std::string xdg = env("XDG_RUNTIME_DIR");
  if (isDirectory(xdg)) places.xdgRuntime = withoutTrailingSlash(xdg) + "/vora-plombix";
  places.shared = "/tmp/vora-plombix-" + std::to_string(::geteuid());
  const std::string state = env("XDG_STATE_HOME");
  std::string home = env("HOME");
  if (home.empty()) {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir) home = pw->pw_dir;
  }
  if (!state.empty() && state[0] == '/')
    places.home = withoutTrailingSlash(state) + "/vora-plombix";
  else if (!home.empty() && home[0] == '/')
    places.home = withoutTrailingSlash(home) + "/.local/state/vora-plombix";
  return places;
}

FolderResult ResolveRuntimeFolder(const RuntimeFolderPlaces& places) {
  if (!places.forced.empty()) return EnsurePrivateFolder(places.forced);
  std::vector<std::string> candidates;
  for (const std::string& p : {places.xdgRuntime, places.shared, places.home})
    if (!p.empty()) candidates.push_back(withoutTrailingSlash(p));
  std::string refused;  // "'folder': why" of each folder that cannot be used, in order
  for (const std::string& path : candidates) {
    if (path == places.home) makeParents(path);
    const std::string why = problemWith(path);
    if (why.empty()) {
      FolderResult result{path, {}, {}};
      if (!refused.empty()) result.notice = "using the runtime folder " + quoted(path) + " (" + refused + ")";
      return result;
    }
    refused += (refused.empty() ? "" : "; ") + quoted(path) + ": " + why;
  }
  if (candidates.empty())
    return FolderResult{{}, "Cannot find a runtime folder (no /tmp, no home folder)", {}};
  return FolderResult{{}, "Cannot use any runtime folder: " + refused, {}};
}

FolderResult RuntimeFolder(FolderNotice notice) {
  FolderResult result = ResolveRuntimeFolder(RuntimeFolderPlacesFromEnvironment());
  if (notice == FolderNotice::Print && !result.notice.empty()) {
    // Say each fallback once, however often the folder is asked for.
    static std::mutex mutex;
    static std::set<std::string> said;
    std::lock_guard<std::mutex> lock(mutex);
    if (said.insert(result.notice).second)
      std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, result.notice.c_str());
  }
  return result;
}

FolderResult RuntimeSubfolder(const std::string& name, FolderNotice notice) {
  const FolderResult root = RuntimeFolder(notice);
  if (!root.ok()) return root;
  return EnsurePrivateFolder(root.path + "/" + name);
}

}  // namespace plombix
