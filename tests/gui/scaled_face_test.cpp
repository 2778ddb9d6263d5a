// The face at the screen's scale factor: run by ctest at QT_SCALE_FACTOR 1,
// 1.5 and 2. The model's geometry stays in logical pixels; only the images
// underneath are made of device pixels.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStaticText>
#include <QStyle>
#include <QStyleOptionButton>
#include <cmath>

#include "platform/qt/colour.h"
#include "platform/qt/qt_main_window.h"

namespace quorrel::qt {
namespace {

qreal ScreenRatio() { return QGuiApplication::primaryScreen()->devicePixelRatio(); }
// The graph area's background: the window's own.
QRgb Paper() { return QGuiApplication::palette().color(QPalette::Window).rgb(); }

TEST(ScaledFaceTest, GraphImageHasTheScreensPixelRatioAndLogicalGeometry) {
  LinuxServices services;
  MainWindow window(services);
  window.show();
  const qreal ratio = ScreenRatio();
  ImageCanvas& canvas = window.GraphCanvas();
  EXPECT_DOUBLE_EQ(canvas.Image().devicePixelRatio(), ratio);
  EXPECT_DOUBLE_EQ(window.devicePixelRatioF(), ratio);
  // 7695 x 975 twips less the 2-pixel border on each side, whatever the scale.
  EXPECT_EQ(canvas.Width(), 509);
  EXPECT_EQ(canvas.Height(), 61);
  EXPECT_EQ(canvas.Image().width(), static_cast<int>(std::ceil(509 * ratio)));
  EXPECT_EQ(canvas.Image().height(), static_cast<int>(std::ceil(61 * ratio)));
}

TEST(ScaledFaceTest, AOnePixelPenIsAWholeNumberOfDevicePixelsWide) {
  const qreal ratio = ScreenRatio();
  ImageCanvas canvas(100, 40, ratio);
  canvas.Clear();
  const GdiObject pen = canvas.CreatePen(0, 1, 0x000000FF);
  const GdiObject old = canvas.SelectObject(pen);
  const Point line[] = {{0, 20}, {99, 20}};
  ASSERT_TRUE(canvas.Polyline(line, 2));
  canvas.SelectObject(old);
  EXPECT_TRUE(canvas.DeleteObject(pen));

  // Down one device column in the middle: the red rows are together and as
  // many as the ratio rounds to.
  const QImage& image = canvas.Image();
  const int column = image.width() / 2;
  int first = -1, count = 0;
  for (int y = 0; y < image.height(); ++y) {
    if (image.pixel(column, y) != qRgb(255, 0, 0)) continue;
    if (first < 0) first = y;
    ++count;
    EXPECT_EQ(y, first + count - 1) << "one band";
  }
  EXPECT_EQ(count, std::max(1, static_cast<int>(std::lround(ratio))));
  EXPECT_NEAR(first, 20 * ratio, 1.0);
}

TEST(ScaledFaceTest, AnotherScreenRatioKeepsThePicture) {
  ImageCanvas canvas(50, 20, 1.0);
  canvas.Clear();
  const GdiObject brush = canvas.CreateSolidBrush(0x00FF0000);
  const GdiObject pen = canvas.CreatePen(0, 1, 0x00FF0000);
  canvas.SelectObject(brush);
  canvas.SelectObject(pen);
  const Point square[] = {{10, 5}, {20, 5}, {20, 15}, {10, 15}};
  ASSERT_TRUE(canvas.Polygon(square, 4));
  canvas.SetDevicePixelRatio(2.0);
  EXPECT_EQ(canvas.Image().size(), QSize(100, 40));
  EXPECT_EQ(canvas.Width(), 50);
  EXPECT_EQ(canvas.Image().pixel(30, 20), qRgb(0, 0, 255)) << "the square, now in device pixels";
  EXPECT_EQ(canvas.Image().pixel(80, 20), Paper());
}

TEST(ScaledFaceTest, APictureTakenInTheMiddleOfADrawingKeepsWhatItShowed) {
  const qreal ratio = ScreenRatio();
  ImageCanvas canvas(80, 20, ratio);
  canvas.Clear();
  canvas.SetForeColour(0x00000000);
  ASSERT_TRUE(canvas.TextOutA(0, 0, "A", 1));
  const QImage taken = canvas.Image();
  const QImage asItWas = taken.copy();
  // Text, a filled square and a line after the picture was taken.
  ASSERT_TRUE(canvas.TextOutA(60, 0, "B", 1));
  const GdiObject red = canvas.CreatePen(0, 1, 0x000000FF);
  const GdiObject brush = canvas.CreateSolidBrush(0x000000FF);
  canvas.SelectObject(red);
  canvas.SelectObject(brush);
  const Point square[] = {{30, 5}, {40, 5}, {40, 15}, {30, 15}};
  ASSERT_TRUE(canvas.Polygon(square, 4));
  const Point line[] = {{0, 18}, {79, 18}};
  ASSERT_TRUE(canvas.Polyline(line, 2));
  canvas.Refresh();

  EXPECT_TRUE(taken == asItWas) << "the picture taken changed afterwards";
  const QImage& now = canvas.Image();
  auto inked = [&](const QImage& image, int left, int right) {
    for (int y = 0; y < static_cast<int>(12 * ratio); ++y)
      for (int x = static_cast<int>(left * ratio); x < static_cast<int>(right * ratio); ++x)
        if (image.pixel(x, y) != Paper()) return true;
    return false;
  };
  EXPECT_TRUE(inked(now, 0, 10));
  EXPECT_TRUE(inked(now, 60, 70)) << "the text drawn after the picture";
  EXPECT_FALSE(inked(taken, 60, 70));
  const QPoint middle(static_cast<int>(35 * ratio), static_cast<int>(10 * ratio));
  EXPECT_EQ(now.pixel(middle), qRgb(255, 0, 0));
  EXPECT_EQ(taken.pixel(middle), Paper());
  EXPECT_EQ(now.pixel(static_cast<int>(20 * ratio), static_cast<int>(18 * ratio)), qRgb(255, 0, 0));
}

TEST(ScaledFaceTest, TextLooksAsThePainterDrawsIt) {
  const qreal ratio = ScreenRatio();
  ImageCanvas canvas(80, 30, ratio);
  canvas.Clear();
  const GdiObject pen = canvas.CreatePen(0, 1, 0x00000000);
  canvas.SelectObject(pen);
  const Point line[] = {{0, 8}, {79, 8}};
  ASSERT_TRUE(canvas.Polyline(line, 2));
  // The same labels again, as every second: the second time from what the
  // first left behind. One reaches past the left edge, one past the bottom.
  for (int pass = 0; pass < 2; ++pass) {
    canvas.SetForeColour(0x000000FF);
    ASSERT_TRUE(canvas.TextOutA(2, 2, "DS 12", 5));
    canvas.SetForeColour(0x00FF0000);
    ASSERT_TRUE(canvas.TextOutA(-6, 14, "US", 2));
    ASSERT_TRUE(canvas.TextOutA(50, 24, "Wg", 2));
  }
  canvas.Refresh();

  QImage drawn(canvas.Image().size(), QImage::Format_RGB32);
  drawn.setDevicePixelRatio(ratio);
  drawn.fill(Paper());
  QPainter painter(&drawn);
  QFont font("DejaVu Sans");  // the graph's font
  font.setPixelSize(11);
  font.setStyleHint(QFont::SansSerif);
  painter.setFont(font);
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 0) {
      painter.setPen(QPen(Qt::black, 1 / ratio * std::max<qreal>(1, std::round(ratio))));
      painter.drawLine(QLineF(0, 8, 79, 8));
    }
    // Red text is toned for the contrast text needs on this background.
    painter.setPen(ToQColorOn(0x000000FF, QColor(Paper()), kTextContrast));
    painter.drawStaticText(2, 2, QStaticText("DS 12"));
    painter.setPen(QColor(0, 0, 255));
    painter.drawStaticText(-6, 14, QStaticText("US"));
    painter.drawStaticText(50, 24, QStaticText("Wg"));
  }
  painter.end();
  int worst = 0;
  for (int y = 0; y < drawn.height(); ++y)
    for (int x = 0; x < drawn.width(); ++x) {
      const QRgb a = canvas.Image().pixel(x, y), b = drawn.pixel(x, y);
      if (y == static_cast<int>(8 * ratio)) continue;  // the line, drawn its own way
      worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                        std::abs(qBlue(a) - qBlue(b))});
    }
  EXPECT_LE(worst, 1);
}

