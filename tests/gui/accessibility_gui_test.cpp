// What a screen reader is told about the Qt face, offscreen, as the program
// changes its captions and lamps.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QPushButton>

#include "platform/qt/qt_main_window.h"

namespace quorrel::qt {
namespace {

QString Name(QWidget* widget) {
  return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
}
QAccessible::Role Role(QWidget* widget) {
  return QAccessible::queryAccessibleInterface(widget)->role();
}

class AccessibilityTest : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static void Clean() {
    const QDir folder(QString::fromStdString(posix::PosixFileSystem().ExecutableFolder()));
    for (const char* file : {"Settings.ini", "pinglog.txt", "outages.csv"})
      QFile::remove(folder.filePath(file));
  }
};

TEST_F(AccessibilityTest, NamesAndRolesFollowStartStopCaptionsAndLamps) {
  LinuxServices services;
  MainWindow window(services);
  window.show();
  Form1& form = window.Form();
  EXPECT_EQ(Role(&window), QAccessible::Window);
  EXPECT_EQ(Name(&window), QString::fromStdString(form.window.Caption()));

  auto* toggle = qobject_cast<QPushButton*>(window.WidgetOf("cmdToggle"));
  ASSERT_NE(toggle, nullptr);
  EXPECT_EQ(Role(toggle), QAccessible::Button);
  EXPECT_EQ(Name(toggle), "Start");
  toggle->click();
  EXPECT_EQ(Name(toggle), "Stop");
  toggle->click();
  EXPECT_EQ(Name(toggle), "Start");

  form.lblDS.SetCaption("Downstream: 12 KB");
  EXPECT_EQ(Name(window.WidgetOf("lblDS")), "Downstream: 12 KB");

  QWidget* result = window.WidgetOf("shpResult");
  QWidget* activity = window.WidgetOf("shpPing");
  EXPECT_EQ(Role(result), QAccessible::Indicator);
  EXPECT_EQ(Role(activity), QAccessible::Indicator);
  form.shpResult.SetFillColour(kGreen);
  form.shpPing.SetFillColour(kYellow);
  EXPECT_EQ(Name(result), "Ping result: passed");
  EXPECT_EQ(Name(activity), "Ping activity: yellow");
  form.shpResult.SetFillColour(kRed);
  EXPECT_EQ(Name(result), "Ping result: failed");
  EXPECT_TRUE(QAccessible::queryAccessibleInterface(result)
                  ->text(QAccessible::Description)
                  .startsWith("The last ping failed"));
  window.Shutdown(false);
}

}  // namespace
}  // namespace quorrel::qt
