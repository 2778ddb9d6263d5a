// Writes the grey state picture as a Windows .ico file, the executable's own
// icon. Runs on the build machine, so it uses no Windows headers: the icon
// directory and bitmap header are laid out here byte by byte.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "window/state_pictures.h"

namespace {

void Put16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}

void Put32(std::string& out, std::uint32_t v) {
  Put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
  Put16(out, static_cast<std::uint16_t>(v >> 16));
}

// One 32-bit icon image: BITMAPINFOHEADER (height doubled for the mask),
// BGRA rows bottom-up, then the AND mask with rows padded to 32 bits.
std::string IconEntry(const quorrel::IconImage& image) {
  const int size = image.size;
  const int maskStride = ((size + 31) / 32) * 4;
  std::string out;
  Put32(out, 40);
  Put32(out, static_cast<std::uint32_t>(size));
  Put32(out, static_cast<std::uint32_t>(size * 2));
  Put16(out, 1);
  Put16(out, 32);
  Put32(out, 0);
  Put32(out, static_cast<std::uint32_t>(size * size * 4 + maskStride * size));
  for (int i = 0; i < 4; ++i) Put32(out, 0);
  // 0xAARRGGBB little-endian is B, G, R, A: the order the file wants.
  for (int y = size - 1; y >= 0; --y)
    for (int x = 0; x < size; ++x) Put32(out, image.argb[static_cast<std::size_t>(y) * size + x]);
  for (int y = size - 1; y >= 0; --y) {
    std::string row(static_cast<std::size_t>(maskStride), '\0');
    for (int x = 0; x < size; ++x)
      if ((image.argb[static_cast<std::size_t>(y) * size + x] >> 24) < 128)
        row[static_cast<std::size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
    out += row;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icon OUTPUT.ico\n");
    return 2;
  }
  // Explorer's sizes at 96 to 192 dpi, each drawn for its size.
  const int sizes[] = {64, 48, 32, 24, 20, 16};
  std::string directory;
  std::string images;
  Put16(directory, 0);
  Put16(directory, 1);  // icon
  Put16(directory, static_cast<std::uint16_t>(std::size(sizes)));
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(std::size(sizes));
  for (int size : sizes) {
    const std::string image = IconEntry(quorrel::StateIconAt("grey", size));
    directory += static_cast<char>(size);
    directory += static_cast<char>(size);
    directory += '\0';  // no palette
    directory += '\0';
    Put16(directory, 1);
    Put16(directory, 32);
    Put32(directory, static_cast<std::uint32_t>(image.size()));
    Put32(directory, offset);
    offset += static_cast<std::uint32_t>(image.size());
    images += image;
  }
  std::FILE* file = std::fopen(argv[1], "wb");
  if (file == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const std::string all = directory + images;
  const bool written = std::fwrite(all.data(), 1, all.size(), file) == all.size();
  return std::fclose(file) == 0 && written ? 0 : 1;
}
