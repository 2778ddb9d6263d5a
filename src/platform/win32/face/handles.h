#pragma once
// Owners for the window's USER and GDI handles, so that every handle is given
// back exactly once and on every path.
#include <windows.h>

#include <memory>
#include <type_traits>

namespace quorrel::win32 {

struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const { ::DeleteObject(object); }
};
struct IconDeleter {
  void operator()(HICON icon) const { ::DestroyIcon(icon); }
};
struct MemoryDcDeleter {
  void operator()(HDC dc) const { ::DeleteDC(dc); }
};
struct MenuDeleter {
  void operator()(HMENU menu) const { ::DestroyMenu(menu); }
};

template <typename Handle, typename Deleter>
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<Handle>, Deleter>;

using PenHandle = UniqueHandle<HPEN, GdiObjectDeleter>;
using BrushHandle = UniqueHandle<HBRUSH, GdiObjectDeleter>;
using BitmapHandle = UniqueHandle<HBITMAP, GdiObjectDeleter>;
using FontHandle = UniqueHandle<HFONT, GdiObjectDeleter>;
using AnyGdiHandle = UniqueHandle<HGDIOBJ, GdiObjectDeleter>;
using IconHandle = UniqueHandle<HICON, IconDeleter>;
using MemoryDcHandle = UniqueHandle<HDC, MemoryDcDeleter>;
using MenuHandle = UniqueHandle<HMENU, MenuDeleter>;

// Selects an object into a device context for the guard's lifetime and puts
// the one it replaced back afterwards.
class SelectGuard {
 public:
  SelectGuard(HDC dc, HGDIOBJ object) : dc_(dc), old_(::SelectObject(dc, object)) {}
  ~SelectGuard() {
    if (old_ != nullptr) ::SelectObject(dc_, old_);
  }
  SelectGuard(const SelectGuard&) = delete;
  SelectGuard& operator=(const SelectGuard&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// A window's client-area device context (GetDC / ReleaseDC).
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(::GetDC(window)) {}
  ~WindowDc() {
    if (dc_ != nullptr) ::ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC Get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// BeginPaint / EndPaint around one WM_PAINT.
class PaintScope {
 public:
  explicit PaintScope(HWND window) : window_(window) { dc_ = ::BeginPaint(window, &paint_); }
  ~PaintScope() { ::EndPaint(window_, &paint_); }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;
  HDC Dc() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

}  // namespace quorrel::win32
