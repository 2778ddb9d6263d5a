#include "platform/qt/image_canvas.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QPolygon>
#include <QtMath>
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "platform/qt/colour.h"
#include "window/face_support.h"

namespace quorrel::qt {
namespace {

constexpr GdiObject kStockBlackPen = 1;
constexpr GdiObject kStockWhiteBrush = 2;
constexpr GdiObject kFirstObject = 16;

// The fixed font of the graph area.
constexpr char kFontFamily[] = "DejaVu Sans";
constexpr int kFontPixels = 11;

Qt::PenStyle PenStyle(int style) {
  switch (style) {
    case 1:
      return Qt::DashLine;
    case 2:
      return Qt::DotLine;
    case 3:
      return Qt::DashDotLine;
    case 4:
      return Qt::DashDotDotLine;
    case 5:  // PS_NULL
      return Qt::NoPen;
    default:
      return Qt::SolidLine;
  }
}

QPolygon ToPolygon(const Point* points, int count) {
  QPolygon polygon(count);
  for (int i = 0; i < count; ++i) polygon.setPoint(i, points[i].x, points[i].y);
  return polygon;
}

// The graph area stands on the window's own pair of colours, as the labels
// do; without an application object there is no palette: black on white, as
// on Windows.
QColor Background() {
  return QGuiApplication::instance() ? QGuiApplication::palette().color(QPalette::Window)
                                     : QColor(Qt::white);
}

QImage DeviceImage(int width, int height, qreal ratio) {
  QImage image(qCeil(width * ratio), qCeil(height * ratio), QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio);
  return image;
}

}  // namespace

ImageCanvas::ImageCanvas(int width, int height, qreal devicePixelRatio)
    : width_(width),
      height_(height),
      image_(DeviceImage(width, height, devicePixelRatio > 0 ? devicePixelRatio : 1.0)),
      nextObject_(kFirstObject),
      selectedPen_(kStockBlackPen),
      selectedBrush_(kStockWhiteBrush),
      foreColour_(Qt::black) {
  if (QGuiApplication::instance())
    foreColour_ = QGuiApplication::palette().color(QPalette::WindowText);
  objects_[kStockBlackPen] = {true, true, Qt::SolidLine, 0, QColor(Qt::black)};
  objects_[kStockWhiteBrush] = {false, true, Qt::SolidLine, 0, QColor(Qt::white)};
  Clear();
}

void ImageCanvas::SetDevicePixelRatio(qreal ratio) {
  if (ratio <= 0 || qFuzzyCompare(ratio, image_.devicePixelRatio())) return;
  painter_.reset();
  QImage moved = DeviceImage(width_, height_, ratio);
  QPainter painter(&moved);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(QRectF(0, 0, width_, height_), image_);
  painter.end();
  image_ = std::move(moved);
}

QPen ImageCanvas::PenOf(const DrawObject& pen) const {
  // A GDI pen of width w covers w whole pixels; at a fractional ratio the
  // line is kept a whole number of device pixels wide so it stays crisp.
  const qreal ratio = image_.devicePixelRatio();
  const int logical = pen.width < 1 ? 1 : pen.width;
  const qreal device = std::max<qreal>(1.0, std::round(logical * ratio));
  return QPen(pen.colour, device / ratio, pen.style);
}

QPainter& ImageCanvas::Painter() {
  if (!painter_) {
    painter_.emplace(&image_);
    // A font needs the application object; text does too.
    if (QGuiApplication::instance()) {
      Metrics();
      painter_->setFont(*font_);
    }
  }
  return *painter_;
}

void ImageCanvas::Clear() { image_.fill(Background()); }

void ImageCanvas::Refresh() {
  painter_.reset();
  if (refresh_) refresh_();
}

void ImageCanvas::SetForeColour(Colour colour) {
  foreColour_ = ToQColorOn(colour, Background(), kTextContrast);
}

const QFontMetrics& ImageCanvas::Metrics() {
  if (!metrics_) {
    font_.emplace(kFontFamily);
    font_->setPixelSize(kFontPixels);
    font_->setStyleHint(QFont::SansSerif);
    metrics_.emplace(*font_);
    textHeight_ = metrics_->height();
  }
  return *metrics_;
}

ImageCanvas::LaidOutText& ImageCanvas::LaidOut(const QString& text) {
  auto found = laidOut_.find(text);
  if (found != laidOut_.end()) return *found;
  if (static_cast<std::size_t>(laidOut_.size()) >= kLaidOutTexts) laidOut_.clear();
  LaidOutText& made = laidOut_[text];
  made.text.setText(text);
  made.text.setTextFormat(Qt::PlainText);
  made.text.setPerformanceHint(QStaticText::AggressiveCaching);
  made.width = Metrics().horizontalAdvance(text);
  return made;
}

int ImageCanvas::TextWidth(const std::string& text) {
  return LaidOut(QString::fromStdString(text)).width;
}

int ImageCanvas::TextHeight(const std::string&) {
  Metrics();
  return textHeight_;
}

GdiObject ImageCanvas::CreatePen(int style, int width, Colour colour) {
  const GdiObject handle = nextObject_++;
  objects_[handle] = {true, false, PenStyle(style), width < 0 ? 0 : width,
                      ToQColorOn(colour, Background(), kLineContrast)};
  return handle;
}

GdiObject ImageCanvas::CreateSolidBrush(Colour colour) {
  const GdiObject handle = nextObject_++;
  objects_[handle] = {false, false, Qt::SolidLine, 0,
                      ToQColorOn(colour, Background(), kLineContrast)};
  return handle;
}

GdiObject ImageCanvas::SelectObject(GdiObject object) {
  auto found = objects_.find(object);
  if (found == objects_.end()) return 0;
  GdiObject& slot = found->second.pen ? selectedPen_ : selectedBrush_;
  const GdiObject previous = slot;
  slot = object;
  return previous;
}

bool ImageCanvas::DeleteObject(GdiObject object) {
  auto found = objects_.find(object);
  // As in GDI, a stock object or one still selected stays.
  if (found == objects_.end() || found->second.stock || object == selectedPen_ ||
      object == selectedBrush_)
    return false;
  objects_.erase(found);
  return true;
}

bool ImageCanvas::WalkThinPolyline(const Point* points, int count, QRgb colour) {
  // A point this far out would make a long walk for nothing; the painter
  // clips such a line instead.
  const int reachX = 4 * image_.width() + 64;
  const int reachY = 4 * image_.height() + 64;
  for (int i = 0; i < count; ++i)
    if (std::abs(std::int64_t{points[i].x}) > reachX ||
        std::abs(std::int64_t{points[i].y}) > reachY)
      return false;
  const int width = image_.width();
  const int height = image_.height();
  const QRgb pixel = 0xFF000000u | colour;
  uchar* const bits = image_.bits();
  const qsizetype stride = image_.bytesPerLine();
  for (int i = 0; i + 1 < count; ++i) {
    int x = points[i].x, y = points[i].y;
    const int endX = points[i + 1].x, endY = points[i + 1].y;
    const int dx = std::abs(endX - x), dy = -std::abs(endY - y);
    const int stepX = x < endX ? 1 : -1, stepY = y < endY ? 1 : -1;
    int error = dx + dy;
    while (x != endX || y != endY) {
      if (x >= 0 && x < width && y >= 0 && y < height)
        reinterpret_cast<QRgb*>(bits + y * stride)[x] = pixel;
      const int twice = 2 * error;
      if (twice >= dy) {
        error += dy;
        x += stepX;
      }
      if (twice <= dx) {
        error += dx;
        y += stepY;
      }
    }
  }
  return true;
}

bool ImageCanvas::Polyline(const Point* points, int count) {
  if (!points || count < 2) return false;
  const DrawObject& pen = objects_.at(selectedPen_);
  // A solid pen one device pixel wide is walked pixel by pixel, which gives
  // exactly the pixels GDI draws: each segment without its end point. The
  // painter's stroker would hand a spiky graph line to the span filler as
  // hundreds of tiny spans. At any other ratio a GDI pixel is no device
  // pixel, and the painter draws the line.
  if (pen.style == Qt::SolidLine && pen.width <= 1 && image_.devicePixelRatio() == 1.0 &&
      WalkThinPolyline(points, count, pen.colour.rgb()))
    return true;
  QPainter& painter = Painter();
  painter.setPen(PenOf(pen));
  painter.drawPolyline(ToPolygon(points, count));
  return true;
}

bool ImageCanvas::Polygon(const Point* points, int count) {
  if (!points || count < 2) return false;
  const DrawObject& pen = objects_.at(selectedPen_);
  const DrawObject& brush = objects_.at(selectedBrush_);
  QPainter& painter = Painter();
  painter.setPen(PenOf(pen));
  painter.setBrush(brush.colour);
  painter.drawPolygon(ToPolygon(points, count));
  return true;
}

bool ImageCanvas::TextOutA(int x, int y, const char* text, int length) {
  if (!text || length < 0) return false;
  LaidOutText& laidOut = LaidOut(QString::fromUtf8(text, length));
  QPainter& painter = Painter();
  painter.setPen(foreColour_);
  // Both GDI and a laid-out text place the text cell's top-left corner at (x, y).
  painter.drawStaticText(x, y, laidOut.text);
  return true;
}

}  // namespace quorrel::qt
