#include "config_folder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace plombix {

std::string UserConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/vora-plombix";
  if (home && home[0] == '/') return std::string(home) + "/.config/vora-plombix";
  return {};
}

FolderResult EnsureUserConfigFolder() {
  const std::string folder = UserConfigFolder();
  if (folder.empty()) return {{}, "No settings folder: neither XDG_CONFIG_HOME nor HOME is set", {}};
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
      return {{}, "Cannot create the settings folder '" + part + "': " + std::strerror(errno), {}};
    if (slash == std::string::npos) break;
  }
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return {{}, "Cannot use the settings folder '" + folder + "': not a directory", {}};
  return {folder, {}, {}};
}

}  // namespace plombix
