#pragma once
#include <QImage>
#include <functional>

#include "platform/canvas.h"

namespace quorrel::qt {

// The graph area's persistent image; Refresh asks the widget to repaint.
class ImageCanvas : public Canvas {
 public:
  ImageCanvas(int width, int height);
  const QImage& Image() const { return image_; }
  void SetRefreshHandler(std::function<void()> handler) { refresh_ = std::move(handler); }

  int Width() override { return image_.width(); }
  int Height() override { return image_.height(); }
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

 private:
  QImage image_;
  std::function<void()> refresh_;
};

}  // namespace quorrel::qt
