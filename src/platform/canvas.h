#pragma once
// Drawing into the graph area's persistent image (gdi32 on Windows).
#include <cstdint>
#include <string>

namespace quorrel {

using Colour = std::uint32_t;  // 0x00BBGGRR
using GdiObject = std::uintptr_t;  // 0 = none

struct Point {
  std::int32_t x = 0;
  std::int32_t y = 0;
};
static_assert(sizeof(Point) == 8, "points go to Polyline unchanged");

inline constexpr int kPsSolid = 0;

class Canvas {
 public:
  virtual ~Canvas() = default;
  // Inner size in pixels.
  virtual int Width() = 0;
  virtual int Height() = 0;
  // Resets the persistent image to the background colour.
  virtual void Clear() = 0;
  // Copies the image to the screen.
  virtual void Refresh() = 0;
  virtual void SetForeColour(Colour colour) = 0;
  virtual int TextWidth(const std::string& text) = 0;
  virtual int TextHeight(const std::string& text) = 0;
  virtual GdiObject CreatePen(int style, int width, Colour colour) = 0;
  virtual GdiObject CreateSolidBrush(Colour colour) = 0;
  // Returns the object of the same kind that was selected before.
  virtual GdiObject SelectObject(GdiObject object) = 0;
  virtual bool DeleteObject(GdiObject object) = 0;
  virtual bool Polyline(const Point* points, int count) = 0;
  virtual bool Polygon(const Point* points, int count) = 0;
  // `text` in the ANSI code page, `length` its length in characters.
  virtual bool TextOutA(int x, int y, const char* text, int length) = 0;
};

}  // namespace quorrel
