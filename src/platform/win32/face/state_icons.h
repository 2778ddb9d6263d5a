#pragma once
// The image list's three state pictures as icons for the window and the tray,
// at the sizes the system asks for.
#include <windows.h>

#include <string_view>
#include <vector>

#include "platform/win32/face/handles.h"
#include "window/state_pictures.h"

namespace quorrel::win32 {

// An icon of the image: a 32-bit colour bitmap with its alpha, and a mask
// that leaves the fully transparent pixels out where alpha is not honoured.
IconHandle MakeIcon(const IconImage& image);

// Each picture made into an icon once per size and kept for the whole run:
// the tray record refers to a handle long after it was set, also across a
// change of DPI that asks for other sizes.
class StateIcons {
 public:
  // The icon under `key` at size x size pixels; an unknown key gives the
  // grey one, as the list does.
  HICON Get(std::string_view key, int size);

 private:
  struct Made {
    int index;
    int size;
    IconHandle icon;
  };
  std::vector<Made> made_;
};

}  // namespace quorrel::win32
