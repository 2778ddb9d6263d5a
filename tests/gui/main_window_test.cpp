// The Qt face, offscreen: the window as a person first sees it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "platform/qt/main_window.h"

namespace quorrel::qt {

TEST(MainWindowTest, OpensStopped) {
  LinuxServices services;
  MainWindow window(services);
  auto* toggle = qobject_cast<QPushButton*>(window.WidgetOf("cmdToggle"));
  ASSERT_NE(toggle, nullptr);
  EXPECT_EQ(toggle->text(), "&Start");
  EXPECT_EQ(window.windowTitle(), "Quorrel by Vandrel");
}

}  // namespace quorrel::qt

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
