#pragma once
#include <functional>

#include "platform/shell.h"

namespace quorrel::qt {

// Shell_NotifyIconA on QSystemTrayIcon.
class QtTray : public ShellApi {
 public:
  // Reports the tray's mouse events as the callback's message codes.
  using Callback = std::function<void(int code)>;
  explicit QtTray(Callback callback) : callback_(std::move(callback)) {}
  bool Shell_NotifyIconA(std::uint32_t message, const NotifyIconDataA& data) override;

 private:
  Callback callback_;
};

}  // namespace quorrel::qt
