// The per-user runtime folder: where the player keeps its instance locks and
// the stand-in runtime its discovery and port files. No other layer of ours.
//
// Folder, in this order:
//   1. $PLOMBIX_RUNTIME_DIR when set (non-empty): that folder and no other,
//      so a forced choice never silently turns into another folder;
//   2. $XDG_RUNTIME_DIR/vora-plombix, when $XDG_RUNTIME_DIR names a folder;
//   3. /tmp/vora-plombix-<uid>;
//   4. a private folder under the user's home: $XDG_STATE_HOME/vora-plombix
//      (an absolute $XDG_STATE_HOME), else ~/.local/state/vora-plombix.
// The first that can be used serves. A folder is created with mode 0700 when
// missing (the home one with its missing parents, also 0700). An existing
// folder is used only if it is a real directory (not a symbolic link), owned
// by this user and not writable by group or others: anything else is
// refused, so another local user can neither plant or remove files in it
// nor, by taking the shared name under /tmp first, stop the player from
// starting (the home folder is then used instead).
#pragma once

#include <string>

namespace plombix {

struct FolderResult {
  std::string path;    // without a trailing slash; empty on failure
  std::string error;   // on failure: each folder tried and why it cannot be used
  std::string notice;  // a later choice serves: which one, and why the earlier ones do not
  bool ok() const { return !path.empty(); }
};

// The places of the list above, as read from the environment (tests build
// their own).
struct RuntimeFolderPlaces {
  std::string forced;      // 1; empty when not set
  std::string xdgRuntime;  // 2, the folder itself (".../vora-plombix"); empty when not usable
  std::string shared;      // 3
  std::string home;        // 4; empty when no home folder is known
};
RuntimeFolderPlaces RuntimeFolderPlacesFromEnvironment();

// The first place that can be used, created if needed (see the top).
[[nodiscard]] FolderResult ResolveRuntimeFolder(const RuntimeFolderPlaces& places);

enum class FolderNotice {
  Print,  // a fallback's notice goes to stderr (once per notice and copy of this code)
  Quiet,  // for code that asks often or runs inside another program (the stand-in runtime)
};

// ResolveRuntimeFolder of the environment's places.
[[nodiscard]] FolderResult RuntimeFolder(FolderNotice notice = FolderNotice::Print);

// The folder `name` inside the runtime folder, created if needed and checked
// like the runtime folder itself.
[[nodiscard]] FolderResult RuntimeSubfolder(const std::string& name,
                                            FolderNotice notice = FolderNotice::Print);

// Creates `path` (one level) with mode 0700 if missing, then checks it as
// described at the top.
[[nodiscard]] FolderResult EnsurePrivateFolder(const std::string& path);

}  // namespace plombix
