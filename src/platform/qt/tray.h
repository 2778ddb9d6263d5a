#pragma once
#include <functional>
#include <memory>

#include "platform/shell.h"

class QSystemTrayIcon;

namespace quorrel::qt {

// Mouse messages the shell reports over the icon, as the tray callback's codes.
inline constexpr int kWmLButtonUp = 0x202;
inline constexpr int kWmLButtonDblClk = 0x203;
inline constexpr int kWmRButtonUp = 0x205;
inline constexpr int kWmMButtonUp = 0x208;

// Shell_NotifyIconA on QSystemTrayIcon, which speaks both StatusNotifierItem
// and XEmbed. It holds the one icon the program adds. In this face a record's
// hIcon is the 1-based image-list index of a state picture, which is what
// MainWindow::WindowIconHandle gives.
class QtTray : public ShellApi {
 public:
  // Reports the tray's mouse events as the callback's message codes.
  using Callback = std::function<void(int code)>;
  explicit QtTray(Callback callback);
  ~QtTray() override;
  QtTray(const QtTray&) = delete;
  QtTray& operator=(const QtTray&) = delete;

  // True when the add, modify or delete was carried out.
  bool Shell_NotifyIconA(std::uint32_t message, const NotifyIconDataA& data) override;

  // The icon while one is added, else nullptr.
  QSystemTrayIcon* Icon() const { return icon_.get(); }

 private:
  bool Holds(const NotifyIconDataA& data) const;
  void Apply(const NotifyIconDataA& data);
  void Report(int reason);
  void Remove();

  Callback callback_;
  std::unique_ptr<QSystemTrayIcon> icon_;
  std::uint32_t window_ = 0;
  std::uint32_t id_ = 0;
  bool reportsMouse_ = false;
  bool reporting_ = false;
};

}  // namespace quorrel::qt
