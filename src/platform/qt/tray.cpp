#include "platform/qt/tray.h"

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <algorithm>
#include <cstring>

#include "platform/qt/icons.h"
#include "window/state_pictures.h"

namespace quorrel::qt {
namespace {

// An unknown handle shows the grey picture, as an unknown image-list key does.
std::string_view KeyOfHandle(std::uint32_t handle) {
  constexpr std::uint32_t kCount = std::size(kIconKeys);
  return handle >= 1 && handle <= kCount ? kIconKeys[handle - 1] : std::string_view();
}

// The tip was cut to fit the record in bytes, which may split a UTF-8
// sequence; the unfinished sequence is dropped rather than shown as U+FFFD.
std::size_t WholeUtf8Length(const char* s, std::size_t n) {
  std::size_t lead = n;
  while (lead > 0 && n - lead < 3 && (static_cast<unsigned char>(s[lead - 1]) & 0xC0) == 0x80)
    --lead;
  if (lead == 0) return n;
  const auto first = static_cast<unsigned char>(s[lead - 1]);
  const std::size_t needed = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
  return n - (lead - 1) < needed ? lead - 1 : n;
}

QString TipText(const NotifyIconDataA& data) {
  // A record whose tip fills all 64 bytes is still read within them.
  const std::size_t n = strnlen(data.szTip, sizeof data.szTip);
  return QString::fromUtf8(data.szTip, static_cast<qsizetype>(WholeUtf8Length(data.szTip, n)));
}

// Qt draws an XEmbed icon in a small window of its own class; a StatusNotifierItem
// has none. That window is there whenever an XEmbed click can arrive.
bool DockedInXEmbedTray() {
  const QWidgetList windows = QApplication::topLevelWidgets();
  return std::any_of(windows.begin(), windows.end(),
                     [](const QWidget* w) { return w->inherits("QSystemTrayIconSys"); });
}

}  // namespace

QtTray::QtTray(Callback callback) : callback_(std::move(callback)) {}

QtTray::~QtTray() = default;

bool QtTray::Shell_NotifyIconA(std::uint32_t message, const NotifyIconDataA& data) {
  if (data.cbSize != sizeof(NotifyIconDataA)) return false;
  switch (message) {
    case kNimAdd:
      // As the shell does, a second add of an icon already there fails.
      if (icon_) return false;
      icon_ = std::make_unique<QSystemTrayIcon>();
      window_ = data.hWnd;
      id_ = data.uID;
      reportsMouse_ = false;
      iconKey_.reset();
      tip_.reset();
      if (menu_) icon_->setContextMenu(menu_);
      QObject::connect(icon_.get(), &QSystemTrayIcon::activated, icon_.get(),
                       [this](QSystemTrayIcon::ActivationReason reason) { Report(reason); });
      Apply(data);
      icon_->show();
      return true;
    case kNimModify:
      if (!Holds(data)) return false;
      Apply(data);
      return true;
    case kNimDelete:
      if (!Holds(data)) return false;
      Remove();
      return true;
    default:
      return false;
  }
}

bool QtTray::OpensMenuItself() const { return icon_ && menu_ && icon_->contextMenu() == menu_; }

bool QtTray::Holds(const NotifyIconDataA& data) const {
  return icon_ && data.hWnd == window_ && data.uID == id_;
}

void QtTray::Apply(const NotifyIconDataA& data) {
  if (data.uFlags & kNifMessage) reportsMouse_ = true;
  if (data.uFlags & kNifIcon) {
    const std::string_view key = KeyOfHandle(data.hIcon);
    if (key != iconKey_) {
      iconKey_ = std::string(key);
      icon_->setIcon(StateIcon(key));
    }
  }
  if (data.uFlags & kNifTip) {
    QString tip = TipText(data);
    if (tip != tip_) {
      icon_->setToolTip(tip);
      tip_ = std::move(tip);
    }
  }
}

void QtTray::Report(int reason) {
  if (!reportsMouse_ || !callback_) return;
  int code = 0;
  switch (reason) {
    case QSystemTrayIcon::DoubleClick:
      code = kWmLButtonDblClk;
      break;
    case QSystemTrayIcon::Context:
      code = kWmRButtonUp;
      break;
    case QSystemTrayIcon::Trigger:
      code = DockedInXEmbedTray() ? kWmLButtonUp : kWmLButtonDblClk;
      break;
    case QSystemTrayIcon::MiddleClick:
      code = kWmMButtonUp;
      break;
    default:
      return;
  }
  reporting_ = true;
  callback_(code);
  reporting_ = false;
}

void QtTray::Forsake() {
  // Deleting the icon would talk to the X server; the process is ending.
  if (icon_) QObject::disconnect(icon_.release(), nullptr, nullptr, nullptr);
}

void QtTray::Remove() {
  // The menu belongs to the window and outlives this icon; an open one goes
  // with the icon it was opened from.
  if (menu_ && icon_->contextMenu() == menu_) menu_->hide();
  icon_->hide();
  if (reporting_) {
    // A double-click restores the window, which deletes the icon from inside
    // the icon's own signal: it must outlive that signal.
    QObject::disconnect(icon_.get(), nullptr, nullptr, nullptr);
    icon_.release()->deleteLater();
  } else {
    icon_.reset();
  }
}

}  // namespace quorrel::qt
