// The Qt face, offscreen: the window as a person first sees and uses it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>

#include "platform/qt/icons.h"
#include "platform/qt/image_canvas.h"
#include "platform/qt/qt_main_window.h"

namespace quorrel::qt {
namespace {

// The program keeps Settings.ini and pinglog.txt beside its executable, which
// for these tests is the test binary's folder; each test starts and ends clean.
// The rectangles a widget is asked to paint.
struct PaintRects : QObject {
  std::vector<QRect> rects;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) rects.push_back(static_cast<QPaintEvent*>(event)->rect());
    return false;
  }
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static QString Folder() {
    posix::PosixFileSystem fs;
    return QString::fromStdString(fs.ExecutableFolder());
  }
  static QString SettingsFile() { return Folder() + "/Settings.ini"; }
  static QString LogFile() { return Folder() + "/pinglog.txt"; }
  static void Clean() {
    QFile::remove(SettingsFile());
    QFile::remove(LogFile());
    QFile::remove(Folder() + "/outages.csv");
  }
  static QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  static void Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
  }
};

TEST_F(MainWindowTest, OpensStoppedWithEveryControlInPlace) {
  LinuxServices services;
  MainWindow window(services);
  window.show();
  EXPECT_EQ(window.windowTitle(), "Quorrel by Vandrel");
  EXPECT_EQ(window.size(), QSize(526, 449));  // 7890 x 6735 twips
  // One size only, so that compositors offer no maximise.
  EXPECT_EQ(window.minimumSize(), window.size());
  EXPECT_EQ(window.maximumSize(), window.size());

  for (const ControlLayout& layout : ControlTable()) {
    QWidget* w = window.WidgetOf(layout.name);
    if (layout.kind == ControlKind::kTimer || layout.kind == ControlKind::kImageList) {
      EXPECT_EQ(w, nullptr) << layout.name;
      continue;
    }
    ASSERT_NE(w, nullptr) << layout.name;
    const QRect expected(layout.rect.left / 15, layout.rect.top / 15, layout.rect.width / 15,
                         layout.rect.height / 15);
    if (layout.kind == ControlKind::kCheckBox) {
      // A row too short for the style's box grows about its middle.
      EXPECT_GE(w->height(), w->style()->pixelMetric(QStyle::PM_IndicatorHeight)) << layout.name;
      EXPECT_LE(std::abs(w->geometry().center().y() - expected.center().y()), 1) << layout.name;
      EXPECT_EQ(w->x(), expected.x());
      EXPECT_EQ(w->width(), expected.width());
    } else {
      EXPECT_EQ(w->geometry(), expected) << layout.name;
    }
  }
  auto* toggle = qobject_cast<QPushButton*>(window.WidgetOf("cmdToggle"));
  EXPECT_EQ(toggle->text(), "&Start");
  EXPECT_EQ(qobject_cast<QPushButton*>(window.WidgetOf("cmdSysTray"))->text(),
            "Send to System &Tray");
  EXPECT_EQ(qobject_cast<QCheckBox*>(window.WidgetOf("chkChanges"))->text(), "Log changes only");
  EXPECT_FALSE(window.WidgetOf("cmdRunFix")->isEnabled());
  EXPECT_FALSE(window.WidgetOf("pbTime")->isVisible());
  EXPECT_FALSE(window.TimerOf("tmrPing")->isActive());
  EXPECT_FALSE(window.TimerOf("tmrBandwidth")->isActive());
  EXPECT_EQ(window.focusWidget(), window.WidgetOf("txtInterval"));

  // The window shows the grey picture.
  QImage icon = window.windowIcon().pixmap(64, 64).toImage().convertToFormat(QImage::Format_ARGB32);
  QImage grey = StateImage("grey");
  ASSERT_EQ(icon.size(), grey.size());
  EXPECT_EQ(icon.pixel(32, 36), grey.pixel(32, 36));
  EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0);  // magenta is transparent
}

