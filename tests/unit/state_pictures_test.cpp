// The three state pictures: same symbol, the documented colours, a clear mask.
#include <gtest/gtest.h>

#include <map>

#include "window/state_pictures.h"

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

}  // namespace quorrel
