#include "window/state_pictures.h"

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

int IconIndex(std::string_view key) {
  for (int i = 0; i < 3; ++i)
    if (kIconKeys[i] == key) return i + 1;
  return 0;
}

}  // namespace quorrel
