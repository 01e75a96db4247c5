#include "runtime_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace plombix::standin {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

FolderResult failure(const std::string& path, const std::string& why) {
  return FolderResult{{}, "Cannot use the runtime folder '" + path + "': " + why};
}

}  // namespace

FolderResult EnsurePrivateFolder(const std::string& requested) {
  const std::string path = withoutTrailingSlash(requested);
  if (path.empty()) return failure(requested, "empty path");
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return failure(path, std::strerror(errno));
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return failure(path, std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) return failure(path, "not a directory");
  if (st.st_uid != ::geteuid()) return failure(path, "owned by another user");
  if (st.st_mode & (S_IWGRP | S_IWOTH)) return failure(path, "writable by other users");
  return FolderResult{path, {}};
}

FolderResult RuntimeFolder() {
  const std::string forced = env("PLOMBIX_RUNTIME_DIR");
  if (!forced.empty()) return EnsurePrivateFolder(forced);
  const std::string xdg = env("XDG_RUNTIME_DIR");
  if (!xdg.empty()) {
    struct stat st {};
    if (::stat(xdg.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      return EnsurePrivateFolder(withoutTrailingSlash(xdg) + "/vora-plombix");
  }
  return EnsurePrivateFolder("/tmp/vora-plombix-" + std::to_string(::geteuid()));
}

FolderResult SourcesFolder() {
  const FolderResult root = RuntimeFolder();
  if (!root.ok()) return root;
  return EnsurePrivateFolder(root.path + "/sources");
}

}  // namespace plombix::standin
