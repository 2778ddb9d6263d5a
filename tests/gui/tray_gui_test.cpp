// The tray in the Qt face, offscreen, where Qt reports no notification area.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <cstring>

#include "platform/qt/icons.h"
#include "platform/qt/qt_main_window.h"
#include "platform/qt/tray.h"
#include "window/state_pictures.h"

namespace quorrel::qt {
namespace {

constexpr std::uint32_t kWindow = 0x51;

NotifyIconDataA Record(std::uint32_t flags, std::uint32_t icon, const char* tip) {
  NotifyIconDataA data;
  data.cbSize = sizeof data;
  data.hWnd = kWindow;
  data.uID = 1;
  data.uFlags = flags;
  data.uCallbackMessage = 0x200;
  data.hIcon = icon;
  std::strncpy(data.szTip, tip, sizeof data.szTip - 1);
  return data;
}

constexpr std::uint32_t kAddFlags = kNifMessage | kNifIcon | kNifTip;
constexpr std::uint32_t kModifyFlags = kNifIcon | kNifTip;

bool Shows(const QSystemTrayIcon& icon, std::string_view key) {
  const QImage shown = icon.icon()
                           .pixmap(QSize(kPictureSize, kPictureSize))
                           .toImage()
                           .convertToFormat(QImage::Format_ARGB32);
  return shown == StateImage(key);
}

void Activate(QSystemTrayIcon* icon, QSystemTrayIcon::ActivationReason reason) {
  emit icon->activated(reason);
}

QString LogText(MainWindow& window) {
  return qobject_cast<QPlainTextEdit*>(window.WidgetOf("txtOut"))->toPlainText();
}

void Restore(MainWindow& window, QWidget& focused) {
  ASSERT_EQ(QApplication::activeWindow(), &focused);
  window.TrayMenu()->findChild<QAction*>("mnRestore")->trigger();
  QApplication::processEvents();
}

// Another window holds the focus, so that a restore has to take it.
struct OtherWindow {
  QWidget widget;
  OtherWindow() {
    widget.show();
    widget.activateWindow();
    QApplication::processEvents();
  }
};

TEST(TrayGuiTest, WithoutTraySendToTrayMinimisesAndRestoreTakesTheFocus) {
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()) << "run with QT_QPA_PLATFORM=offscreen";
  LinuxServices services;
  MainWindow window(services);
  window.show();
  OtherWindow other;
  auto* send = qobject_cast<QPushButton*>(window.WidgetOf("cmdSysTray"));
  ASSERT_NE(send, nullptr);

  send->click();
  QApplication::processEvents();
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.isMinimized());
  EXPECT_EQ(LogText(window).count("No notification area"), 1) << LogText(window).toStdString();

  Restore(window, other.widget);
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isMinimized());
  EXPECT_EQ(QApplication::activeWindow(), &window);

  send->click();
  EXPECT_TRUE(window.isMinimized());
  EXPECT_EQ(LogText(window).count("No notification area"), 1) << "said once per run";

  // Restored from the task bar, not by the program: the button still works.
  window.showNormal();
  QApplication::processEvents();
  ASSERT_FALSE(window.isMinimized());
  send->click();
  QApplication::processEvents();
  EXPECT_TRUE(window.isMinimized());
}

// The same window on a desktop that has a notification area.
class TrayedWindow : public MainWindow {
 public:
  using MainWindow::MainWindow;
  bool TrayAvailable() override { return true; }
};

TEST(TrayGuiTest, WithTraySendToTrayHidesAndRestoreShowsWithTheFocus) {
  LinuxServices services;
  TrayedWindow window(services);
  window.show();
  OtherWindow other;

  qobject_cast<QPushButton*>(window.WidgetOf("cmdSysTray"))->click();
  QApplication::processEvents();
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.Form().sysTray.trayIconShown, -1);
  EXPECT_FALSE(LogText(window).contains("No notification area"));

  Restore(window, other.widget);
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isMinimized());
  EXPECT_EQ(window.Form().sysTray.trayIconShown, 0);
  EXPECT_EQ(QApplication::activeWindow(), &window);
}

