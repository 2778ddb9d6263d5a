// The face at the screen's scale factor: run by ctest at QT_SCALE_FACTOR 1,
// 1.5 and 2. The model's geometry stays in logical pixels; only the images
// underneath are made of device pixels.
#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <cmath>

#include "platform/qt/main_window.h"

namespace quorrel::qt {
namespace {

qreal ScreenRatio() { return QGuiApplication::primaryScreen()->devicePixelRatio(); }

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
  EXPECT_EQ(canvas.Image().pixel(80, 20), qRgb(255, 255, 255));
}

}  // namespace
}  // namespace quorrel::qt
