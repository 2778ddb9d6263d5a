#pragma once
#include <QFont>
#include <QFontMetrics>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QStaticText>
#include <functional>
#include <optional>
#include <unordered_map>

#include "platform/canvas.h"

namespace quorrel::qt {

// The graph area's persistent image, drawn the GDI way: pens and brushes are
// handles in a table, selected into the one drawing context and deleted by
// their owner; Refresh asks the widget to repaint.
//
// Width, height and every coordinate are logical pixels, as the model works
// them out; the image itself holds device pixels at the screen's ratio, so the
// lines and labels come out sharp at any scale factor.
class ImageCanvas : public Canvas {
 public:
  ImageCanvas(int width, int height, qreal devicePixelRatio = 1.0);
  // The picture so far; the painter draws into the image at once.
  const QImage& Image() const { return image_; }
  // Moves the image to another ratio (the window went to another screen),
  // keeping the picture until the next draw replaces it.
  void SetDevicePixelRatio(qreal ratio);
  void SetRefreshHandler(std::function<void()> handler) { refresh_ = std::move(handler); }

  int Width() override { return width_; }
  int Height() override { return height_; }
  void Clear() override;
  void Refresh() override;
  void SetForeColour(Colour colour) override;
  int TextWidth(const std::string& text) override;
  int TextHeight(const std::string& text) override;
  GdiObject CreatePen(int style, int width, Colour colour) override;
  GdiObject CreateSolidBrush(Colour colour) override;
  GdiObject SelectObject(GdiObject object) override;
  bool DeleteObject(GdiObject object) override;
  bool Polyline(const Point* points, int count) override;
  bool Polygon(const Point* points, int count) override;
  bool TextOutA(int x, int y, const char* text, int length) override;

  // Pens and brushes created and not yet deleted, the stock ones not counted.
  std::size_t LiveObjects() const { return objects_.size() - kStockObjects; }

 private:
  struct DrawObject {
    bool pen = true;
    bool stock = false;
    Qt::PenStyle style = Qt::SolidLine;
    int width = 0;
    QColor colour;
  };
  static constexpr std::size_t kStockObjects = 2;

  // A text laid out once: the graph writes the same few labels every second.
  struct LaidOutText {
    QStaticText text;
    int width = 0;
  };
  static constexpr std::size_t kLaidOutTexts = 16;

  const QFontMetrics& Metrics();
  // One painter serves a whole drawing, up to Refresh: making one per label
  // cost more than drawing the label. The raster painter draws into the
  // image's pixels at once, so writing pixels by hand beside it is sound; an
  // image copied while it paints is copied deep.
  QPainter& Painter();
  LaidOutText& LaidOut(const QString& text);
  QPen PenOf(const DrawObject& pen) const;
  // GDI's own pixels for a solid pen one pixel wide, at a ratio of 1. False,
  // drawing nothing, where a point lies too far outside the image.
  bool WalkThinPolyline(const Point* points, int count, QRgb colour);

  int width_;
  int height_;
  QImage image_;
  std::function<void()> refresh_;
  std::unordered_map<GdiObject, DrawObject> objects_;
  GdiObject nextObject_;
  GdiObject selectedPen_;
  GdiObject selectedBrush_;
  QColor foreColour_;
  // Made on first use: a font needs the application object, which a canvas may predate.
  std::optional<QFont> font_;
  std::optional<QFontMetrics> metrics_;
  int textHeight_ = 0;
  QHash<QString, LaidOutText> laidOut_;
  // Last, so that it ends before the image goes.
  std::optional<QPainter> painter_;
};

}  // namespace quorrel::qt
