#pragma once
// The three 64 x 64 state pictures of the image list, drawn here so that both
// faces show the same pixels.
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/canvas.h"

namespace quorrel {

inline constexpr int kPictureSize = 64;
inline constexpr Colour kMaskColour = 0x00FF00FF;  // magenta: transparent

// Keys of the image list, in its order (index 1, 2, 3).
inline constexpr std::string_view kIconKeys[] = {"green", "red", "grey"};

struct Picture {
  int width = kPictureSize;
  int height = kPictureSize;
  std::vector<Colour> pixels;  // row-major, top row first, 0x00BBGGRR
};

// The picture under `key`; an unknown key gives the grey picture.
const Picture& StatePicture(std::string_view key);

// A picture as icon pixels: straight (not premultiplied) 0xAARRGGBB,
// row-major, top row first. The mask colour's pixels are transparent.
struct IconImage {
  int size = 0;
  std::vector<std::uint32_t> argb;
};

inline constexpr int kMinIconSize = 1;
inline constexpr int kMaxIconSize = 256;

// The picture under `key` at size x size, for size 1 to 256 (clamped into that
// range). Smaller sizes average the covered area of the 64 x 64 picture,
// weighted by opacity so the transparent surround does not darken the rims;
// larger sizes interpolate smoothly. Nearest-neighbour scaling would break the
// thin arcs up at tray sizes.
IconImage StateIconAt(std::string_view key, int size);

// 1-based image-list index of `key`, 0 when the list has no such key.
int IconIndex(std::string_view key);

}  // namespace quorrel