TEST_F(MainWindowTest, TheBarTheGraphEdgeAndTheLabelsAreDrawnAsOnWindows) {
  LinuxServices services;
  MainWindow window(services);
  window.show();

  auto* bar = qobject_cast<QProgressBar*>(window.WidgetOf("pbTime"));
  ASSERT_NE(bar, nullptr);
  bar->setMaximum(4);
  bar->setValue(1);
  const QImage quarter = bar->grab().toImage();
  const QRgb highlight = bar->palette().color(QPalette::Highlight).rgb();
  const QRgb base = bar->palette().color(QPalette::Base).rgb();
  const int middle = quarter.height() / 2;
  const int inside = quarter.width() - 2;  // less the 1-pixel edge on each side
  EXPECT_EQ(quarter.pixel(1, middle), highlight);
  EXPECT_EQ(quarter.pixel(inside / 4, middle), highlight);
  EXPECT_EQ(quarter.pixel(inside / 4 + 2, middle), base);
  EXPECT_EQ(quarter.pixel(quarter.width() - 2, middle), base);
  EXPECT_NE(quarter.pixel(0, middle), highlight) << "the edge";
  // The sunken edge: dark at the top left, light at the bottom right.
  EXPECT_EQ(quarter.pixel(0, 0), bar->palette().color(QPalette::Dark).rgb());
  EXPECT_EQ(quarter.pixel(quarter.width() - 1, quarter.height() - 1),
            bar->palette().color(QPalette::Light) == bar->palette().color(QPalette::Base)
                ? bar->palette().color(QPalette::Midlight).rgb()
                : bar->palette().color(QPalette::Light).rgb());
  bar->setValue(0);
  EXPECT_EQ(bar->grab().toImage().pixel(1, middle), base);
  bar->setValue(4);
  EXPECT_EQ(bar->grab().toImage().pixel(quarter.width() - 2, middle), highlight);

  // The drawing sits inside a sunken 2-pixel edge: dark at the top left,
  // light at the bottom right.
  QWidget* graph = window.WidgetOf("picGraph");
  ASSERT_NE(graph, nullptr);
  ImageCanvas& canvas = window.GraphCanvas();
  canvas.Clear();
  const GdiObject pen = canvas.CreatePen(0, 1, 0x000000FF);
  const GdiObject old = canvas.SelectObject(pen);
  const Point corner[] = {{0, 0}, {1, 0}};
  ASSERT_TRUE(canvas.Polyline(corner, 2));
  canvas.SelectObject(old);
  canvas.DeleteObject(pen);
  const QImage view = graph->grab().toImage();
  ASSERT_EQ(view.size(), QSize(513, 65));
  EXPECT_EQ(view.pixel(2, 2), qRgb(255, 0, 0)) << "the drawing's origin";
  EXPECT_EQ(view.pixel(0, 0), graph->palette().color(QPalette::Dark).rgb());
  EXPECT_EQ(view.pixel(1, 1), graph->palette().color(QPalette::Shadow).rgb());
  EXPECT_EQ(view.pixel(512, 64), graph->palette().color(QPalette::Light).rgb());
  // A new drawing repaints what lies inside the edge, not the edge.
  QApplication::processEvents();  // the first paint of the whole window
  PaintRects painted;
  graph->installEventFilter(&painted);
  canvas.Refresh();
  QApplication::processEvents();
  graph->removeEventFilter(&painted);
  ASSERT_FALSE(painted.rects.empty());
  for (const QRect& r : painted.rects) EXPECT_EQ(r, QRect(2, 2, 509, 61));

  // The graph lies over the labels that reach into it; Label6 stays over the
  // edge of the fix-path box it overlaps, so its whole caption shows.
  const QObjectList& children = window.children();
  auto stackedAt = [&](const char* name) { return children.indexOf(window.WidgetOf(name)); };
  for (const char* label : {"Label3", "Label4", "lblDS", "lblUS"})
    EXPECT_LT(stackedAt(label), stackedAt("picGraph")) << label;
  EXPECT_GT(stackedAt("Label6"), stackedAt("txtFix"));
}

TEST_F(MainWindowTest, TabWalksTheFocusOrder) {
  LinuxServices services;
  MainWindow window(services);
  const char* order[] = {"txtInterval", "txtOut",     "cmdToggle",      "txtIP",
                         "chkChanges",  "cmdSysTray", "cboConnections", "picGraph",
                         "chkMarkers",  "chkSaveLog", "txtFix",         "cmdRunFix"};
  // The chain also runs through inner parts (a scroll bar, a viewport); the
  // named controls must come in this order.
  QSet<QWidget*> named;
  for (const char* name : order) named.insert(window.WidgetOf(name));
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
    QWidget* next = window.WidgetOf(order[i])->nextInFocusChain();
    for (int guard = 0; !named.contains(next) && guard < 100; ++guard) {
      EXPECT_EQ(next->focusPolicy() & Qt::TabFocus, 0) << next->objectName().toStdString();
      next = next->nextInFocusChain();
    }
    EXPECT_EQ(next, window.WidgetOf(order[i + 1])) << order[i];
  }
}