TEST(TrayGuiTest, HostActivateRestoresAndTheIconCarriesTheWindowMenu) {
  LinuxServices services;
  TrayedWindow window(services);
  window.show();
  OtherWindow other;
  qobject_cast<QPushButton*>(window.WidgetOf("cmdSysTray"))->click();
  QSystemTrayIcon* icon = window.Tray().Icon();
  ASSERT_NE(icon, nullptr);
  ASSERT_EQ(icon->contextMenu(), window.TrayMenu());
  EXPECT_EQ(icon->toolTip(), "Quorrel - OFF");

  // The host opens the menu itself: the model's request for it opens no
  // second one.
  Activate(icon, QSystemTrayIcon::Context);
  EXPECT_FALSE(window.TrayMenu()->isVisible());

  // Escape closes the menu where it was opened.
  window.TrayMenu()->popup(QPoint(10, 10));
  QApplication::processEvents();
  ASSERT_TRUE(window.TrayMenu()->isVisible());
  QTest::keyClick(window.TrayMenu(), Qt::Key_Escape);
  EXPECT_FALSE(window.TrayMenu()->isVisible());

  // The menu's toggle caption follows the model while it is on the icon.
  window.TrayMenu()->findChild<QAction*>("mnToggle")->trigger();
  EXPECT_EQ(icon->contextMenu()->actions()[2]->text(), "Stop Pings");
  window.TrayMenu()->findChild<QAction*>("mnToggle")->trigger();
  EXPECT_EQ(icon->contextMenu()->actions()[2]->text(), "Start Pings");

  QPointer<QSystemTrayIcon> watched(icon);
  Activate(icon, QSystemTrayIcon::Trigger);
  QApplication::processEvents();
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isMinimized());
  EXPECT_EQ(window.Form().sysTray.trayIconShown, 0);
  EXPECT_EQ(window.Tray().Icon(), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(watched.isNull()) << "the icon is gone";

  // A second Activate of a double-click finds no icon and changes nothing.
  qobject_cast<QPushButton*>(window.WidgetOf("cmdSysTray"))->click();
  Activate(window.Tray().Icon(), QSystemTrayIcon::Trigger);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.Tray().Icon(), nullptr);
}

TEST(TrayGuiTest, DisplayGoneShutdownLeavesTheIconAndSavesTheRest) {
  LinuxServices services;
  TrayedWindow window(services);
  window.show();
  qobject_cast<QPushButton*>(window.WidgetOf("cmdSysTray"))->click();
  ASSERT_NE(window.Tray().Icon(), nullptr);
  window.Shutdown(true);
  EXPECT_EQ(window.Tray().Icon(), nullptr);
  EXPECT_EQ(window.Form().sysTray.trayIconShown, 0) << "the model's delete still ran";
  const QString settings =
      QString::fromStdString(posix::PosixFileSystem().ExecutableFolder()) + "/Settings.ini";
  EXPECT_TRUE(QFile::exists(settings));
  QFile::remove(settings);
}

