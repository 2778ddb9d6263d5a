// Writes the grey state picture as a Windows .ico file, the executable's own
// icon. Runs on the build machine, so it uses no Windows headers: the icon
// directory and bitmap header are laid out here byte by byte.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "window/state_pictures.h"

namespace {

using quorrel::Colour;
using quorrel::Picture;

struct Rgba {
  double r = 0, g = 0, b = 0, a = 0;  // colour premultiplied by alpha
};

void Put16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}

void Put32(std::string& out, std::uint32_t v) {
  Put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
  Put16(out, static_cast<std::uint16_t>(v >> 16));
}

// The picture at size x size, each target pixel the alpha-weighted mean of
// the source block it covers, so the small sizes keep the arcs' colours.
std::vector<Rgba> Scaled(const Picture& pic, int size) {
  std::vector<Rgba> out(static_cast<std::size_t>(size) * size);
  const int step = pic.width / size;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      Rgba sum;
      for (int sy = 0; sy < step; ++sy)
        for (int sx = 0; sx < step; ++sx) {
          Colour c =
              pic.pixels[static_cast<std::size_t>(y * step + sy) * pic.width + x * step + sx];
          if (c == quorrel::kMaskColour) continue;
          sum.r += c & 0xFF;
          sum.g += (c >> 8) & 0xFF;
          sum.b += (c >> 16) & 0xFF;
          sum.a += 255;
        }
      const double n = static_cast<double>(step) * step;
      out[static_cast<std::size_t>(y) * size + x] = {sum.r / n, sum.g / n, sum.b / n, sum.a / n};
    }
  return out;
}

// One 32-bit icon image: BITMAPINFOHEADER (height doubled for the mask),
// BGRA rows bottom-up, then the AND mask with rows padded to 32 bits.
std::string IconImage(const Picture& pic, int size) {
  const std::vector<Rgba> px = Scaled(pic, size);
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
  for (int y = size - 1; y >= 0; --y)
    for (int x = 0; x < size; ++x) {
      const Rgba& p = px[static_cast<std::size_t>(y) * size + x];
      auto channel = [&p](double v) {
        return static_cast<char>(p.a > 0 ? static_cast<int>(v * 255.0 / p.a + 0.5) : 0);
      };
      out += channel(p.b);
      out += channel(p.g);
      out += channel(p.r);
      out += static_cast<char>(static_cast<int>(p.a + 0.5));
    }
  for (int y = size - 1; y >= 0; --y) {
    std::string row(static_cast<std::size_t>(maskStride), '\0');
    for (int x = 0; x < size; ++x)
      if (px[static_cast<std::size_t>(y) * size + x].a < 128)
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
  const Picture& grey = quorrel::StatePicture("grey");
  const int sizes[] = {64, 32, 16};
  std::string directory;
  std::string images;
  Put16(directory, 0);
  Put16(directory, 1);  // icon
  Put16(directory, static_cast<std::uint16_t>(std::size(sizes)));
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(std::size(sizes));
  for (int size : sizes) {
    const std::string image = IconImage(grey, size);
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
