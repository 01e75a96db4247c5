// The per-user runtime folder the stand-in runtime keeps its discovery files
// in, and the checks that make it safe to use.
//
// Folder, first that applies: $PLOMBIX_RUNTIME_DIR; $XDG_RUNTIME_DIR/vora-plombix;
// /tmp/vora-plombix-<uid>. It is created with mode 0700 when missing. An
// existing folder is used only if it is a real directory (not a symbolic
// link), owned by this user and not writable by group or others; anything
// else is refused, so another user cannot plant or remove sources.
#pragma once

#include <string>

namespace plombix::standin {

struct FolderResult {
  std::string path;   // without a trailing slash; empty on failure
  std::string error;  // why the folder cannot be used
  bool ok() const { return !path.empty(); }
};

// The runtime folder, created if needed.
[[nodiscard]] FolderResult RuntimeFolder();

// The "sources" folder inside the runtime folder, created if needed.
[[nodiscard]] FolderResult SourcesFolder();

// Creates `path` (one level) with mode 0700 if missing, then checks it as
// described above.
[[nodiscard]] FolderResult EnsurePrivateFolder(const std::string& path);

}  // namespace plombix::standin