TEST(ScaledFaceTest, AThinSolidLineIsWalkedAsGdiDrawsIt) {
  ImageCanvas canvas(100, 40, 1.0);
  const GdiObject pen = canvas.CreatePen(0, 1, 0x000000FF);
  canvas.SelectObject(pen);
  const QImage& image = canvas.Image();
  auto red = [&image](int x, int y) { return image.pixel(x, y) == qRgb(255, 0, 0); };
  auto reds = [&] {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) n += red(x, y);
    return n;
  };

  // Every segment stops short of its end point, which the next one starts on.
  canvas.Clear();
  const Point flat[] = {{0, 20}, {99, 20}};
  ASSERT_TRUE(canvas.Polyline(flat, 2));
  EXPECT_TRUE(red(0, 20) && red(98, 20));
  EXPECT_FALSE(red(99, 20)) << "the last point";
  EXPECT_EQ(reds(), 99);

  // Steep spikes, as a busy graph draws them: one pixel per row, every row
  // on the way, and the spikes' tips all there.
  const Point spikes[] = {{0, 39}, {5, 0}, {10, 39}, {15, 0}};
  for (int i = 0; i < 3; ++i) {
    canvas.Clear();
    ASSERT_TRUE(canvas.Polyline(&spikes[i], 2));
    EXPECT_EQ(reds(), 39) << "segment " << i;
    EXPECT_TRUE(red(spikes[i].x, spikes[i].y));
    EXPECT_FALSE(red(spikes[i + 1].x, spikes[i + 1].y));
  }
  canvas.Clear();
  ASSERT_TRUE(canvas.Polyline(spikes, 4));
  for (int y = 1; y < 40; ++y) {
    int inRow = 0;
    for (int x = 0; x <= 5; ++x) inRow += red(x, y);
    EXPECT_EQ(inRow, 1) << "row " << y;
  }
  EXPECT_TRUE(red(5, 0) && red(10, 39));
  EXPECT_FALSE(red(15, 0));

  // Off the image at both ends: the part inside is drawn.
  canvas.Clear();
  const Point across[] = {{-50, 7}, {150, 7}};
  ASSERT_TRUE(canvas.Polyline(across, 2));
  EXPECT_EQ(reds(), 100);

  // A point far out is left to the painter, which clips the line at once.
  canvas.Clear();
  const Point far[] = {{3, 0}, {3, 2000000000}};
  ASSERT_TRUE(canvas.Polyline(far, 2));
  for (int y = 0; y < 40; ++y) EXPECT_TRUE(red(3, y)) << "row " << y;

  // A dashed pen is still the painter's: gaps along the line.
  canvas.Clear();
  const GdiObject dashed = canvas.CreatePen(1, 1, 0x000000FF);
  canvas.SelectObject(dashed);
  ASSERT_TRUE(canvas.Polyline(flat, 2));
  const int dashes = reds();
  EXPECT_GT(dashes, 20);
  EXPECT_LT(dashes, 90);
}

