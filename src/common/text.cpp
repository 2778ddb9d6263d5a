#include "common/text.h"

#include <cmath>
#include <cstdint>

#include "common/number.h"
#include "common/utf8.h"

namespace quorrel {

namespace {

// Punctuation, symbols and spaces, the characters a locale may put between
// the parts of a date or a time. Listed rather than derived from the letter
// and digit classes, which would need the whole Unicode database: anything
// not listed (letters of any script, digits, ideographs, kana, controls)
// gives the fallback.
bool IsSeparatorCharacter(char32_t c) {
  struct Range {
    char32_t first, last;
  };
  static constexpr Range kRanges[] = {
      {0x20, 0x2F},     {0x3A, 0x40},     {0x5B, 0x60},     {0x7B, 0x7E},     {0xA0, 0xA9},
      {0xAB, 0xB1},     {0xB4, 0xB4},     {0xB6, 0xB8},     {0xBB, 0xBB},     {0xBF, 0xBF},
      {0xD7, 0xD7},     {0xF7, 0xF7},     {0x37E, 0x37E},   {0x387, 0x387},   {0x55A, 0x55F},
      {0x589, 0x58A},   {0x5BE, 0x5BE},   {0x5C0, 0x5C0},   {0x5C3, 0x5C3},   {0x5F3, 0x5F4},
      {0x60C, 0x60D},   {0x61B, 0x61B},   {0x61F, 0x61F},   {0x66A, 0x66D},   {0x6D4, 0x6D4},
      {0x964, 0x965},   {0x2000, 0x206F}, {0x2190, 0x23FF}, {0x2500, 0x27BF}, {0x2900, 0x2BFF},
      {0x3000, 0x3004}, {0x3008, 0x3020}, {0x3030, 0x3030}, {0x303D, 0x303F}, {0x30FB, 0x30FB},
      {0xFE30, 0xFE4F}, {0xFE50, 0xFE6B}, {0xFF01, 0xFF0F}, {0xFF1A, 0xFF20}, {0xFF3B, 0xFF40},
      {0xFF5B, 0xFF65},
  };
  for (const Range& r : kRanges)
    if (c >= r.first && c <= r.last) return true;
  return false;
}

}  // namespace

// Blanks of every width and the invisible format characters: between the
// parts of a stamp they leave numbers that read as one ("09 12 26").
bool IsBlank(char32_t c) {
  return c == 0x20 || c == 0xA0 || c == 0x61C || (c >= 0x2000 && c <= 0x200F) ||
         (c >= 0x2028 && c <= 0x202F) || (c >= 0x205F && c <= 0x206F) || c == 0x3000;
}

bool IsBidiMark(char32_t c) { return c == 0x200E || c == 0x200F || c == 0x61C; }

std::string LocaleSeparatorOr(std::string_view candidate, std::string_view fallback) {
  // Right-to-left locales wrap their separators in direction marks, which
  // the stamp, read left to right, does without.
  std::string separator;
  int characters = 0;
  for (std::size_t at = 0; at < candidate.size();) {
    const DecodedCodePoint d = DecodeUtf8(candidate, at);
    if (!IsBidiMark(d.value)) {
      // Malformed UTF-8 decodes to U+FFFD, which is no separator.
      if (++characters > 1 || !IsSeparatorCharacter(d.value) || IsBlank(d.value))
        return std::string(fallback);
      separator.assign(candidate.substr(at, d.length));
    }
    at += d.length;
  }
  return characters == 1 ? separator : std::string(fallback);
}

std::string TwoDigits(int v) {
  const int d = ((v % 100) + 100) % 100;
  return {static_cast<char>('0' + d / 10), static_cast<char>('0' + d % 10)};
}

std::string FormatGrouped(double value, std::string_view sep) {
  double r = RoundHalfEven(value);
  if (!std::isfinite(r)) return "0";
  bool negative = r < 0;
  std::string digits;
  // Up to 15 significant digits are exact in a double; beyond that the
  // remaining places are filled digit by digit from the value itself.
  double a = std::fabs(r);
  do {
    double q = std::floor(a / 10.0);
    int d = static_cast<int>(a - q * 10.0);
    if (d < 0 || d > 9) d = 0;
    digits.insert(digits.begin(), static_cast<char>('0' + d));
    a = q;
  } while (a >= 1.0);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += sep;
    out += digits[i];
  }
  if (negative && out != "0") return "-" + out;
  return out;
}

std::string FormatKilobytes(double kilobytes, std::string_view sep) {
  return FormatGrouped(kilobytes, sep) + " KB";
}

}  // namespace quorrel
