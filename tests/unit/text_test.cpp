// Byte order, UTF-8 and the locale separator rule shared by every service.
#include "common/text.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "common/bytes.h"
#include "common/utf8.h"

namespace quorrel {

TEST(Bytes, LittleAndBigEndianRoundTripWhateverTheHost) {
  std::array<std::uint8_t, 8> b{};
  WriteLe32(b.data(), 0x11223344u);
  EXPECT_EQ(b[0], 0x44);
  EXPECT_EQ(b[3], 0x11);
  EXPECT_EQ(ReadLe32(b.data()), 0x11223344u);
  EXPECT_EQ(ReadLe16(b.data() + 1), 0x2233u);
  WriteLe64(b.data(), 0x8877665544332211ull);
  EXPECT_EQ(b[7], 0x88);
  EXPECT_EQ(ReadLe64(b.data()), 0x8877665544332211ull);
  WriteBe16(b.data(), 0xABCD);
  EXPECT_EQ(b[0], 0xAB);
  EXPECT_EQ(ReadBe16(b.data()), 0xABCDu);
  WriteBe32(b.data(), 0x01020304u);
  EXPECT_EQ(ReadBe32(b.data()), 0x01020304u);
  EXPECT_EQ(ReadLe32(b.data()), 0x04030201u);
  // std::byte buffers read the same; high bits do not sign-extend.
  std::array<std::byte, 4> s{std::byte{0xFF}, std::byte{0xFE}, std::byte{0x80}, std::byte{0x90}};
  EXPECT_EQ(ReadLe32(s.data()), 0x9080FEFFu);
  EXPECT_EQ(ReadLe16(s.data()), 0xFEFFu);
}

TEST(Bytes, CheckedReadsNeverPassTheEnd) {
  const std::array<std::byte, 6> s{std::byte{1}, std::byte{2}, std::byte{3},
                                   std::byte{4}, std::byte{5}, std::byte{6}};
  const std::span<const std::byte> all(s);
  EXPECT_EQ(ReadLe32At(all, 2), 0x06050403u);
  EXPECT_EQ(ReadLe32At(all, 3, 0xDEAD), 0xDEADu);  // one byte short
  EXPECT_EQ(ReadLe16At(all, 4), 0x0605u);
  EXPECT_EQ(ReadLe16At(all, 6, 7), 7u);
  EXPECT_EQ(ReadLe64At(all, 0, 9), 9u);
  EXPECT_EQ(ReadBe16At(all, static_cast<std::size_t>(-1), 3), 3u);  // no wrap-around
}

TEST(Utf8, DecodesEachSequenceAndMendsMalformedOnesByteByByte) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  std::vector<std::pair<char32_t, std::size_t>> seen;
  for (std::size_t i = 0; i < text.size();) {
    DecodedCodePoint d = DecodeUtf8(text, i);
    seen.emplace_back(d.value, d.length);
    i += d.length;
  }
  EXPECT_EQ(seen, (std::vector<std::pair<char32_t, std::size_t>>{
                      {U'a', 1}, {0xE9, 2}, {0x20AC, 3}, {0x1F600, 4}}));
  EXPECT_EQ(Utf16Length(text), 5u);
  EXPECT_EQ(CodePointCount(text), 4u);
  // Overlong, surrogate, truncated and stray bytes: one U+FFFD per byte.
  for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xE2\x82", "\x80", "\xF8\x88\x80\x80\x80"}) {
    const std::string s = bad;
    EXPECT_EQ(Utf16Length(s), s.size()) << s;
    EXPECT_EQ(Utf8ToUtf16(s), std::u16string(s.size(), u'\xFFFD')) << s;
  }
  std::string out;
  AppendUtf8(out, 0xD800);
  AppendUtf8(out, 0x110000);
  EXPECT_EQ(out, "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Utf8, PrefixesNeverSplitACharacter) {
  const std::string text = "a\xC3\xA9\xF0\x9F\x98\x80z";
  EXPECT_EQ(Utf8PrefixOfUnits(text, 0), 0u);
  EXPECT_EQ(Utf8PrefixOfUnits(text, 2), 3u);
  EXPECT_EQ(Utf8PrefixOfUnits(text, 3), 3u);  // the pair needs two units
  EXPECT_EQ(Utf8PrefixOfUnits(text, 4), 7u);
  EXPECT_EQ(Utf8PrefixOfUnits(text, 99), text.size());
  EXPECT_EQ(WholeUtf8Prefix(text, 2), 1u);
  EXPECT_EQ(WholeUtf8Prefix(text, 3), 3u);
  EXPECT_EQ(WholeUtf8Prefix(text, 6), 3u);
  EXPECT_EQ(WholeUtf8Prefix(text, 7), 7u);
  EXPECT_EQ(WholeUtf8Prefix(text, 100), text.size());
  // Lengths agree with the conversion for every prefix.
  for (std::size_t n = 0; n <= text.size(); ++n)
    EXPECT_EQ(Utf16Length(text.substr(0, n)), Utf8ToUtf16(text.substr(0, n)).size()) << n;
}

TEST(Utf8, Utf16ToUtf8JoinsAHighSurrogateOnlyWithTheLowOneAfterIt) {
  // U+1F600 from its pair; each half that is not part of one mends to U+FFFD,
  // and the unit after a lone high half is read for itself.
  EXPECT_EQ(Utf16ToUtf8(u"a\xD83D\xDE00z"), "a\xF0\x9F\x98\x80z");
  EXPECT_EQ(Utf16ToUtf8(u"\xD83D-z"), "\xEF\xBF\xBD-z");
  EXPECT_EQ(Utf16ToUtf8(u"\xD83D\x00E9"), "\xEF\xBF\xBD\xC3\xA9");
  EXPECT_EQ(Utf16ToUtf8(u"\xD83D\xD83D\xDE00"), "\xEF\xBF\xBD\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(u"\xDE00\xD83D"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(u"\xD83D\0", 2)), std::string("\xEF\xBF\xBD\0", 4));
}

TEST(LocaleSeparatorOr, TakesOneMarkAndRefusesWordsDigitsAndIdeographs) {
  // Marks that locales put between date or time fields.
  for (const char* mark : {"/", ".", "-", ":", ",", "\xE2\x80\x90" /* hyphen */,
                           "\xE3\x83\xBB" /* katakana middle dot */, "\xD9\xAB" /* Arabic */})
    EXPECT_EQ(LocaleSeparatorOr(mark, "?"), mark) << mark;
  // ja_JP's date and time words, zh's too, a Korean syllable, letters, digits.
  for (const char* word :
       {"\xE5\xB9\xB4" /* 年 */, "\xE6\x99\x82" /* 時 */, "\xE6\x9C\x88" /* 月 */,
        "\xEB\x85\x84" /* 년 */, "\xE3\x81\xAE" /* の */, "h", "Z", "\xC3\xA9", "\xD0\x96", "7",
        "\xD9\xA3" /* Arabic-Indic three */, "\xC2\xBA" /* º */, "\xC2\xB2" /* ² */})
    EXPECT_EQ(LocaleSeparatorOr(word, "/"), "/") << word;
  // Not exactly one character.
  for (const char* many : {"", "//", ". ", "h.", "\xE5\xB9\xB4/", "\xC3"})
    EXPECT_EQ(LocaleSeparatorOr(many, ":"), ":") << many;
  // Control characters would break the line.
  EXPECT_EQ(LocaleSeparatorOr("\n", ":"), ":");
  EXPECT_EQ(LocaleSeparatorOr("\t", ":"), ":");
}

}  // namespace quorrel
