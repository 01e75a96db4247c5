#include "resource_paths.h"

namespace plombix {

std::string BitmapResourcePath(int id) { return ":/bitmaps/" + std::to_string(id) + ".png"; }

std::string IconResourcePath(int size) { return ":/icons/plombix-" + std::to_string(size) + ".png"; }

}  // namespace plombix
