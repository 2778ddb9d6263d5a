#include "platform/qt/canvas.h"

namespace quorrel::qt {

// TODO(graph): drawing.
ImageCanvas::ImageCanvas(int width, int height) : image_(width, height, QImage::Format_RGB32) {
  image_.fill(Qt::white);
}
void ImageCanvas::Clear() { image_.fill(Qt::white); }
void ImageCanvas::Refresh() {
  if (refresh_) refresh_();
}
void ImageCanvas::SetForeColour(Colour) {}
int ImageCanvas::TextWidth(const std::string&) { return 0; }
int ImageCanvas::TextHeight(const std::string&) { return 0; }
GdiObject ImageCanvas::CreatePen(int, int, Colour) { return 0; }
GdiObject ImageCanvas::CreateSolidBrush(Colour) { return 0; }
GdiObject ImageCanvas::SelectObject(GdiObject) { return 0; }
bool ImageCanvas::DeleteObject(GdiObject) { return false; }
bool ImageCanvas::Polyline(const Point*, int) { return false; }
bool ImageCanvas::Polygon(const Point*, int) { return false; }
bool ImageCanvas::TextOutA(int, int, const char*, int) { return false; }

}  // namespace quorrel::qt
