#pragma once
// The notification-area icon: one kept record for add, modify and delete.
#include <string>

#include "platform/files.h"
#include "platform/shell.h"
#include "platform/toolkit.h"

namespace quorrel {

inline constexpr std::uint32_t kTrayCallbackMessage = 0x200;  // WM_MOUSEMOVE
inline constexpr std::uint32_t kTrayIconId = 1;
inline constexpr std::size_t kTrayTipMax = 63;

class ModSysTray {
 public:
  ModSysTray(ShellApi& shell, Toolkit& toolkit, CodePage& codePage)
      : shell_(shell), toolkit_(toolkit), codePage_(codePage) {}

  // 16-bit Boolean as the window's handlers read it: true is -1.
  short trayIconShown = 0;

  void AddTrayIcon(const std::string& tip);
  void ModifyTrayIcon(const std::string& tip);
  void DeleteTrayIcon();

  const NotifyIconDataA& TrayIconData() const { return trayIconData_; }

 private:
  void SetTip(const std::string& tip);

  ShellApi& shell_;
  Toolkit& toolkit_;
  CodePage& codePage_;
  NotifyIconDataA trayIconData_{};
};

}  // namespace quorrel
