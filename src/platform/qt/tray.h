#pragma once
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/shell.h"

class QMenu;
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
//
// The two protocols differ in who opens the menu and what a click means. A
// StatusNotifierItem host opens the menu itself (it reads it over dbusmenu)
// and reports its primary click as Activate, the platform's "open" gesture;
// an XEmbed tray reports raw clicks and double-clicks. So the menu travels
// with the icon as its context menu, and an Activate from a host is reported
// as the double-click that restores the window, while a single click on an
// XEmbed icon stays the plain click the window ignores.
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

  // The menu every added icon carries; it must outlive the tray.
  void SetMenu(QMenu* menu) { menu_ = menu; }
  // True while an icon carries the menu, so the platform opens it.
  bool OpensMenuItself() const;

  // Lets go of the icon without a word to a display that is gone; the model
  // then finds no icon to delete.
  void Forsake();

  // The icon while one is added, else nullptr.
  QSystemTrayIcon* Icon() const { return icon_.get(); }

 private:
  bool Holds(const NotifyIconDataA& data) const;
  void Apply(const NotifyIconDataA& data);
  void Report(int reason);
  void Remove();

  Callback callback_;
  QMenu* menu_ = nullptr;
  std::unique_ptr<QSystemTrayIcon> icon_;
  std::uint32_t window_ = 0;
  std::uint32_t id_ = 0;
  bool reportsMouse_ = false;
  bool reporting_ = false;
  // What the icon shows: a modify that repeats it (the program reports every
  // ping) neither draws the pictures again nor has the tray fetch them.
  std::optional<std::string> iconKey_;
  std::optional<QString> tip_;
};

}  // namespace quorrel::qt