TEST(QtTrayTest, AddModifyAndDeleteDriveOneSystemTrayIcon) {
  QtTray tray([](int) {});
  QMenu menu;
  tray.SetMenu(&menu);
  NotifyIconDataA failed = Record(kAddFlags, 2, "Quorrel - Failed");
  EXPECT_FALSE(tray.Shell_NotifyIconA(kNimModify, failed)) << "nothing to modify yet";
  EXPECT_FALSE(tray.Shell_NotifyIconA(kNimDelete, failed));
  EXPECT_EQ(tray.Icon(), nullptr);

  ASSERT_TRUE(tray.Shell_NotifyIconA(kNimAdd, failed));
  QSystemTrayIcon* icon = tray.Icon();
  ASSERT_NE(icon, nullptr);
  EXPECT_TRUE(icon->isVisible());
  EXPECT_EQ(icon->toolTip(), "Quorrel - Failed");
  EXPECT_TRUE(Shows(*icon, "red"));
  EXPECT_FALSE(Shows(*icon, "green"));
  EXPECT_EQ(icon->contextMenu(), &menu) << "hosts read the menu from the icon";
  EXPECT_TRUE(tray.OpensMenuItself());
  EXPECT_FALSE(tray.Shell_NotifyIconA(kNimAdd, failed)) << "already there";
  EXPECT_EQ(tray.Icon(), icon);

  ASSERT_TRUE(tray.Shell_NotifyIconA(kNimModify, Record(kModifyFlags, 1, "Quorrel - Passed")));
  EXPECT_EQ(icon->toolTip(), "Quorrel - Passed");
  EXPECT_TRUE(Shows(*icon, "green"));

  // Only what the flags name changes.
  ASSERT_TRUE(tray.Shell_NotifyIconA(kNimModify, Record(kNifTip, 3, "Quorrel - ON")));
  EXPECT_EQ(icon->toolTip(), "Quorrel - ON");
  EXPECT_TRUE(Shows(*icon, "green"));
  ASSERT_TRUE(tray.Shell_NotifyIconA(kNimModify, Record(kNifIcon, 3, "ignored")));
  EXPECT_EQ(icon->toolTip(), "Quorrel - ON");
  EXPECT_TRUE(Shows(*icon, "grey"));

  NotifyIconDataA otherId = Record(kModifyFlags, 1, "other");
  otherId.uID = 2;
  EXPECT_FALSE(tray.Shell_NotifyIconA(kNimModify, otherId));
  EXPECT_FALSE(tray.Shell_NotifyIconA(kNimDelete, otherId));
  EXPECT_EQ(tray.Icon(), icon);

  QPointer<QSystemTrayIcon> watched(icon);
  EXPECT_TRUE(tray.Shell_NotifyIconA(kNimDelete, failed));
  EXPECT_EQ(tray.Icon(), nullptr);
  EXPECT_TRUE(watched.isNull());
  EXPECT_FALSE(tray.Shell_NotifyIconA(kNimDelete, failed)) << "a second delete finds nothing";
  EXPECT_FALSE(tray.OpensMenuItself());

  // A restored window sent back to the tray gets a fresh icon.
  ASSERT_TRUE(tray.Shell_NotifyIconA(kNimAdd, Record(kAddFlags, 3, "Quorrel - OFF")));
  EXPECT_EQ(tray.Icon()->toolTip(), "Quorrel - OFF");
}

TEST(QtTrayTest, AModifyThatRepeatsTheStateLeavesTheIconAsItIs) {
  QtTray tray([](int) {});
  ASSERT_TRUE(tray.Shell_NotifyIconA(kNimAdd, Record(kAddFlags, 1, "Quorrel - Passed")));
  QSystemTrayIcon* icon = tray.Icon();
  ASSERT_NE(icon, nullptr);
  const qint64 shown = icon->icon().cacheKey();
  // A host refetches the pictures on every new icon: a repeat must not make one.
  for (int ping = 0; ping < 5; ++ping) {
    ASSERT_TRUE(tray.Shell_NotifyIconA(kNimModify, Record(kModifyFlags, 1, "Quorrel - Passed")));
    EXPECT_EQ(icon->icon().cacheKey(), shown);
  }
  ASSERT_TRUE(tray.Shell_NotifyIconA(kNimModify, Record(kModifyFlags, 2, "Quorrel - Failed")));
  EXPECT_NE(icon->icon().cacheKey(), shown);
  EXPECT_TRUE(Shows(*icon, "red"));
  EXPECT_EQ(icon->toolTip(), "Quorrel - Failed");
  ASSERT_TRUE(tray.Shell_NotifyIconA(kNimModify, Record(kModifyFlags, 1, "Quorrel - Passed")));
  EXPECT_TRUE(Shows(*icon, "green"));
  EXPECT_EQ(icon->toolTip(), "Quorrel - Passed");
  // A fresh icon after a delete shows its state, though it repeats the last one.
  ASSERT_TRUE(tray.Shell_NotifyIconA(kNimDelete, Record(kModifyFlags, 1, "")));
  ASSERT_TRUE(tray.Shell_NotifyIconA(kNimAdd, Record(kAddFlags, 1, "Quorrel - Passed")));
  EXPECT_TRUE(Shows(*tray.Icon(), "green"));
  EXPECT_EQ(tray.Icon()->toolTip(), "Quorrel - Passed");
}

