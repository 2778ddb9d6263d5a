#include <QApplication>
#include <QSessionManager>

#include "platform/qt/qt_main_window.h"
#include "platform/qt/session_end.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The window may sit in the tray with no window shown; only Close ends it.
  QApplication::setQuitOnLastWindowClosed(false);
  quorrel::qt::LinuxServices services;
  quorrel::qt::MainWindow window(services);
  quorrel::qt::SessionEnd end([&window](bool displayGone) { window.Shutdown(displayGone); });
  // The session manager asks for the data to be kept, at a logout and at a
  // save of the session alike, and the program must not end within that
  // request; a logout then ends it by a signal or with the display. It has
  // nothing to ask the user first, so it does not hold the logout up.
  QObject::connect(&app, &QGuiApplication::commitDataRequest, &app,
                   [&window](QSessionManager&) { window.SaveSession(); });
  QObject::connect(&app, &QCoreApplication::aboutToQuit, &app, [&end] { end.RunShutdown(false); });
  window.show();
  return app.exec();
}
