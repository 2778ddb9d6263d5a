#include "platform/win32/face/state_icons.h"

#include <cstdint>

namespace quorrel::win32 {

IconHandle MakeIcon(const IconImage& image) {
  const int n = image.size;
  if (n <= 0 || image.argb.size() != static_cast<std::size_t>(n) * n) return nullptr;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = n;
  info.bmiHeader.biHeight = -n;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  BitmapHandle colour(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!colour) return nullptr;

  // Monochrome bitmap rows are padded to 16 bits; 1 in the mask lets the
  // screen show through.
  const int maskStride = ((n + 15) / 16) * 2;
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(maskStride) * n, 0);
  auto* out = static_cast<std::uint32_t*>(bits);
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * n + x;
      // Icons take straight alpha in the same 0xAARRGGBB order as the image.
      out[i] = image.argb[i];
      if ((image.argb[i] >> 24) == 0) {
        out[i] = 0;  // black and transparent, whichever way the icon is drawn
        mask[static_cast<std::size_t>(y) * maskStride + x / 8] |=
            static_cast<std::uint8_t>(0x80 >> (x % 8));
      }
    }
  }
  BitmapHandle monochrome(::CreateBitmap(n, n, 1, 1, mask.data()));
  if (!monochrome) return nullptr;

  ICONINFO icon{};
  icon.fIcon = TRUE;
  icon.hbmMask = monochrome.get();
  icon.hbmColor = colour.get();
  // The icon takes copies of both bitmaps; ours go when this returns.
  return IconHandle(::CreateIconIndirect(&icon));
}

HICON StateIcons::Get(std::string_view key, int size) {
  int index = IconIndex(key);
  if (index <= 0) index = IconIndex("grey");
  for (const Made& m : made_)
    if (m.index == index && m.size == size) return m.icon.get();
  IconHandle icon = MakeIcon(StateIconAt(kIconKeys[static_cast<std::size_t>(index) - 1], size));
  HICON handle = icon.get();
  if (handle != nullptr) made_.push_back(Made{index, size, std::move(icon)});
  return handle;
}

}  // namespace quorrel::win32
