#pragma once
// One window class per C++ type: the object's pointer travels in
// lpCreateParams, lives in GWLP_USERDATA from WM_NCCREATE to WM_NCDESTROY, and
// every message in between goes to Derived::OnMessage.
#include <windows.h>

namespace quorrel::win32 {

template <typename Derived>
class WindowClass {
 public:
  WindowClass() = default;
  WindowClass(const WindowClass&) = delete;
  WindowClass& operator=(const WindowClass&) = delete;

  HWND Handle() const { return hwnd_; }

 protected:
  ~WindowClass() {
    if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
  }

  // Registers the class once per process; `style` and `background` as in WNDCLASSEXW.
  static bool Register(HINSTANCE instance, UINT style, HBRUSH background) {
    WNDCLASSEXW wc{};
    if (::GetClassInfoExW(instance, Derived::kClassName, &wc)) return true;
    wc.cbSize = sizeof wc;
    wc.style = style;
    wc.lpfnWndProc = &WindowClass::Procedure;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = background;
    wc.lpszClassName = Derived::kClassName;
    return ::RegisterClassExW(&wc) != 0;
  }

  HWND CreateAs(DWORD exStyle, const wchar_t* title, DWORD style, int x, int y, int width,
                int height, HWND parent, HINSTANCE instance) {
    return ::CreateWindowExW(exStyle, Derived::kClassName, title, style, x, y, width, height,
                             parent, nullptr, instance, static_cast<Derived*>(this));
  }

  LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(hwnd_, message, wParam, lParam);
  }

  HWND hwnd_ = nullptr;

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* self = static_cast<Derived*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
      self->hwnd_ = hwnd;
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Derived*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      self->hwnd_ = nullptr;
      return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return self->OnMessage(message, wParam, lParam);
  }
};

}  // namespace quorrel::win32
