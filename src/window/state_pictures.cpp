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

// The symbol laid out for one small size, in that size's pixels: the arcs
// and the disc share one centre, as in the 64 x 64 picture.
struct SmallLayout {
  double cx = 0, cy = 0;
  double discRadius = 0;
  double arcInner[3] = {}, arcOuter[3] = {};
  double halfAngle = 0;  // from straight up
};

constexpr double kPi = 3.14159265358979;
constexpr double kOutline = 1.0;

// From the top: the outline, three arcs with 1 px (2 px from 28 px on)
// of outline between them, then the disc. The arcs take whole pixels on the
// centre line so they stay crisp where the eye reads them; the disc may reach
// a little into the separator above it and the outline below, which is what
// lets three 2 px arcs and a disc of more than a third fit in 16 px.
SmallLayout LayoutFor(int size) {
  const double s = size;
  const int gap = size < 28 ? 1 : 2;
  const double discGap = gap - 0.3;
  const double bottom = 0.7;
  auto discFor = [&](int thickness) {
    return s - kOutline - bottom - 3.0 * thickness - 2.0 * gap - discGap;
  };
  int thickness = 2;
  while (discFor(thickness + 1) >= 0.38 * s) ++thickness;
  // A disc near half the width would crowd the arcs; what is left over
  // centres the symbol by whole pixels.
  const double disc = std::min(discFor(thickness), 0.42 * s);
  const double shift = std::floor((discFor(thickness) - disc) / 2);

  SmallLayout l;
  l.cx = s / 2;
  l.discRadius = disc / 2;
  l.cy = shift + kOutline + 3.0 * thickness + 2.0 * gap + discGap + l.discRadius;
  for (int i = 2; i >= 0; --i) {
    l.arcOuter[i] = l.cy - shift - kOutline - (2 - i) * (thickness + gap);
    l.arcInner[i] = l.arcOuter[i] - thickness;
  }
  // As wide as the square allows with the outline round the arc ends, up to
  // the 64 x 64 picture's 50 degrees.
  const double reach = (s / 2 - kOutline) / l.arcOuter[2];
  l.halfAngle = std::min(50.0 * kPi / 180.0, std::asin(std::min(1.0, reach)));
  return l;
}

double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
  const double vx = bx - ax, vy = by - ay;
  const double t = std::clamp(((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy), 0.0, 1.0);
  return std::hypot(px - ax - t * vx, py - ay - t * vy);
}

// Distance from (dx, dy), relative to the centre, to an arc band; 0 inside.
double ArcDistance(double dx, double dy, double inner, double outer, double halfAngle) {
  const double r = std::hypot(dx, dy);
  const double angle = std::atan2(dx, -dy);  // 0 straight up
  if (std::fabs(angle) <= halfAngle) return r < inner ? inner - r : std::max(0.0, r - outer);
  const double ux = std::copysign(std::sin(halfAngle), dx), uy = -std::cos(halfAngle);
  return SegmentDistance(dx, dy, inner * ux, inner * uy, outer * ux, outer * uy);
}

// Each pixel is the share of an 8 x 8 grid of sample points that falls on
// each shape, so every edge, the outline's outer one too, is anti-aliased by
// coverage.
IconImage DrawSmall(const SmallIconTones& tones, int size) {
  const SmallLayout l = LayoutFor(size);
  auto premultiplied = [](std::uint32_t rgb) {
    return Premultiplied{1.0, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                         (rgb & 0xFF) / 255.0};
  };
  const Premultiplied arc = premultiplied(tones.arc);
  const Premultiplied disc = premultiplied(tones.disc);
  const Premultiplied outline = premultiplied(tones.outline);
  constexpr int kGrid = 8;
  constexpr double kWeight = 1.0 / (kGrid * kGrid);
  IconImage out{size, std::vector<std::uint32_t>(static_cast<std::size_t>(size) * size)};
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      Premultiplied sum;
      for (int sy = 0; sy < kGrid; ++sy) {
        for (int sx = 0; sx < kGrid; ++sx) {
          const double dx = x + (sx + 0.5) / kGrid - l.cx;
          const double dy = y + (sy + 0.5) / kGrid - l.cy;
          double nearest = std::hypot(dx, dy) - l.discRadius;
          if (nearest <= 0) {
            sum.Add(disc, kWeight);
            continue;
          }
          for (int i = 0; i < 3 && nearest > 0; ++i)
            nearest =
                std::min(nearest, ArcDistance(dx, dy, l.arcInner[i], l.arcOuter[i], l.halfAngle));
          if (nearest <= 0) {
            sum.Add(arc, kWeight);
          } else if (nearest <= kOutline) {
            sum.Add(outline, kWeight);
          }
        }
      }
      out.argb[static_cast<std::size_t>(y) * size + x] = Straight(sum);
    }
  }
  return out;
}

}  // namespace

SmallIconTones SmallTonesOf(std::string_view key) {
  constexpr std::uint32_t kArcViolet = 0x965FF0;
  constexpr std::uint32_t kDarkViolet = 0x180830;
  if (key == "green") return {kArcViolet, 0x00E700, kDarkViolet};
  if (key == "red") return {kArcViolet, 0xFF3C3C, kDarkViolet};
  // Luminance 0.18, where the contrast against black and against white is
  // the same 4.6:1, for a picture that must read on either panel.
  return {0x328276, 0x328276, 0x0A2824};
}

IconImage StateIconAt(std::string_view key, int size) {
  size = std::clamp(size, kMinIconSize, kMaxIconSize);
  // No system asks for less than 16 px, and three 2 px arcs need that much.
  if (size >= 16 && size < kSmallIconLimit) return DrawSmall(SmallTonesOf(key), size);
  const Picture& pic = StatePicture(key);
  return size <= pic.width ? AreaAverage(pic, size) : Bilinear(pic, size);
}

int IconIndex(std::string_view key) {
  for (int i = 0; i < 3; ++i)
    if (kIconKeys[i] == key) return i + 1;
  return 0;
}

}  // namespace quorrel
