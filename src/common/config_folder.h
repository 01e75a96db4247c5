// The per-user settings folder: $XDG_CONFIG_HOME/vora-plombix, else
// ~/.config/vora-plombix (a relative $XDG_CONFIG_HOME is ignored, as the
// base directory convention asks). It holds the recent pictures of every
// copy and, for a player started from the desktop menu, its settings files.
#pragma once

#include <string>

#include "runtime_folder.h"

namespace plombix {

// The folder's path from the environment; empty when neither variable names
// an absolute folder.
std::string UserConfigFolder();

// UserConfigFolder(), created (with its missing parents) mode 0700 when
// missing. On failure `error` says which folder and why.
[[nodiscard]] FolderResult EnsureUserConfigFolder();

}  // namespace plombix
