// The three state pictures: same symbol, the documented colours, a clear mask.
#include "window/state_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

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
  for (int size : {48}) {
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

namespace {

// The sizes trays and title bars ask for: the freedesktop themes' 16, 22,
// 24, 32 and Windows' 16 px at 100 to 250 % scaling.
constexpr int kTraySizes[] = {16, 20, 22, 24, 32, 40};

std::uint32_t PixelAt(const IconImage& icon, int x, int y) {
  return icon.argb[static_cast<std::size_t>(y) * icon.size + x];
}

int Distance(std::uint32_t rgb, std::uint32_t tone) {
  const int dr = Red(rgb) - Red(tone), dg = Green(rgb) - Green(tone), db = Blue(rgb) - Blue(tone);
  return dr * dr + dg * dg + db * db;
}

enum class Part { kNone, kArc, kDisc, kOutline };

// What a pixel shows: nothing when mostly transparent, else the tone its
// colour lies nearest to (a blended edge counts as what covers most of it).
// The grey picture's arcs and disc share one tone, told apart by position.
Part PartAt(const IconImage& icon, int x, int y, const SmallIconTones& t) {
  if (x < 0 || y < 0 || x >= icon.size || y >= icon.size) return Part::kNone;
  const std::uint32_t p = PixelAt(icon, x, y);
  if (Alpha(p) < 128) return Part::kNone;
  const int arc = Distance(p, t.arc), disc = Distance(p, t.disc), outline = Distance(p, t.outline);
  if (outline < arc && outline < disc) return Part::kOutline;
  return arc <= disc ? Part::kArc : Part::kDisc;
}

bool IsFill(Part p) { return p == Part::kArc || p == Part::kDisc; }

// Runs of fill down the centre column, top first: three arcs, then the disc.
std::vector<std::pair<int, int>> CentreRuns(const IconImage& icon, const SmallIconTones& t) {
  std::vector<std::pair<int, int>> runs;  // first row, length
  const int column = icon.size / 2 - 1 + icon.size % 2;
  for (int y = 0; y < icon.size; ++y) {
    if (!IsFill(PartAt(icon, column, y, t))) continue;
    if (runs.empty() || runs.back().first + runs.back().second != y) runs.push_back({y, 0});
    ++runs.back().second;
  }
  return runs;
}

double Luminance(std::uint32_t rgb) {
  auto linear = [](int c) {
    const double v = c / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(Red(rgb)) + 0.7152 * linear(Green(rgb)) + 0.0722 * linear(Blue(rgb));
}

double Contrast(std::uint32_t a, std::uint32_t b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

std::uint32_t Over(std::uint32_t argb, std::uint32_t background) {
  const double a = Alpha(argb) / 255.0;
  auto mix = [&](int c, int b) {
    return static_cast<std::uint32_t>(std::lround(c * a + b * (1 - a)));
  };
  return mix(Red(argb), Red(background)) << 16 | mix(Green(argb), Green(background)) << 8 |
         mix(Blue(argb), Blue(background));
}

// The symbol's silhouette: shown pixels with a mostly transparent (or no)
// neighbour beside, above or below them.
bool OnSilhouette(const IconImage& icon, int x, int y) {
  auto shown = [&](int px, int py) {
    return px >= 0 && py >= 0 && px < icon.size && py < icon.size &&
           Alpha(PixelAt(icon, px, py)) >= 128;
  };
  return shown(x, y) &&
         (!shown(x - 1, y) || !shown(x + 1, y) || !shown(x, y - 1) || !shown(x, y + 1));
}

}  // namespace

TEST(SmallStateIcons, DiscFillsAThirdOfTheWidth) {
  for (std::string_view key : kIconKeys) {
    const SmallIconTones tones = SmallTonesOf(key);
    for (int size : kTraySizes) {
      SCOPED_TRACE(std::string(key) + " at " + std::to_string(size));
      const IconImage icon = StateIconAt(key, size);
      const auto runs = CentreRuns(icon, tones);
      ASSERT_EQ(runs.size(), 4u);
      // Across the middle row of the disc's run down the centre column.
      const int row = runs[3].first + runs[3].second / 2;
      // The arcs end above this row, so its run of fill is the disc's.
      int widest = 0, run = 0;
      for (int x = 0; x < size; ++x) {
        run = IsFill(PartAt(icon, x, row, tones)) ? run + 1 : 0;
        widest = std::max(widest, run);
      }
      EXPECT_GE(widest * 3, size);
      EXPECT_GE(runs[3].second + 1, widest) << "the disc is round, not a bar";
      // The disc is the state's colour at its heart.
      EXPECT_LT(Distance(PixelAt(icon, size / 2, row), tones.disc), 30);
    }
  }
}

TEST(SmallStateIcons, ThreeArcsEachAtLeastTwoPixelsThick) {
  for (std::string_view key : kIconKeys) {
    const SmallIconTones tones = SmallTonesOf(key);
    for (int size : kTraySizes) {
      SCOPED_TRACE(std::string(key) + " at " + std::to_string(size));
      const IconImage icon = StateIconAt(key, size);
      const auto runs = CentreRuns(icon, tones);
      ASSERT_EQ(runs.size(), 4u);
      for (int i = 0; i < 3; ++i) {
        EXPECT_GE(runs[static_cast<std::size_t>(i)].second, 2) << "arc " << i;
        if (tones.arc != tones.disc) {
          EXPECT_EQ(PartAt(icon, size / 2, runs[static_cast<std::size_t>(i)].first, tones),
                    Part::kArc)
              << "arc " << i;
        }
      }
      // The arcs fan out: the outer arc is wider than the disc beneath.
      int arcLeft = size, discLeft = size;
      for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
          const Part p = PartAt(icon, x, y, tones);
          if (y < runs[1].first && IsFill(p)) arcLeft = std::min(arcLeft, x);
          if (y >= runs[3].first && IsFill(p)) discLeft = std::min(discLeft, x);
        }
      EXPECT_LT(arcLeft + size / 6, discLeft);
    }
  }
}

TEST(SmallStateIcons, AnOutlineRingsTheSymbol) {
  for (std::string_view key : kIconKeys) {
    const SmallIconTones tones = SmallTonesOf(key);
    for (int size : kTraySizes) {
      SCOPED_TRACE(std::string(key) + " at " + std::to_string(size));
      const IconImage icon = StateIconAt(key, size);
      int ring = 0;
      for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
          const Part p = PartAt(icon, x, y, tones);
          if (OnSilhouette(icon, x, y)) {
            EXPECT_EQ(p, Part::kOutline) << x << "," << y;
            ++ring;
          }
          // No fill pixel has the surround beside, above or below it.
          if (IsFill(p)) {
            for (auto [nx, ny] : {std::pair{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}})
              EXPECT_NE(PartAt(icon, nx, ny, tones), Part::kNone) << x << "," << y;
          }
        }
      EXPECT_GT(ring, 2 * size);
      // Anti-aliased, with the surround kept clear and straight alpha: the
      // partly covered pixels keep the outline's colour, not darkened by
      // their own transparency.
      int partial = 0;
      for (std::uint32_t p : icon.argb)
        if (Alpha(p) > 0 && Alpha(p) < 128) {
          ++partial;
          EXPECT_LT(Distance(p, tones.outline), 30);
        }
      EXPECT_GT(partial, size);
      EXPECT_EQ(Alpha(icon.argb.front()), 0u);
      EXPECT_EQ(Alpha(PixelAt(icon, size - 1, 0)), 0u);
    }
  }
}

TEST(SmallStateIcons, StandOnBlackAndOnWhitePanels) {
  for (std::string_view key : kIconKeys) {
    for (int size : kTraySizes) {
      const IconImage icon = StateIconAt(key, size);
      for (std::uint32_t panel : {0x000000u, 0xFFFFFFu}) {
        SCOPED_TRACE(std::string(key) + " at " + std::to_string(size) + " on " +
                     (panel ? "white" : "black"));
        // Where the symbol meets the panel, its edge pixel or one within 2 px
        // of it stands out from the panel: the outline is 1 px, and its inner
        // edge shares an anti-aliased pixel with the fill.
        int weak = 0;
        for (int y = 0; y < size; ++y)
          for (int x = 0; x < size; ++x) {
            if (!OnSilhouette(icon, x, y)) continue;
            double best = 0;
            for (int ny = std::max(0, y - 2); ny <= std::min(size - 1, y + 2); ++ny)
              for (int nx = std::max(0, x - 2); nx <= std::min(size - 1, x + 2); ++nx)
                if (Alpha(PixelAt(icon, nx, ny)) >= 128)
                  best = std::max(best, Contrast(Over(PixelAt(icon, nx, ny), panel), panel));
            if (best < 3.0) ++weak;
          }
        EXPECT_EQ(weak, 0);
      }
    }
  }
  // Off, the grey picture's arcs and disc themselves read on either panel.
  for (int size : kTraySizes) {
    const SmallIconTones tones = SmallTonesOf("grey");
    const IconImage icon = StateIconAt("grey", size);
    int fill = 0;
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        // The fill itself, not its blend with the outline.
        if (Alpha(PixelAt(icon, x, y)) < 255 || Distance(PixelAt(icon, x, y), tones.disc) > 12)
          continue;
        ++fill;
        EXPECT_GE(Contrast(PixelAt(icon, x, y), 0x000000), 3.0) << size;
        EXPECT_GE(Contrast(PixelAt(icon, x, y), 0xFFFFFF), 3.0) << size;
      }
    EXPECT_GT(fill, size * size / 10) << size;
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
