#include "platform/win32/face/state_icons.h"

#include <cstdint>
#include <vector>

namespace quorrel::win32 {

IconHandle MakeIcon(const Picture& picture) {
  const int w = picture.width;
  const int h = picture.height;
  if (w <= 0 || h <= 0 || picture.pixels.size() != static_cast<std::size_t>(w) * h) return nullptr;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  BitmapHandle colour(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!colour) return nullptr;

  // Monochrome bitmap rows are padded to 16 bits; 1 in the mask lets the
  // screen show through.
  const int maskStride = ((w + 15) / 16) * 2;
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(maskStride) * h, 0);
  auto* out = static_cast<std::uint32_t*>(bits);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * w + x;
      const Colour c = picture.pixels[i];
      if (c == kMaskColour) {
        out[i] = 0;  // black and fully transparent, whichever way the icon is drawn
        mask[static_cast<std::size_t>(y) * maskStride + x / 8] |=
            static_cast<std::uint8_t>(0x80 >> (x % 8));
      } else {
        // 0x00BBGGRR to the DIB's 0xAARRGGBB.
        out[i] = 0xFF000000u | ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
      }
    }
  }
  BitmapHandle monochrome(::CreateBitmap(w, h, 1, 1, mask.data()));
  if (!monochrome) return nullptr;

  ICONINFO icon{};
  icon.fIcon = TRUE;
  icon.hbmMask = monochrome.get();
  icon.hbmColor = colour.get();
  // The icon takes copies of both bitmaps; ours go when this returns.
  return IconHandle(::CreateIconIndirect(&icon));
}

StateIcons::StateIcons() {
  for (std::size_t i = 0; i < std::size(kIconKeys); ++i)
    icons_[i] = MakeIcon(StatePicture(kIconKeys[i]));
}

HICON StateIcons::Get(std::string_view key) const {
  const int index = IconIndex(key);
  return icons_[index > 0 ? index - 1 : IconIndex("grey") - 1].get();
}

}  // namespace quorrel::win32
