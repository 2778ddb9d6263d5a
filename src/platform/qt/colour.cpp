#include "platform/qt/colour.h"

#include <QGuiApplication>
#include <QPalette>

#include "window/face_support.h"

namespace quorrel::qt {
namespace {

Colour FromQColor(const QColor& c);

// The Windows system colour indexes the program names, in the palette's words.
Colour PaletteColour(int index) {
  QPalette::ColorRole role;
  switch (index) {
    case 5:  // COLOR_WINDOW: the background of edit boxes and the graph
      role = QPalette::Base;
      break;
    case 8:  // COLOR_WINDOWTEXT
      role = QPalette::Text;
      break;
    case 15:  // COLOR_BTNFACE
      role = QPalette::Button;
      break;
    case 18:  // COLOR_BTNTEXT
      role = QPalette::ButtonText;
      break;
    default:
      role = QPalette::WindowText;
      break;
  }
  return FromQColor(QGuiApplication::palette().color(role));
}

Colour FromQColor(const QColor& c) {
  return static_cast<Colour>(c.red()) | static_cast<Colour>(c.green()) << 8 |
         static_cast<Colour>(c.blue()) << 16;
}

}  // namespace

QColor ToQColorOn(Colour colour, const QColor& background, double minRatio) {
  if ((colour & kSystemColourFlag) != 0) return ToQColor(colour);
  return ToQColor(TonedForContrast(colour, FromQColor(background), minRatio));
}

QColor ToQColor(Colour colour) {
  const Colour c = ResolveColour(colour, &PaletteColour);
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

}  // namespace quorrel::qt
