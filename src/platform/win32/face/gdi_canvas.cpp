#include "platform/win32/face/gdi_canvas.h"

#include <algorithm>
#include <cstddef>

#include "window/face_support.h"

namespace quorrel::win32 {

static_assert(sizeof(POINT) == sizeof(Point) && offsetof(POINT, y) == offsetof(Point, y),
              "the graph's points are handed to GDI as they are stored");

namespace {
Colour SystemColour(int index) { return static_cast<Colour>(::GetSysColor(index)); }
}  // namespace

COLORREF ToColorRef(Colour colour) {
  return static_cast<COLORREF>(ResolveColour(colour, &SystemColour) & 0x00FFFFFFu);
}

COLORREF ToColorRefOn(Colour colour, int background, double minRatio) {
  if ((colour & kSystemColourFlag) != 0) return ToColorRef(colour);
  return static_cast<COLORREF>(TonedForContrast(colour, SystemColour(background), minRatio));
}

bool GdiCanvas::Create(int width, int height) {
  fontSelection_.reset();
  bitmapSelection_.reset();
  dc_.reset(::CreateCompatibleDC(nullptr));
  if (!dc_ || width <= 0 || height <= 0) return false;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down, like the graph's y axis
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap_.reset(::CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap_) return false;
  bitmapSelection_.emplace(dc_.get(), bitmap_.get());
  width_ = width;
  height_ = height;
  ::SetBkMode(dc_.get(), TRANSPARENT);
  ::SetTextColor(dc_.get(), ToColorRef(kWindowTextColour));
  Clear();
  return true;
}

void GdiCanvas::SetFont(FontHandle font) {
  if (!dc_) return;
  fontSelection_.reset();
  font_ = std::move(font);
  if (font_) fontSelection_.emplace(dc_.get(), font_.get());
}

void GdiCanvas::Clear() {
  if (!dc_) return;
  RECT all{0, 0, width_, height_};
  ::FillRect(dc_.get(), &all, ::GetSysColorBrush(COLOR_WINDOW));
}

void GdiCanvas::Refresh() {
  if (view_ != nullptr) ::InvalidateRect(view_, nullptr, FALSE);
}

void GdiCanvas::SetForeColour(Colour colour) {
  if (dc_) ::SetTextColor(dc_.get(), ToColorRefOn(colour, COLOR_WINDOW, kTextContrast));
}

SIZE GdiCanvas::TextExtent(const std::string& text) {
  SIZE size{0, 0};
  const std::string ansi = codePage_.ToAnsi(text);
  if (dc_) ::GetTextExtentPoint32A(dc_.get(), ansi.data(), static_cast<int>(ansi.size()), &size);
  return size;
}

int GdiCanvas::TextWidth(const std::string& text) { return TextExtent(text).cx; }
int GdiCanvas::TextHeight(const std::string& text) { return TextExtent(text).cy; }

GdiObject GdiCanvas::Keep(HGDIOBJ object) {
  if (object == nullptr) return 0;
  const auto id = reinterpret_cast<GdiObject>(object);
  objects_.emplace_back(id, AnyGdiHandle(object));
  return id;
}

GdiObject GdiCanvas::CreatePen(int style, int width, Colour colour) {
  return Keep(::CreatePen(style, width, ToColorRefOn(colour, COLOR_WINDOW, kLineContrast)));
}

GdiObject GdiCanvas::CreateSolidBrush(Colour colour) {
  return Keep(::CreateSolidBrush(ToColorRefOn(colour, COLOR_WINDOW, kLineContrast)));
}

GdiObject GdiCanvas::SelectObject(GdiObject object) {
  if (!dc_ || object == 0) return 0;
  return reinterpret_cast<GdiObject>(::SelectObject(dc_.get(), reinterpret_cast<HGDIOBJ>(object)));
}

bool GdiCanvas::DeleteObject(GdiObject object) {
  auto it = std::find_if(objects_.begin(), objects_.end(),
                         [object](const auto& kept) { return kept.first == object; });
  if (it == objects_.end()) return false;
  // GDI refuses to delete an object that is still selected; so do we, rather
  // than leave the DC holding a dead handle.
  HGDIOBJ handle = it->second.get();
  if (dc_ && ::GetCurrentObject(dc_.get(), ::GetObjectType(handle)) == handle) return false;
  objects_.erase(it);
  return true;
}

bool GdiCanvas::Polyline(const Point* points, int count) {
  if (!dc_ || points == nullptr || count < 2) return false;
  return ::Polyline(dc_.get(), reinterpret_cast<const POINT*>(points), count) != FALSE;
}

bool GdiCanvas::Polygon(const Point* points, int count) {
  if (!dc_ || points == nullptr || count < 2) return false;
  return ::Polygon(dc_.get(), reinterpret_cast<const POINT*>(points), count) != FALSE;
}

bool GdiCanvas::TextOutA(int x, int y, const char* text, int length) {
  if (!dc_ || text == nullptr || length < 0) return false;
  return ::TextOutA(dc_.get(), x, y, text, length) != FALSE;
}

HWND GraphView::Create(HINSTANCE instance, HWND parent, DWORD style, const RECT& rect) {
  if (!Register(instance, 0, nullptr)) return nullptr;
  return CreateAs(WS_EX_CLIENTEDGE, L"", style, rect.left, rect.top, rect.right - rect.left,
                  rect.bottom - rect.top, parent, instance);
}

LRESULT GraphView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the image covers the whole client area
    default:
      return Default(message, wParam, lParam);
  }
}

void GraphView::OnPaint() {
  PaintScope paint(hwnd_);
  RECT client;
  ::GetClientRect(hwnd_, &client);
  const int w = canvas_.Width();
  const int h = canvas_.Height();
  if (client.right == w && client.bottom == h) {
    ::BitBlt(paint.Dc(), 0, 0, w, h, canvas_.Dc(), 0, 0, SRCCOPY);
  } else {
    ::SetStretchBltMode(paint.Dc(), HALFTONE);
    ::StretchBlt(paint.Dc(), 0, 0, client.right, client.bottom, canvas_.Dc(), 0, 0, w, h, SRCCOPY);
  }
}

}  // namespace quorrel::win32
