#pragma once
// Dots per inch of a window, the twips-to-pixels conversion and the dialog
// font at a given DPI. The per-monitor calls exist only from Windows 10
// 1607 on, so they are looked up at run time.
#include <windows.h>

#include "platform/win32/face/handles.h"

namespace quorrel::win32 {

inline constexpr UINT kBaseDpi = 96;
inline constexpr int kTwipsPerInch = 1440;

// The window's DPI, or the screen's where the system cannot tell per window.
UINT WindowDpi(HWND window);

constexpr int TwipsToPixels(int twips, UINT dpi) {
  // Rounds to nearest, as the pixel grid of the original layout does.
  return static_cast<int>((static_cast<long long>(twips) * dpi + kTwipsPerInch / 2) /
                          kTwipsPerInch);
}

// The outer size of a window whose client area is width x height pixels.
SIZE OuterSizeForClient(int width, int height, DWORD style, DWORD exStyle, UINT dpi);

// The system's message font, scaled to `dpi`: its description and the font.
LOGFONTW DialogFontSpec(UINT dpi);
FontHandle CreateDialogFont(UINT dpi);

// A system metric (SM_CXSMICON, SM_CXICON, ...) as the system gives it for
// a window at `dpi`.
int SystemMetricForDpi(int index, UINT dpi);

}  // namespace quorrel::win32
