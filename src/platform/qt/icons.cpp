#include "platform/qt/icons.h"

#include "window/state_pictures.h"

namespace quorrel::qt {

QImage StateImage(std::string_view key) {
  const Picture& pic = StatePicture(key);
  QImage image(pic.width, pic.height, QImage::Format_ARGB32);
  for (int y = 0; y < pic.height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < pic.width; ++x) {
      Colour c = pic.pixels[static_cast<std::size_t>(y) * pic.width + x];
      line[x] = c == kMaskColour ? qRgba(0, 0, 0, 0)
                                 : qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
    }
  }
  return image;
}

QIcon StateIcon(std::string_view key) { return QIcon(QPixmap::fromImage(StateImage(key))); }

}  // namespace quorrel::qt
