// The anchor of the launch benchmark: the least a Qt Widgets program does to
// put a window on the screen.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle("Bare Qt window");
  window.resize(520, 420);
  window.show();
  return app.exec();
}
