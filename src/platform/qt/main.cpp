#include <QApplication>

#include "platform/qt/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The window may sit in the tray with no window shown; only Close ends it.
  QApplication::setQuitOnLastWindowClosed(false);
  quorrel::qt::LinuxServices services;
  quorrel::qt::MainWindow window(services);
  QObject::connect(&app, &QApplication::aboutToQuit, [&window] { window.Form().Form_QueryUnload(); });
  window.show();
  return app.exec();
}