TEST(QtTrayTest, MalformedRecordsAreRefusedOrReadSafely) {
  QtTray tray([](int) {});
  NotifyIconDataA wrongSize = Record(kAddFlags, 1, "tip");
  wrongSize.cbSize = 504;  // a later form of the record, which this face does not read
  EXPECT_FALSE(tray.Shell_NotifyIconA(kNimAdd, wrongSize));
  EXPECT_FALSE(tray.Shell_NotifyIconA(7, Record(kAddFlags, 1, "tip")));
  EXPECT_EQ(tray.Icon(), nullptr);

  // All 64 bytes taken, no terminator: read within the record.
  NotifyIconDataA full = Record(kAddFlags, 99, "");
  std::memset(full.szTip, 'z', sizeof full.szTip);
  ASSERT_TRUE(tray.Shell_NotifyIconA(kNimAdd, full));
  EXPECT_EQ(tray.Icon()->toolTip(), QString(64, 'z'));
  EXPECT_TRUE(Shows(*tray.Icon(), "grey")) << "an unknown handle shows the grey picture";

  // A tip cut to 63 bytes in the middle of "é" loses the half character.
  NotifyIconDataA cut = Record(kNifTip, 1, "");
  std::memset(cut.szTip, 'a', 62);
  cut.szTip[62] = '\xC3';
  ASSERT_TRUE(tray.Shell_NotifyIconA(kNimModify, cut));
  EXPECT_EQ(tray.Icon()->toolTip(), QString(62, 'a'));
  ASSERT_TRUE(tray.Shell_NotifyIconA(kNimModify, Record(kNifTip, 1, "Caf\xC3\xA9")));
  EXPECT_EQ(tray.Icon()->toolTip(), QString::fromUtf8("Café"));
}

// Offscreen there is no XEmbed dock, so a Trigger is what a StatusNotifierItem
// host's Activate brings: the "open" gesture, reported as the double-click
// that restores. (A single click on an XEmbed icon is covered on a real tray.)
TEST(QtTrayTest, ActivationsReachTheCallbackAsMouseMessages) {
  std::vector<int> codes;
  QtTray tray([&codes](int code) { codes.push_back(code); });
  ASSERT_TRUE(tray.Shell_NotifyIconA(kNimAdd, Record(kAddFlags, 1, "Quorrel - ON")));
  for (auto reason :
       {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Context,
        QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown})
    Activate(tray.Icon(), reason);
  EXPECT_EQ(codes, (std::vector<int>{0x203, 0x203, 0x205, 0x208}));

  // An icon added without the message flag reports nothing.
  codes.clear();
  ASSERT_TRUE(tray.Shell_NotifyIconA(kNimDelete, Record(0, 0, "")));
  ASSERT_TRUE(tray.Shell_NotifyIconA(kNimAdd, Record(kModifyFlags, 1, "silent")));
  Activate(tray.Icon(), QSystemTrayIcon::DoubleClick);
  EXPECT_TRUE(codes.empty());
}

TEST(QtTrayTest, DoubleClickThatDeletesTheIconIsSafe) {
  QtTray* self = nullptr;
  QtTray tray([&self](int code) {
    if (code == kWmLButtonDblClk) self->Shell_NotifyIconA(kNimDelete, Record(0, 0, ""));
  });
  self = &tray;
  ASSERT_TRUE(tray.Shell_NotifyIconA(kNimAdd, Record(kAddFlags, 1, "Quorrel - ON")));
  QPointer<QSystemTrayIcon> watched(tray.Icon());
  Activate(tray.Icon(), QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(tray.Icon(), nullptr);
  ASSERT_FALSE(watched.isNull()) << "still inside its own signal";
  EXPECT_FALSE(watched->isVisible());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(watched.isNull());
}

}  // namespace
}  // namespace quorrel::qt
