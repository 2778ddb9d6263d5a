#pragma once
// The image list's three state pictures as icons for the window and the tray.
#include <windows.h>

#include <string_view>

#include "platform/win32/face/handles.h"
#include "window/state_pictures.h"

namespace quorrel::win32 {

// An icon of the picture: its magenta pixels transparent, the rest opaque.
IconHandle MakeIcon(const Picture& picture);

// Each picture made into an icon once, kept for the whole run: the tray
// record refers to the handle long after it was set.
class StateIcons {
 public:
  StateIcons();
  // The icon under `key`; an unknown key gives the grey one, as the list does.
  HICON Get(std::string_view key) const;

 private:
  IconHandle icons_[std::size(kIconKeys)];
};

}  // namespace quorrel::win32
