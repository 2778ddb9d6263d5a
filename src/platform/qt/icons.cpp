#include "platform/qt/icons.h"

#include <QPixmap>
#include <cstring>

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

QImage StateImageAt(std::string_view key, int size) {
  const IconImage icon = StateIconAt(key, size);
  // Format_ARGB32 is straight 0xAARRGGBB in native words, as the pixels come.
  QImage image(icon.size, icon.size, QImage::Format_ARGB32);
  for (int y = 0; y < icon.size; ++y)
    std::memcpy(image.scanLine(y), icon.argb.data() + static_cast<std::size_t>(y) * icon.size,
                static_cast<std::size_t>(icon.size) * sizeof(std::uint32_t));
  return image;
}

QIcon StateIcon(std::string_view key) {
  QIcon icon;
  for (int size : kIconSizes)
    icon.addPixmap(QPixmap::fromImage(size == kPictureSize ? StateImage(key)
                                                           : StateImageAt(key, size)));
  return icon;
}

}  // namespace quorrel::qt
