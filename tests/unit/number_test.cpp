// Lenient number reading, rounding and the grouped formats.
#include "common/number.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>

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

// The user's locale, as a desktop program runs under it (Qt sets LC_ALL from
// the environment), for the length of one test.
class UserLocale {
 public:
  explicit UserLocale(std::initializer_list<const char*> names) {
    for (const char* name : names)
      if (std::setlocale(LC_ALL, name) != nullptr) {
        name_ = name;
        break;
      }
  }
  ~UserLocale() { std::setlocale(LC_ALL, "C"); }
  const char* Name() const { return name_; }

 private:
  const char* name_ = nullptr;
};

// Everything the lenient reader promises, checked under one locale.
void ExpectLocaleFreeReading() {
  EXPECT_EQ(Val("3.5"), 3.5);
  EXPECT_EQ(Val("-0.25"), -0.25);
  EXPECT_EQ(Val("3,5"), 3);
  EXPECT_EQ(Val("1 2.5e1"), 125);
  EXPECT_EQ(Val("5.E2"), 500);
  EXPECT_EQ(Val(".5"), 0.5);
  EXPECT_EQ(Val("0.1"), 0.1);  // correctly rounded, as the literal is
  EXPECT_EQ(Val("123456789012345678901234567890"), 123456789012345678901234567890.0);
  EXPECT_EQ(IntervalFromText("3.5"), 4);
  EXPECT_EQ(IntervalFromText("2.5"), 2);
  EXPECT_EQ(IntervalFromText("1.5"), 2);
  EXPECT_EQ(CheckBoxValueFromText("1.5"), 2);  // greyed, not set
  EXPECT_EQ(CheckBoxValueFromText("0.6"), 1);
  EXPECT_EQ(CheckBoxValueFromText("1,5"), 1);
  EXPECT_EQ(Val("&H1F"), 31);
  EXPECT_EQ(Val("&o777"), 511);
  EXPECT_TRUE(std::isinf(Val("1e1000")));
  EXPECT_GT(Val("1e1000"), 0);
  EXPECT_EQ(Val("1D-1000"), 0);
}

TEST(Val, ReadsDecimalPointsAsPointsUnderTheCLocale) {
  UserLocale c({"C"});
  ExpectLocaleFreeReading();
}

TEST(Val, ReadsDecimalPointsAsPointsUnderAGermanLocale) {
  // de_DE writes 3,5: a reader that follows LC_NUMERIC would read "3.5" as 3.
#ifdef _WIN32
  UserLocale german({"de-DE", "German_Germany.1252", "deu"});
  if (german.Name() == nullptr) GTEST_SKIP() << "this Windows has no German locale";
#else
  UserLocale german({"de_DE.UTF-8", "de_DE.utf8"});
  ASSERT_NE(german.Name(), nullptr)
      << "de_DE.UTF-8 is not generated here; tests/unit/ensure-locales makes it";
#endif
  ASSERT_STREQ(std::localeconv()->decimal_point, ",") << german.Name();
  ExpectLocaleFreeReading();
}

TEST(Val, ReadsEveryDigitOfALongExponent) {
  EXPECT_EQ(Val("2.5e0001"), 25);
  EXPECT_EQ(Val("1E0300"), 1e300);
  EXPECT_EQ(Val("1e-0300"), 1e-300);
  EXPECT_TRUE(std::isinf(Val("1e0000001000")));  // leading zeros do not cut the exponent short
  EXPECT_EQ(Val("1e-0000001000"), 0);
  EXPECT_TRUE(std::isinf(Val("-1D1000")));
  EXPECT_LT(Val("-1D1000"), 0);
  EXPECT_TRUE(std::isinf(Val("1e99999999999999999999999")));
  EXPECT_EQ(Val("1e-99999999999999999999999"), 0);
  // A four-digit exponent that the mantissa's digits bring back into range.
  EXPECT_EQ(Val("0." + std::string(1000, '0') + "1e1005"), 10000);
  EXPECT_EQ(Val("1" + std::string(999, '0') + "e-1000"), 0.1);
  EXPECT_EQ(Val("1" + std::string(1200, '0') + "D-1190"), 1e10);
  EXPECT_TRUE(std::isinf(Val("1" + std::string(400, '0'))));
  EXPECT_EQ(IntervalFromText("1e1000"), kMaxPingInterval);
  EXPECT_EQ(IntervalFromText("-1e1000"), -32768);
  EXPECT_EQ(CheckBoxValueFromText("1e1000"), 0);
  EXPECT_EQ(CheckBoxValueFromText("2000e-0003"), 2);
}

TEST(Val, GivesTheNearestDoubleWithTiesToEven) {
  // Halfway between two doubles, and a hair either side of it.
  EXPECT_EQ(Val("9007199254740993"), 0x1p53);
  EXPECT_EQ(Val("9007199254740995"), 0x1p53 + 4);
  EXPECT_EQ(Val("9007199254740993." + std::string(900, '0') + "1"), 0x1p53 + 2);
  EXPECT_EQ(Val("9007199254740992." + std::string(900, '9')), 0x1p53);
  EXPECT_EQ(Val("0.1"), 0x1.999999999999ap-4);
  EXPECT_EQ(Val("2.2250738585072011e-308"), 0x0.fffffffffffffp-1022);  // the last subnormal
  EXPECT_EQ(Val("2.2250738585072014e-308"), 0x1p-1022);
  EXPECT_EQ(Val("4.9406564584124654e-324"), 0x1p-1074);
  EXPECT_EQ(Val("2.4703282292062328e-324"), 0x1p-1074);  // just over half the least
  EXPECT_EQ(Val("2.4703282292062327e-324"), 0);
  EXPECT_EQ(Val("1.7976931348623157e308"), 0x1.fffffffffffffp1023);
  EXPECT_TRUE(std::isinf(Val("1.7976931348623159e308")));
  EXPECT_EQ(Val("-2.5"), -2.5);
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
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("a\xFF"
                                    "b")),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(std::string("x\0y", 3))), std::string("x\0y", 3));
}

}  // namespace quorrel
