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

// Below this size a picture is drawn for the size's own pixel grid instead of
// being reduced from the 64 x 64 one: reduced to tray size, the disc shrinks
// to a 3 px dot and the 4 px arcs blur into the panel.
inline constexpr int kSmallIconLimit = 48;

// The tones of the pictures drawn below kSmallIconLimit, as 0x00RRGGBB. The
// arcs and discs are lighter than the 64 x 64 picture's, so that they stand on
// a black panel, and the dark outline around them carries the symbol on a
// white one.
struct SmallIconTones {
  std::uint32_t arc;
  std::uint32_t disc;
  std::uint32_t outline;
};

// The tones under `key`; an unknown key gives the grey picture's.
SmallIconTones SmallTonesOf(std::string_view key);

// The picture under `key` at size x size, for size 1 to 256 (clamped into that
// range). Below kSmallIconLimit the symbol is drawn afresh for the size: a
// disc at least a third of the width, arcs at least 2 px thick that meet the
// pixel grid on the centre line, and a 1 px outline, edges anti-aliased by
// coverage. From kSmallIconLimit to 64 the 64 x 64 picture's covered area is
// averaged, weighted by opacity so the transparent surround does not darken
// the rims; larger sizes interpolate smoothly.
IconImage StateIconAt(std::string_view key, int size);

// 1-based image-list index of `key`, 0 when the list has no such key.
int IconIndex(std::string_view key);

}  // namespace quorrel
