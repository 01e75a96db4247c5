// Paths of the built-in pictures compiled into the program with Qt's
// resource system (target plombix_resources):
//   :/bitmaps/<id>.png       131-134 activity lamp (grey, red, amber, green),
//                            30 x 30 with alpha; 140 start-up picture
//                            720 x 276 with alpha; 144 About picture 64 x 48;
//                            145, 147 link pictures 38 x 30; 148 background
//                            placeholder 480 x 270 without alpha; 190, 191
//                            support pictures 640 x 360 without alpha;
//                            195, 196 support link pictures 38 x 30
//   :/icons/plombix-<size>.png   the window icon, sizes kIconSizes
// The pictures are drawn by tools/make_bitmaps.
#pragma once

#include <array>
#include <string>

namespace plombix {

inline constexpr std::array<int, 13> kBuiltInBitmapIds = {131, 132, 133, 134, 140, 144, 145,
                                                          147, 148, 190, 191, 195, 196};
inline constexpr std::array<int, 6> kIconSizes = {256, 128, 64, 48, 32, 16};

// ":/bitmaps/<id>.png"
std::string BitmapResourcePath(int id);
// ":/icons/plombix-<size>.png"
std::string IconResourcePath(int size);

}  // namespace plombix
