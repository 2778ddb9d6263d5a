// Writes the application icon for the desktop's icon theme: the grey state
// picture, the one the window shows while it is not monitoring, as
// <folder>/<n>x<n>/apps/quorrel.png for each size n given. Runs on the build
// machine, so installs show the same pixels the program draws.
#include <QImage>
#include <QString>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "window/state_pictures.h"

namespace {

bool WriteIcon(const std::filesystem::path& folder, int size) {
  const quorrel::IconImage icon = quorrel::StateIconAt("grey", size);
  if (icon.size != size || icon.argb.size() != static_cast<std::size_t>(size) * size) {
    std::fprintf(stderr, "make_icons: no %dx%d picture\n", size, size);
    return false;
  }
  // QImage's ARGB32 is the same straight 0xAARRGGBB word per pixel.
  QImage image(size, size, QImage::Format_ARGB32);
  for (int y = 0; y < size; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < size; ++x) row[x] = icon.argb[static_cast<std::size_t>(y) * size + x];
  }
  const std::string name = std::to_string(size) + "x" + std::to_string(size);
  const std::filesystem::path dir = folder / name / "apps";
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  const std::filesystem::path file = dir / "quorrel.png";
  if (error || !image.save(QString::fromStdString(file.string()), "PNG")) {
    std::fprintf(stderr, "make_icons: cannot write %s\n", file.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FOLDER SIZE...\n", argv[0]);
    return 2;
  }
  for (int i = 2; i < argc; ++i) {
    const char* text = argv[i];
    const char* end = text + std::strlen(text);
    int size = 0;
    const auto [stop, error] = std::from_chars(text, end, size);
    if (error != std::errc() || stop != end || size < quorrel::kMinIconSize ||
        size > quorrel::kMaxIconSize) {
      std::fprintf(stderr, "make_icons: bad size %s\n", argv[i]);
      return 2;
    }
    if (!WriteIcon(argv[1], size)) return 1;
  }
  return 0;
}
