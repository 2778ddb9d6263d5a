#pragma once
// The window toolkit: what the model needs from the native window beyond the
// properties its controls mirror.
#include <cstdint>
#include <string>

namespace quorrel {

// MessageBoxA styles used by the program.
inline constexpr std::uint32_t kMbOk = 0x00000000;
inline constexpr std::uint32_t kMbIconExclamation = 0x00000030;

class Toolkit {
 public:
  virtual ~Toolkit() = default;
  // Modal, waits until the user dismisses it.
  virtual int MessageBox(const std::string& text, const std::string& caption,
                         std::uint32_t style) = 0;
  // The native window's handle and the handle of its current icon, as the
  // shell's notify-icon record carries them (USER handles fit 32 bits).
  virtual std::uint32_t WindowHandle() = 0;
  virtual std::uint32_t WindowIconHandle() = 0;
  // Screen twips per pixel across (15 at 96 dpi).
  virtual double TwipsPerPixelX() = 0;
  // Shows the tray menu as a pop-up at the mouse pointer.
  virtual void ShowTrayMenu() = 0;
  // Gives the window the keyboard focus.
  virtual void FocusWindow() = 0;
  // Closes the window (the face then calls Form1::Form_QueryUnload once).
  virtual void UnloadWindow() = 0;
  // Ends the program at once.
  virtual void EndProgram() = 0;
  // True when the desktop offers a notification area.
  virtual bool TrayAvailable() = 0;
};

}  // namespace quorrel
