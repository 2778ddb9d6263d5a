// What the Qt face adds to the model, offscreen: accessible words, keys, the
// destination hint, the adapter list appended to and the log edited in place.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include "platform/qt/qt_main_window.h"

namespace quorrel::qt {
namespace {

QString Accessible(QWidget* widget, QAccessible::Text what) {
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
  return face ? face->text(what) : QString("<no interface>");
}

// The names of the labels a screen reader finds for the widget.
QStringList LabelledBy(QWidget* widget) {
  QStringList names;
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
  if (!face) return names;
  for (const auto& [other, relation] : face->relations(QAccessible::Label))
    names << other->text(QAccessible::Name);
  return names;
}

// Settings.ini and pinglog.txt sit beside the test binary; none is left behind.
class FaceBindingTest : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static void Clean() {
    const QString folder = QString::fromStdString(posix::PosixFileSystem().ExecutableFolder());
    QFile::remove(folder + "/Settings.ini");
    QFile::remove(folder + "/pinglog.txt");
  }
  LinuxServices services_;
};

TEST_F(FaceBindingTest, BoxesCarryTheirLabelsAndTheLampsTheirStateInWords) {
  MainWindow window(services_);
  window.show();
  const std::pair<const char*, const char*> names[] = {
      {"txtIP", "Destination IP"},    {"txtInterval", "Interval in seconds:"},
      {"cboConnections", "Adaptor:"}, {"txtFix", "Fix location:"},
      {"txtOut", "Event log"},        {"shpResult", "Ping result: none"}};
  for (auto [control, name] : names) {
    QWidget* w = window.WidgetOf(control);
    const std::string_view id(control);
    // Qt on Linux names a drop-down list by its current entry and reads the
    // label from the relation.
    if (id != "cboConnections") {
      EXPECT_EQ(Accessible(w, QAccessible::Name), name) << control;
    }
    const bool labelled = (id.starts_with("txt") && id != "txtOut") || id == "cboConnections";
    if (labelled) {
      EXPECT_EQ(LabelledBy(w), QStringList{name}) << control;
    }
  }
  EXPECT_TRUE(
      Accessible(window.WidgetOf("shpPing"), QAccessible::Name).startsWith("Ping activity"));

  // A real ping of loopback: the lamps change colour and their words follow.
  Form1& form = window.Form();
  form.txtIP.SetText("127.0.0.1");
  form.txtInterval.SetText("0");
  QTest::mouseClick(qobject_cast<QPushButton*>(window.WidgetOf("cmdToggle")), Qt::LeftButton);
  form.tmrPing_Timer();
  EXPECT_EQ(Accessible(window.WidgetOf("shpResult"), QAccessible::Name), "Ping result: passed");
  EXPECT_FALSE(Accessible(window.WidgetOf("shpResult"), QAccessible::Description).isEmpty());
  EXPECT_EQ(Accessible(window.WidgetOf("shpPing"), QAccessible::Name), "Ping activity: yellow");
  form.tmrPing_Timer();
  EXPECT_EQ(Accessible(window.WidgetOf("shpPing"), QAccessible::Name), "Ping activity: blue");

  // The graph's description reads the rate captions as they stand.
  form.lblDS.SetCaption("Downstream: 12 KB");
  form.lblUS.SetCaption("Upstream: 3 KB");
  const QString graph = Accessible(window.WidgetOf("picGraph"), QAccessible::Description);
  EXPECT_TRUE(graph.contains("Downstream: 12 KB")) << graph.toStdString();
  EXPECT_TRUE(graph.contains("Upstream: 3 KB")) << graph.toStdString();
  QTest::mouseClick(qobject_cast<QPushButton*>(window.WidgetOf("cmdToggle")), Qt::LeftButton);
}

TEST_F(FaceBindingTest, EnterAndReturnPressTheFocusedButton) {
  MainWindow window(services_);
  window.show();
  QApplication::setActiveWindow(&window);
  auto* toggle = qobject_cast<QPushButton*>(window.WidgetOf("cmdToggle"));
  toggle->setFocus();
  QTest::keyClick(toggle, Qt::Key_Return);
  QTest::qWait(400);  // the button's press animation
  EXPECT_EQ(toggle->text(), "&Stop");
  QTest::keyClick(toggle, Qt::Key_Enter);
  QTest::qWait(400);
  EXPECT_EQ(toggle->text(), "&Start");
  // Other keys keep their meaning: Space presses it too, a letter does nothing.
  QTest::keyClick(toggle, Qt::Key_A);
  QTest::qWait(400);
  EXPECT_EQ(toggle->text(), "&Start");
}

TEST_F(FaceBindingTest, EmptyDestinationShowsAHintThatIsNotItsText) {
  MainWindow window(services_);
  auto* ip = qobject_cast<QLineEdit*>(window.WidgetOf("txtIP"));
  EXPECT_EQ(ip->placeholderText(), "router address, e.g. 192.168.1.1");
  EXPECT_EQ(ip->text(), "") << "no Settings.ini: the box is empty";
  EXPECT_EQ(window.Form().txtIP.Text(), "");
  window.close();
  const QString folder = QString::fromStdString(posix::PosixFileSystem().ExecutableFolder());
  QFile settings(folder + "/Settings.ini");
  ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
  EXPECT_TRUE(settings.readAll().contains("IP=\r\n")) << "the hint is never saved";
}

TEST_F(FaceBindingTest, AdapterListIsAppendedToNotRefilled) {
  MainWindow window(services_);
  auto* combo = qobject_cast<QComboBox*>(window.WidgetOf("cboConnections"));
  auto* model = qobject_cast<QStandardItemModel*>(combo->model());
  ASSERT_NE(model, nullptr);
  const int before = combo->count();
  ASSERT_EQ(before, static_cast<int>(window.Form().cboConnections.Items().size()));
  QStandardItem* first = before > 0 ? model->item(0) : nullptr;
  int removed = 0;
  QObject::connect(model, &QAbstractItemModel::rowsRemoved, [&removed] { ++removed; });
  window.Form().cboConnections.AddItem("veth-test ");
  EXPECT_EQ(combo->count(), before + 1);
  EXPECT_EQ(combo->itemText(before), "veth-test ");
  EXPECT_EQ(removed, 0);
  if (first) {
    EXPECT_EQ(model->item(0), first) << "the earlier entries stay as they were";
  }
  // Clearing still empties it.
  window.Form().cboConnections.Clear();
  EXPECT_EQ(combo->count(), 0);
}

TEST_F(FaceBindingTest, LogBoxEndsWithTheModelsTextAfterManyLinesAndTrims) {
  MainWindow window(services_);
  auto* log = qobject_cast<QPlainTextEdit*>(window.WidgetOf("txtOut"));
  Form1& form = window.Form();
  int largest = 0;
  int line = -1;
  QObject::connect(log->document(), &QTextDocument::contentsChange,
                   [&largest, &line](int, int removed, int added) {
                     if (line >= 0) largest = std::max({largest, removed, added});
                   });
  auto expected = [&form] {
    QString text = QString::fromStdString(form.txtOut.Text());
    text.remove(QLatin1Char('\r'));
    return text;
  };
  for (int i = 0; i < 400; ++i) {
    std::string message = "Ping 127.0.0.1 passed : line " + std::to_string(i);
    for (int k = 0; k < i % 37; ++k) message += i % 2 ? "\xC3\xA9" : "x";  // é or x
    if (i % 3 == 0) message += " \xE2\x82\xAC \xF0\x9F\x98\x80";           // euro, an emoji
    if (i % 50 == 7) message += " \xFF";                                   // not UTF-8
    line = i;
    form.AddLogLine(message);
    ASSERT_EQ(log->toPlainText(), expected()) << "after line " << i;
  }
  EXPECT_GT(form.txtOut.Text().size(), 2800u) << "trimmed at its bound";
  EXPECT_LT(largest, 400) << "no change laid the whole log out again";
  // Each line keeps its shaped glyphs, so a repaint does not shape it again.
  for (QTextBlock b = log->document()->begin(); b.isValid(); b = b.next())
    ASSERT_TRUE(b.layout()->cacheEnabled()) << "block " << b.blockNumber();

  // A line longer than the bound leaves its newest characters alone in the box.
  form.AddLogLine(std::string(3100, 'L'));
  EXPECT_EQ(log->toPlainText(), expected());
  EXPECT_EQ(log->toPlainText(), QString(2998, 'L') + "\n");
  form.AddLogLine("Monitoring started");
  EXPECT_EQ(log->toPlainText(), expected());
  EXPECT_TRUE(log->toPlainText().endsWith(" - Monitoring started\n"));
  EXPECT_TRUE(log->document()->firstBlock().layout()->cacheEnabled()) << "after a whole new text";
  EXPECT_FALSE(log->document()->isUndoAvailable()) << "a read-only log keeps no undo";
}

TEST_F(FaceBindingTest, TheShownLogIsRepaintedWhereItChangedAndNothingStaleStays) {
  MainWindow window(services_);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  auto* log = qobject_cast<QPlainTextEdit*>(window.WidgetOf("txtOut"));
  QWidget* viewport = log->viewport();
  Form1& form = window.Form();
  struct Painted : QObject {
    QRegion region;
    int Area() const {
      int area = 0;
      for (const QRect& r : region) area += r.width() * r.height();
      return area;
    }
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() == QEvent::Paint) region += static_cast<QPaintEvent*>(event)->region();
      return false;
    }
  } painted;
  QScrollBar* bar = log->verticalScrollBar();
  // What the screen shows of a widget, against the widget drawn afresh
  // (which paints it whole).
  auto shownAsDrawn = [&](QWidget* widget) {
    const QPoint at = widget->mapTo(&window, QPoint(0, 0));
    const QImage screen =
        window.screen()
            ->grabWindow(window.winId(), at.x(), at.y(), widget->width(), widget->height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    return screen == widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
  };
  QApplication::processEvents();
  viewport->installEventFilter(&painted);
  // Growing until the box is full, then scrolling, then at the bound, where
  // lines also go at the top. Some lines wrap; the last ones do not, so that
  // towards the end every shown line is a single one.
  for (int i = 0; i < 150; ++i) {
    painted.region = QRegion();
    const bool wraps = i < 60 && i % 9 == 4;
    form.AddLogLine("Ping 127.0.0.1 passed : line " + std::to_string(i) +
                    (wraps ? std::string(120, 'w') : std::string()));
    QApplication::processEvents();
    if (i < 10 || i >= 80) {
      EXPECT_LT(painted.Area(), viewport->width() * viewport->height() / 3)
          << "line " << i << " repainted more than its own place";
    }
    ASSERT_TRUE(shownAsDrawn(viewport)) << "the log after line " << i;
    ASSERT_TRUE(shownAsDrawn(bar)) << "the scroll bar after line " << i;
    ASSERT_EQ(bar->value(), bar->maximum());
  }
  // Scrolled back by hand, to the top and down again.
  for (int value : {bar->maximum() - 1, 1, 0, 1, bar->maximum()}) {
    bar->setValue(value);
    QApplication::processEvents();
    ASSERT_TRUE(shownAsDrawn(bar)) << "the scroll bar at " << value;
    ASSERT_TRUE(shownAsDrawn(viewport)) << "the log scrolled to " << value;
  }
  // The last lines were dropping lines at the top.
  EXPECT_EQ(form.txtOut.Text().find("line 0 "), std::string::npos);
  viewport->removeEventFilter(&painted);
  QString text = QString::fromStdString(form.txtOut.Text());
  EXPECT_EQ(log->toPlainText(), text.remove(QLatin1Char('\r')));
}

}  // namespace
}  // namespace quorrel::qt
