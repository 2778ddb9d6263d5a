#pragma once
// The Qt face: one widget per row of the control table, mirroring Form1.
#include <QHash>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>

#include "platform/posix/if_table.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_icmp.h"
#include "platform/posix/posix_process.h"
#include "platform/posix/posix_profile.h"
#include "platform/posix/posix_winsock.h"
#include "platform/qt/image_canvas.h"
#include "platform/qt/tray.h"
#include "window/face_support.h"
#include "window/form1.h"

namespace quorrel::qt {

// The Linux services the window uses.
struct LinuxServices {
  posix::LocaleClock clock;
  posix::PosixFileSystem files;
  posix::Utf8CodePage codePage;
  posix::ProfileFile profile;
  posix::PosixWinsock winsock;
  posix::IcmpService icmp;
  posix::NetlinkIfTable ifTable;
  posix::ShellProcess process;
};

class MainWindow : public QWidget, public Toolkit {
 public:
  // `services` must outlive the window.
  explicit MainWindow(LinuxServices& services, QWidget* parent = nullptr);
  ~MainWindow() override;

  Form1& Form() { return *form_; }
  // The window's shutdown, as the close box runs it. With `displayGone` the
  // X server has left and the toolkit is ending the process: the tray icon is
  // left alone, the log and the settings are saved.
  void Shutdown(bool displayGone);
  // What a session manager's save request keeps; the program goes on running.
  void SaveSession();
  // The widget built for the named control (nullptr for timers and the image list).
  QWidget* WidgetOf(const char* name) const { return widgets_.value(name, nullptr); }
  QTimer* TimerOf(const char* name) const { return timers_.value(name, nullptr); }
  QMenu* TrayMenu() { return &trayMenu_; }
  QtTray& Tray() { return tray_; }
  ImageCanvas& GraphCanvas() { return canvas_; }

  // Toolkit
  int MessageBox(const std::string& text, const std::string& caption, std::uint32_t style) override;
  std::uint32_t WindowHandle() override;
  std::uint32_t WindowIconHandle() override;
  double TwipsPerPixelX() override { return kTwipsPerPixelAt96Dpi; }
  void ShowTrayMenu() override;
  void FocusWindow() override;
  void UnloadWindow() override;
  void EndProgram() override;
  bool TrayAvailable() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Minimised or restored by the window manager: the model learns of it.
  void changeEvent(QEvent* event) override;
  // The result lamp's and the graph's tips, made when they are asked for.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void BuildMenu();
  void BindWindow();
  void Bind(Control& control);
  QWidget* Build(Control& control);
  void Describe(const Control& control, QWidget* widget);

  // The toolkit calls the binder makes.
  class Calls;

  ImageCanvas canvas_;
  QtTray tray_;
  std::unique_ptr<Form1> form_;
  std::unique_ptr<Calls> calls_;
  std::unique_ptr<Binder> binder_;
  QHash<QString, QWidget*> widgets_;
  QHash<QString, QTimer*> timers_;
  QHash<QString, QAction*> actions_;
  QMenu trayMenu_;
};

}  // namespace quorrel::qt
