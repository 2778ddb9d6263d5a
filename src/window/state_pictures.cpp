#include "window/state_pictures.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace quorrel {
namespace {

constexpr Colour Rgb(int r, int g, int b) {
  return static_cast<Colour>(r) | (static_cast<Colour>(g) << 8) | (static_cast<Colour>(b) << 16);
}

struct Palette {
  Colour arc;
  Colour arcHighlight;
  Colour disc;
  Colour discHighlight;
};

// Three concentric arcs opening upwards above a small disc, all in the upper
// two thirds of the square; each arc and the disc carry a lighter rim on
// their upper-left side.
Picture Draw(const Palette& p) {
  Picture pic;
  pic.pixels.assign(kPictureSize * kPictureSize, kMaskColour);
  const double cx = 31.5;
  const double cy = 36.5;
  const double discRadius = 5.0;
  const double arcRadii[] = {12.0, 19.0, 26.0};
  const double arcHalfWidth = 2.2;
  const double arcHalfAngle = 50.0 * 3.14159265358979 / 180.0;
  for (int y = 0; y < kPictureSize; ++y) {
    for (int x = 0; x < kPictureSize; ++x) {
      double dx = x - cx;
      double dy = y - cy;
      double r = std::sqrt(dx * dx + dy * dy);
      Colour& px = pic.pixels[static_cast<std::size_t>(y) * kPictureSize + x];
      if (r <= discRadius) {
        px = (r >= discRadius - 1.2 && dx + dy < 0) ? p.discHighlight : p.disc;
        continue;
      }
      if (dy >= 0) continue;
      double angle = std::atan2(-dy, dx);  // 0 to pi, pi/2 straight up
      if (std::fabs(angle - 3.14159265358979 / 2) > arcHalfAngle) continue;
      for (double radius : arcRadii) {
        if (std::fabs(r - radius) <= arcHalfWidth) {
          px = (r >= radius + arcHalfWidth - 1.0) ? p.arcHighlight : p.arc;
          break;
        }
      }
    }
  }
  return pic;
}

}  // namespace

const Picture& StatePicture(std::string_view key) {
  constexpr Colour kViolet = Rgb(82, 0, 173);
  constexpr Colour kLightViolet = Rgb(156, 99, 222);
  static const Picture kGreen = Draw({kViolet, kLightViolet, Rgb(0, 231, 0), Rgb(140, 255, 140)});
  static const Picture kRed = Draw({kViolet, kLightViolet, Rgb(222, 0, 0), Rgb(255, 132, 132)});
  static const Picture kGrey =
      Draw({Rgb(66, 156, 140), Rgb(206, 189, 239), Rgb(66, 156, 140), Rgb(255, 255, 255)});
  if (key == "green") return kGreen;
  if (key == "red") return kRed;
  return kGrey;
}

namespace {

// Premultiplied channels, 0 to 1: averaging and interpolating these keeps the
// colour of a half-covered edge pixel the colour of the shape.
struct Premultiplied {
  double a = 0, r = 0, g = 0, b = 0;
  void Add(const Premultiplied& p, double weight) {
    a += p.a * weight;
    r += p.r * weight;
    g += p.g * weight;
    b += p.b * weight;
  }
};

Premultiplied At(const Picture& pic, int x, int y) {
  const Colour c = pic.pixels[static_cast<std::size_t>(y) * pic.width + x];
  if (c == kMaskColour) return {};
  return {1.0, (c & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, ((c >> 16) & 0xFF) / 255.0};
}

std::uint32_t Straight(const Premultiplied& p) {
  if (p.a <= 0.0) return 0;
  auto channel = [](double v) {
    return static_cast<std::uint32_t>(std::clamp(std::lround(v * 255.0), 0L, 255L));
  };
  return channel(p.a) << 24 | channel(p.r / p.a) << 16 | channel(p.g / p.a) << 8 |
         channel(p.b / p.a);
}

// Each target pixel is the average of the source area it covers, the pixels
// cut by its edges counted by the part that lies inside.
IconImage AreaAverage(const Picture& pic, int size) {
  IconImage out{size, std::vector<std::uint32_t>(static_cast<std::size_t>(size) * size)};
  const double scale = static_cast<double>(pic.width) / size;
  for (int ty = 0; ty < size; ++ty) {
    const double y0 = ty * scale, y1 = (ty + 1) * scale;
    for (int tx = 0; tx < size; ++tx) {
      const double x0 = tx * scale, x1 = (tx + 1) * scale;
      Premultiplied sum;
      for (int y = static_cast<int>(y0); y < pic.height && y < y1; ++y) {
        const double h = std::min<double>(y + 1, y1) - std::max<double>(y, y0);
        for (int x = static_cast<int>(x0); x < pic.width && x < x1; ++x) {
          const double w = std::min<double>(x + 1, x1) - std::max<double>(x, x0);
          sum.Add(At(pic, x, y), w * h);
        }
      }
      const double area = scale * scale;
      sum.a /= area;
      sum.r /= area;
      sum.g /= area;
      sum.b /= area;
      out.argb[static_cast<std::size_t>(ty) * size + tx] = Straight(sum);
    }
  }
  return out;
}

// Bilinear interpolation between source pixel centres; beyond the outermost
// centres the edge pixels extend.
IconImage Bilinear(const Picture& pic, int size) {
  IconImage out{size, std::vector<std::uint32_t>(static_cast<std::size_t>(size) * size)};
  const double scale = static_cast<double>(pic.width) / size;
  auto clampTo = [](double v, int n) { return std::clamp(v, 0.0, static_cast<double>(n - 1)); };
  for (int ty = 0; ty < size; ++ty) {
    const double sy = clampTo((ty + 0.5) * scale - 0.5, pic.height);
    const int y0 = static_cast<int>(sy);
    const int y1 = std::min(y0 + 1, pic.height - 1);
    const double fy = sy - y0;
    for (int tx = 0; tx < size; ++tx) {
      const double sx = clampTo((tx + 0.5) * scale - 0.5, pic.width);
      const int x0 = static_cast<int>(sx);
      const int x1 = std::min(x0 + 1, pic.width - 1);
      const double fx = sx - x0;
      Premultiplied p;
      p.Add(At(pic, x0, y0), (1 - fx) * (1 - fy));
      p.Add(At(pic, x1, y0), fx * (1 - fy));
      p.Add(At(pic, x0, y1), (1 - fx) * fy);
      p.Add(At(pic, x1, y1), fx * fy);
      out.argb[static_cast<std::size_t>(ty) * size + tx] = Straight(p);
    }
  }
  return out;
}

}  // namespace

IconImage StateIconAt(std::string_view key, int size) {
  size = std::clamp(size, kMinIconSize, kMaxIconSize);
  const Picture& pic = StatePicture(key);
  return size <= pic.width ? AreaAverage(pic, size) : Bilinear(pic, size);
}

int IconIndex(std::string_view key) {
  for (int i = 0; i < 3; ++i)
    if (kIconKeys[i] == key) return i + 1;
  return 0;
}

}  // namespace quorrel
