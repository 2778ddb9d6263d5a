#pragma once
// The window's one table of controls: both faces build their widgets from it.
#include <span>

#include "common/app.h"
#include "window/controls.h"

namespace quorrel {

inline constexpr char kWindowCaption[] = "Quorrel by Vandrel";
inline constexpr int kClientWidthTwips = 7890;
inline constexpr int kClientHeightTwips = 6735;
inline constexpr int kTwipsPerPixelAt96Dpi = 15;

// Every control in its order on the window, then the tray menu's entries.
std::span<const ControlLayout> ControlTable();
std::span<const ControlLayout> MenuTable();

// The layout of the named control or menu entry; throws std::out_of_range.
const ControlLayout& LayoutOf(const char* name);

}  // namespace quorrel
