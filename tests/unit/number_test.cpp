// Lenient number reading, rounding and the grouped formats.
#include <gtest/gtest.h>

#include <cmath>

#include "common/number.h"
#include "common/text.h"
#include "window/form1.h"

namespace quorrel {

TEST(Val, SkipsBlanksTabsAndLineFeedsWherever) {
  EXPECT_EQ(Val("15"), 15);
  EXPECT_EQ(Val("  1 5 "), 15);
  EXPECT_EQ(Val("\t1\n2"), 12);
  EXPECT_EQ(Val("- 3"), -3);
  EXPECT_EQ(Val("+7"), 7);
  EXPECT_EQ(Val("1 2.5"), 12.5);
}

TEST(Val, StopsAtTheFirstCharacterThatDoesNotFit) {
  EXPECT_EQ(Val("12abc"), 12);
  EXPECT_EQ(Val("abc"), 0);
  EXPECT_EQ(Val(""), 0);
  EXPECT_EQ(Val("1.2.3"), 1.2);
  EXPECT_EQ(Val("3,5"), 3);  // a comma is not a decimal point here
  EXPECT_EQ(Val("\r5"), 0);  // only blanks, tabs and line feeds are skipped
  EXPECT_EQ(Val("-"), 0);
  EXPECT_EQ(Val("."), 0);
}

TEST(Val, ReadsExponentsWithEOrD) {
  EXPECT_EQ(Val("1E3"), 1000);
  EXPECT_EQ(Val("1.5d2"), 150);
  EXPECT_EQ(Val("2e-1"), 0.2);
  EXPECT_EQ(Val("5E"), 5);  // an exponent without digits is not read
  EXPECT_TRUE(std::isinf(Val("1e999999")));
}

TEST(Val, ReadsHexAndOctalAsSixteenOrThirtyTwoBits) {
  EXPECT_EQ(Val("&H10"), 16);
  EXPECT_EQ(Val("&hff"), 255);
  EXPECT_EQ(Val("&O17"), 15);
  EXPECT_EQ(Val("&HFFFF"), -1);  // 16-bit two's complement
  EXPECT_EQ(Val("&H10000"), 65536);
  EXPECT_EQ(Val("&HFFFFFFFF"), -1);
  EXPECT_EQ(Val("&O8"), 0);
  EXPECT_EQ(Val("&X1"), 0);
  EXPECT_EQ(Val("& H 1 F"), 31);
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(-3.5), -4);
  EXPECT_EQ(RoundHalfEven(2.4999), 2);
  EXPECT_EQ(RoundHalfEven(0.5), 0);
  EXPECT_EQ(RoundHalfEven(1.5), 2);
}

TEST(IntervalFromText, BoundedSoTheTickCountCannotOverflow) {
  EXPECT_EQ(IntervalFromText("15"), 15);
  EXPECT_EQ(IntervalFromText("2.5"), 2);
  EXPECT_EQ(IntervalFromText("3.5"), 4);
  EXPECT_EQ(IntervalFromText("letters"), 0);
  EXPECT_EQ(IntervalFromText("-4"), -4);
  EXPECT_EQ(IntervalFromText("32767"), kMaxPingInterval);
  EXPECT_EQ(IntervalFromText("99999999"), kMaxPingInterval);
  EXPECT_EQ(IntervalFromText("1e300"), kMaxPingInterval);
  EXPECT_EQ(IntervalFromText("-99999"), -32768);
}

TEST(CheckBoxValueFromText, KeepsZeroOneTwoAndClearsTheRest) {
  EXPECT_EQ(CheckBoxValueFromText("1"), 1);
  EXPECT_EQ(CheckBoxValueFromText("1.5"), 2);
  EXPECT_EQ(CheckBoxValueFromText("0.5"), 0);
  EXPECT_EQ(CheckBoxValueFromText(" 2 "), 2);
  EXPECT_EQ(CheckBoxValueFromText(""), 0);
  EXPECT_EQ(CheckBoxValueFromText("7"), 0);
  EXPECT_EQ(CheckBoxValueFromText("-1"), 0);
}

TEST(FormatKilobytes, RoundsAndGroups) {
  EXPECT_EQ(FormatKilobytes(1600 / 1024.0, ","), "2 KB");
  EXPECT_EQ(FormatKilobytes(700 / 1024.0, ","), "1 KB");
  EXPECT_EQ(FormatKilobytes(300 / 1024.0, ","), "0 KB");
  EXPECT_EQ(FormatKilobytes(1234567.3, ","), "1,234,567 KB");
  EXPECT_EQ(FormatKilobytes(1234567.3, "."), "1.234.567 KB");
  EXPECT_EQ(FormatKilobytes(1234567.3, ""), "1234567 KB");
  EXPECT_EQ(FormatKilobytes(-4096.0, ","), "-4,096 KB");
  EXPECT_EQ(FormatKilobytes(-0.2, ","), "0 KB");
  EXPECT_EQ(FormatKilobytes(999.5, ","), "1,000 KB");
  EXPECT_EQ(FormatKilobytes(2.5, ","), "2 KB");
}

TEST(Utf16Conversion, RoundTripsAndMendsBrokenInput) {
  const std::string text = "Grüße \xF0\x9F\x99\x82";  // includes a character outside the BMP
  std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide.size(), 8u);  // the smiley takes two code units
  EXPECT_EQ(Utf16ToUtf8(wide), text);
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("a\xFF" "b")), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(std::string("x\0y", 3))), std::string("x\0y", 3));
}

}  // namespace quorrel
