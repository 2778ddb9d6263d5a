// The three state pictures: same symbol, the documented colours, a clear mask.
#include "window/state_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>

namespace quorrel {
namespace {

constexpr Colour Rgb(int r, int g, int b) {
  return static_cast<Colour>(r) | (static_cast<Colour>(g) << 8) | (static_cast<Colour>(b) << 16);
}

std::map<Colour, int> Histogram(const Picture& p) {
  std::map<Colour, int> h;
  for (Colour c : p.pixels) ++h[c];
  return h;
}

}  // namespace

TEST(StatePictures, ShareOneShapeAndDifferOnlyInColour) {
  const Picture& green = StatePicture("green");
  const Picture& red = StatePicture("red");
  const Picture& grey = StatePicture("grey");
  for (const Picture* p : {&green, &red, &grey}) {
    ASSERT_EQ(p->width, 64);
    ASSERT_EQ(p->height, 64);
    ASSERT_EQ(p->pixels.size(), 64u * 64u);
  }
  int drawn = 0;
  for (std::size_t i = 0; i < green.pixels.size(); ++i) {
    bool g = green.pixels[i] != kMaskColour;
    ASSERT_EQ(g, red.pixels[i] != kMaskColour) << i;
    ASSERT_EQ(g, grey.pixels[i] != kMaskColour) << i;
    if (g) {
      ++drawn;
      // The symbol stays in the upper two thirds of the square.
      EXPECT_LT(static_cast<int>(i / 64), 43) << i;
    }
  }
  EXPECT_GT(drawn, 400);
  // The corners are transparent.
  EXPECT_EQ(green.pixels.front(), kMaskColour);
  EXPECT_EQ(green.pixels.back(), kMaskColour);
}

TEST(StatePictures, CarryTheirStateColours) {
  // The disc's centre, and a point on the middle arc straight above it.
  auto at = [](const Picture& p, int x, int y) { return p.pixels[y * 64 + x]; };
  EXPECT_EQ(at(StatePicture("green"), 31, 36), Rgb(0, 231, 0));
  EXPECT_EQ(at(StatePicture("red"), 31, 36), Rgb(222, 0, 0));
  EXPECT_EQ(at(StatePicture("grey"), 31, 36), Rgb(66, 156, 140));
  EXPECT_EQ(at(StatePicture("green"), 31, 18), Rgb(82, 0, 173));
  EXPECT_EQ(at(StatePicture("red"), 31, 18), Rgb(82, 0, 173));
  EXPECT_EQ(at(StatePicture("grey"), 31, 18), Rgb(66, 156, 140));
  // The highlights are there but stay a minority.
  auto h = Histogram(StatePicture("green"));
  EXPECT_GT(h[Rgb(156, 99, 222)], 0);
  EXPECT_GT(h[Rgb(82, 0, 173)], h[Rgb(156, 99, 222)]);
}

TEST(StatePictures, KeysFollowTheImageList) {
  EXPECT_EQ(IconIndex("green"), 1);
  EXPECT_EQ(IconIndex("red"), 2);
  EXPECT_EQ(IconIndex("grey"), 3);
  EXPECT_EQ(IconIndex("blue"), 0);
  EXPECT_EQ(&StatePicture("unknown"), &StatePicture("grey"));
}

namespace {

std::uint32_t Alpha(std::uint32_t argb) { return argb >> 24; }
int Red(std::uint32_t argb) { return static_cast<int>((argb >> 16) & 0xFF); }
int Green(std::uint32_t argb) { return static_cast<int>((argb >> 8) & 0xFF); }
int Blue(std::uint32_t argb) { return static_cast<int>(argb & 0xFF); }

double Coverage(const IconImage& icon) {
  double sum = 0;
  for (std::uint32_t p : icon.argb) sum += Alpha(p) / 255.0;
  return sum / (static_cast<double>(icon.size) * icon.size);
}

}  // namespace

TEST(StateIconAt, SixtyFourIsThePictureItselfWithTheMaskTransparent) {
  const IconImage icon = StateIconAt("red", 64);
  const Picture& pic = StatePicture("red");
  ASSERT_EQ(icon.size, 64);
  ASSERT_EQ(icon.argb.size(), pic.pixels.size());
  for (std::size_t i = 0; i < pic.pixels.size(); ++i) {
    const Colour c = pic.pixels[i];
    if (c == kMaskColour) {
      ASSERT_EQ(Alpha(icon.argb[i]), 0u) << i;
    } else {
      ASSERT_EQ(icon.argb[i], 0xFF000000u | (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF))
          << i;
    }
  }
}

TEST(StateIconAt, TraySizesKeepARecognisableSymbolAndTransparency) {
  const double full = Coverage(StateIconAt("green", 64));
  for (int size : {16, 20, 22, 24, 32, 48}) {
    const IconImage icon = StateIconAt("green", size);
    ASSERT_EQ(icon.argb.size(), static_cast<std::size_t>(size) * size);
    // Area averaging keeps the drawn share of the square.
    EXPECT_NEAR(Coverage(icon), full, 0.01) << size;
    // Corners and the lower third stay clear.
    EXPECT_EQ(Alpha(icon.argb.front()), 0u) << size;
    EXPECT_EQ(Alpha(icon.argb.back()), 0u) << size;
    EXPECT_EQ(Alpha(icon.argb[static_cast<std::size_t>(size - 2) * size + size / 2]), 0u) << size;
    // The disc is still solid green at its centre.
    const std::uint32_t disc =
        icon.argb[static_cast<std::size_t>(36 * size / 64) * size + size / 2];
    EXPECT_EQ(Alpha(disc), 255u) << size;
    EXPECT_GT(Green(disc), 150) << size;
    EXPECT_LT(Red(disc), 90) << size;
    // Straight up from the disc the three arcs remain three: the opacity
    // rises and falls three times, each dip well below the arc before it
    // (no smear into one band, no arc broken away).
    int peaks = 0;
    std::uint32_t runMax = 0;
    const int column = size / 2 - 1;  // the left one of the two middle columns
    for (int y = static_cast<int>(31.5 * size / 64); y >= 0; --y) {
      const std::uint32_t a = Alpha(icon.argb[static_cast<std::size_t>(y) * size + column]);
      if (runMax == 0 && a >= 150) {
        ++peaks;
        runMax = a;
      } else if (runMax != 0) {
        runMax = std::max(runMax, a);
        if (a * 10 <= runMax * 6) runMax = 0;
      }
    }
    EXPECT_EQ(peaks, 3) << size;
    // Edges are blended, not cut: some pixels are partly transparent.
    int partial = 0;
    for (std::uint32_t p : icon.argb) partial += Alpha(p) > 0 && Alpha(p) < 255;
    EXPECT_GT(partial, size) << size;
    // The arcs' colour survives blending with the transparent surround: no
    // pixel darkens towards black.
    for (std::uint32_t p : icon.argb) {
      if (Alpha(p) > 0) {
        EXPECT_GT(Red(p) + Green(p) + Blue(p), 150) << size;
      }
    }
  }
}

TEST(StateIconAt, EnlargesSmoothlyAndClampsTheSize) {
  const IconImage big = StateIconAt("grey", 256);
  ASSERT_EQ(big.argb.size(), 256u * 256u);
  EXPECT_EQ(Alpha(big.argb.front()), 0u);
  EXPECT_EQ(Alpha(big.argb[146u * 256 + 128]), 255u);  // the disc
  // Smooth: neighbouring pixels change opacity in steps, not from 0 to 255.
  int hardSteps = 0;
  for (int y = 0; y < 256; ++y)
    for (int x = 1; x < 256; ++x) {
      const int a = static_cast<int>(Alpha(big.argb[static_cast<std::size_t>(y) * 256 + x]));
      const int b = static_cast<int>(Alpha(big.argb[static_cast<std::size_t>(y) * 256 + x - 1]));
      if (std::abs(a - b) > 128) ++hardSteps;
    }
  EXPECT_EQ(hardSteps, 0);
  EXPECT_EQ(StateIconAt("grey", 0).size, 1);
  EXPECT_EQ(StateIconAt("grey", 1000).size, 256);
  EXPECT_EQ(StateIconAt("grey", 1).argb.size(), 1u);
  EXPECT_EQ(StateIconAt("nonsense", 16).argb, StateIconAt("grey", 16).argb);
}

}  // namespace quorrel
