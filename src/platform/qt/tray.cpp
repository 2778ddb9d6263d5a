#include "platform/qt/tray.h"

namespace quorrel::qt {

// TODO(tray): QSystemTrayIcon.
bool QtTray::Shell_NotifyIconA(std::uint32_t, const NotifyIconDataA&) { return false; }

}  // namespace quorrel::qt