TEST_F(MainWindowTest, ClickingStartAndStopSwitchesCaptionsAndTimers) {
  LinuxServices services;
  MainWindow window(services);
  window.show();
  auto* toggle = qobject_cast<QPushButton*>(window.WidgetOf("cmdToggle"));
  QTest::mouseClick(toggle, Qt::LeftButton);
  EXPECT_EQ(toggle->text(), "&Stop");
  EXPECT_EQ(window.TrayMenu()->actions()[2]->text(), "Stop Pings");
  EXPECT_TRUE(window.TimerOf("tmrPing")->isActive());
  EXPECT_TRUE(window.TimerOf("tmrBandwidth")->isActive());
  EXPECT_EQ(window.TimerOf("tmrPing")->interval(), 1000);
  EXPECT_FALSE(window.WidgetOf("txtInterval")->isEnabled());
  EXPECT_FALSE(window.WidgetOf("cboConnections")->isEnabled());
  EXPECT_TRUE(window.WidgetOf("pbTime")->isVisible());
  auto* log = qobject_cast<QPlainTextEdit*>(window.WidgetOf("txtOut"));
  EXPECT_TRUE(log->toPlainText().endsWith(" - Monitoring started\n"));
  EXPECT_TRUE(log->isReadOnly());

  QTest::mouseClick(toggle, Qt::LeftButton);
  EXPECT_EQ(toggle->text(), "&Start");
  EXPECT_FALSE(window.TimerOf("tmrPing")->isActive());
  EXPECT_FALSE(window.TimerOf("tmrBandwidth")->isActive());
  EXPECT_TRUE(window.WidgetOf("txtInterval")->isEnabled());
}

TEST_F(MainWindowTest, TypingIntoTheIntervalBoxReachesTheModel) {
  LinuxServices services;
  MainWindow window(services);
  window.show();
  auto* interval = qobject_cast<QLineEdit*>(window.WidgetOf("txtInterval"));
  interval->setFocus();
  QTest::keyClicks(interval, "12");
  EXPECT_EQ(window.Form().pingInterval, 12);
  EXPECT_EQ(qobject_cast<QProgressBar*>(window.WidgetOf("pbTime"))->maximum(), 12);
}

TEST_F(MainWindowTest, SettingsLoadAtStartAndAllFiveAreWrittenAtClose) {
  Write(SettingsFile(),
        "[Options]\r\nIP=127.0.0.1\r\nInterval=3\r\nChanges only=1\r\nSave log on exit=1\r\n");
  {
    LinuxServices services;
    MainWindow window(services);
    window.show();
    EXPECT_EQ(qobject_cast<QLineEdit*>(window.WidgetOf("txtIP"))->text(), "127.0.0.1");
    EXPECT_EQ(qobject_cast<QLineEdit*>(window.WidgetOf("txtInterval"))->text(), "3");
    EXPECT_TRUE(qobject_cast<QCheckBox*>(window.WidgetOf("chkChanges"))->isChecked());
    QTest::mouseClick(window.WidgetOf("cmdToggle"), Qt::LeftButton);
    auto* ip = qobject_cast<QLineEdit*>(window.WidgetOf("txtIP"));
    ip->selectAll();
    QTest::keyClicks(ip, "127.0.0.2");
    window.close();
    EXPECT_TRUE(window.Form().Unloaded());
  }
  QByteArray ini = Read(SettingsFile());
  for (const char* line :
       {"Fix path=", "IP=127.0.0.2", "Interval=3", "Changes only=1", "Save log on exit=1"})
    EXPECT_TRUE(ini.contains(line)) << line << "\n" << ini.toStdString();
  QByteArray log = Read(LogFile());
  EXPECT_TRUE(log.contains(" - Monitoring started\r\n")) << log.toStdString();
  EXPECT_TRUE(log.endsWith("\r\n\r\n"));
}


TEST_F(MainWindowTest, TheLampAndTheGraphShowTheirTipsWhenHovered) {
  LinuxServices services;
  MainWindow window(services);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  Form1& form = window.Form();
  // The tip shown, or "" when the widget turned the request down.
  auto hover = [](QWidget* widget, QPoint at) {
    QHelpEvent help(QEvent::ToolTip, at, widget->mapToGlobal(at));
    QApplication::sendEvent(widget, &help);
    return help.isAccepted() && QToolTip::isVisible() ? QToolTip::text().toStdString()
                                                      : std::string();
  };
  QWidget* lamp = window.WidgetOf("shpResult");
  QWidget* graph = window.WidgetOf("picGraph");
  EXPECT_EQ(hover(lamp, {2, 2}), "Stopped");
  EXPECT_EQ(hover(graph, {graph->width() - 3, 5}), "") << "no second drawn yet";

  qobject_cast<QPushButton*>(window.WidgetOf("cmdToggle"))->click();
  EXPECT_EQ(hover(lamp, {2, 2}), form.PingResultTip());
  EXPECT_EQ(lamp->accessibleDescription().toStdString(),
            AccessibleDescriptionOf(form, form.shpResult));
  form.tmrBandwidth_Timer();
  form.tmrBandwidth_Timer();
  const std::string tip = hover(graph, {graph->width() - 3, 5});
  EXPECT_EQ(tip, form.GraphTipAt(graph->width() - 3 - 2));
  EXPECT_NE(tip.find("Downstream: "), std::string::npos) << tip;
  qobject_cast<QPushButton*>(window.WidgetOf("cmdToggle"))->click();
  QToolTip::hideText();
  window.Shutdown(false);
}

}  // namespace
}  // namespace quorrel::qt

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
