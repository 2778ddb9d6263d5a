#pragma once
// The graph area's persistent image: a memory DC holding a DIB section the
// size of the area, drawn into through the canvas port and copied to the
// screen by the graph view.
#include <windows.h>

#include <optional>
#include <utility>
#include <vector>

#include "platform/canvas.h"
#include "platform/files.h"
#include "platform/win32/face/handles.h"
#include "platform/win32/face/window_class.h"
#include "window/controls.h"

namespace quorrel::win32 {

// A colour word as GDI takes it; system-colour references (0x800000nn) are
// looked up in the current scheme.
COLORREF ToColorRef(Colour colour);
// A colour the model fixes, toned to stand out by `minRatio` from the system
// colour `background` (COLOR_WINDOW, COLOR_BTNFACE) as it is now; system
// colours as ToColorRef.
COLORREF ToColorRefOn(Colour colour, int background, double minRatio);

class GdiCanvas : public Canvas {
 public:
  explicit GdiCanvas(CodePage& codePage) : codePage_(codePage) {}

  // Makes the image width x height pixels and clears it; false when GDI refuses.
  bool Create(int width, int height);
  // The font labels are written and measured in. It stays with the image
  // when the window changes DPI, as the image keeps its size then too.
  void SetFont(FontHandle font);
  // The window whose client area shows the image.
  void SetView(HWND view) { view_ = view; }
  HDC Dc() const { return dc_.get(); }

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

 private:
  SIZE TextExtent(const std::string& text);
  GdiObject Keep(HGDIOBJ object);

  CodePage& codePage_;
  HWND view_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  // Pens and brushes the graph asked for, until it deletes them; declared
  // first so that they go after the DC that may still hold one.
  std::vector<std::pair<GdiObject, AnyGdiHandle>> objects_;
  FontHandle font_;
  BitmapHandle bitmap_;
  MemoryDcHandle dc_;
  std::optional<SelectGuard> bitmapSelection_;
  std::optional<SelectGuard> fontSelection_;
};

// The graph area on the window: shows the canvas image, stretched when the
// area has been re-laid out for another DPI since the image was made.
class GraphView : public WindowClass<GraphView> {
 public:
  static constexpr const wchar_t* kClassName = L"QuorrelGraph";

  explicit GraphView(GdiCanvas& canvas) : canvas_(canvas) {}
  HWND Create(HINSTANCE instance, HWND parent, DWORD style, const RECT& rect);

 private:
  friend class WindowClass<GraphView>;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnPaint();

  GdiCanvas& canvas_;
};

}  // namespace quorrel::win32