// The width a caption has inside its control, measured the way the style
// lays the control out, and the text it shows (& marks a mnemonic).
int Room(QWidget* w) {
  QStyleOptionButton option;
  option.initFrom(w);
  if (qobject_cast<QCheckBox*>(w))
    return w->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, w).width();
  if (qobject_cast<QPushButton*>(w))
    return w->style()->subElementRect(QStyle::SE_PushButtonContents, &option, w).width();
  return w->contentsRect().width();
}

QString Shown(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  QString text = qobject_cast<QAbstractButton*>(w)->text();
  return text.remove(QRegularExpression("&(?=.)"));
}

void ExpectWhole(QWidget* w, const char* name) {
  const int width = QFontMetrics(w->font()).horizontalAdvance(Shown(w));
  EXPECT_LE(width, Room(w)) << name << " \"" << Shown(w).toStdString() << "\" at "
                            << w->font().pixelSize() << " px";
}

TEST(ScaledFaceTest, EveryCaptionIsWholeInItsControl) {
  LinuxServices services;
  MainWindow window(services);
  window.show();
  int shown = 0;
  for (const ControlLayout& layout : ControlTable()) {
    QWidget* w = window.WidgetOf(layout.name);
    if (!qobject_cast<QLabel*>(w) && !qobject_cast<QAbstractButton*>(w)) continue;
    ExpectWhole(w, layout.name);
    EXPECT_GE(w->font().pixelSize(), 7) << layout.name << " stays readable";
    ++shown;
  }
  EXPECT_EQ(shown, 14);  // 8 labels, 3 buttons, 3 check boxes
  // Captions that fit keep the dialog font.
  EXPECT_EQ(window.WidgetOf("Label5")->font().pixelSize(), 11);

  // Both captions of each toggle, and the rates at 10 Gbit/s in en_US and
  // de_DE, in one font fitted for the widest: it does not jump as the rate
  // moves, down to no traffic at all.
  Form1& form = window.Form();
  form.cmdToggle_Click();
  ExpectWhole(window.WidgetOf("cmdToggle"), "cmdToggle");
  form.cmdToggle_Click();
  const int rateFont = window.WidgetOf("lblDS")->font().pixelSize();
  for (const char* figure : {"1,220,703 KB", "1.220.703 KB", "12,345 KB", "0 KB"}) {
    form.lblDS.SetCaption(std::string("Downstream: ") + figure);
    form.lblUS.SetCaption(std::string("Upstream: ") + figure);
    ExpectWhole(window.WidgetOf("lblDS"), "lblDS");
    ExpectWhole(window.WidgetOf("lblUS"), "lblUS");
    EXPECT_EQ(window.WidgetOf("lblDS")->font().pixelSize(), rateFont) << figure;
  }
}

}  // namespace
}  // namespace quorrel::qt
