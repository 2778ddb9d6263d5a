#include "tray/mod_sys_tray.h"

#include <algorithm>
#include <cstring>

namespace quorrel {

void ModSysTray::SetTip(const std::string& text) {
  // The shell shows at most 63 characters of the tip; a longer one is cut.
  std::string tip = codePage_.ToAnsi(text);
  std::memset(trayIconData_.szTip, 0, sizeof trayIconData_.szTip);
  std::memcpy(trayIconData_.szTip, tip.data(), std::min(tip.size(), kTrayTipMax));
}

void ModSysTray::AddTrayIcon(const std::string& tip) {
  if (trayIconShown) return;
  trayIconData_.cbSize = sizeof(NotifyIconDataA);
  trayIconData_.hWnd = toolkit_.WindowHandle();
  trayIconData_.uID = kTrayIconId;
  trayIconData_.uFlags = kNifMessage | kNifIcon | kNifTip;
  trayIconData_.uCallbackMessage = kTrayCallbackMessage;
  trayIconData_.hIcon = toolkit_.WindowIconHandle();
  SetTip(tip);
  shell_.Shell_NotifyIconA(kNimAdd, trayIconData_);
  trayIconShown = -1;
}

void ModSysTray::ModifyTrayIcon(const std::string& tip) {
  if (!trayIconShown) return;
  trayIconData_.uFlags = kNifIcon | kNifTip;
  trayIconData_.hIcon = toolkit_.WindowIconHandle();
  SetTip(tip);
  shell_.Shell_NotifyIconA(kNimModify, trayIconData_);
}

void ModSysTray::DeleteTrayIcon() {
  if (!trayIconShown) return;
  shell_.Shell_NotifyIconA(kNimDelete, trayIconData_);
  trayIconShown = 0;
}

}  // namespace quorrel
