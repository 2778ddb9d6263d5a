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
  // A logout ends the program as a close does; the program has nothing to
  // ask the user first, so it does not hold the logout up.
  QObject::connect(&app, &QGuiApplication::commitDataRequest, &app,
                   [&end](QSessionManager&) { end.End(); });
  QObject::connect(&app, &QCoreApplication::aboutToQuit, &app,
                   [&end] { end.RunShutdown(false); });
  window.show();
  return app.exec();
}
