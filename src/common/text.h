#pragma once
// Text helpers: the model keeps UTF-8, but lengths and positions that the
// program's rules count in characters are counted in UTF-16 code units, as the
// native controls count them.
#include <string>
#include <string_view>

namespace quorrel {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Number formatted with at least one digit, grouped by threes with
// `thousandsSeparator`, a minus sign in front of a negative number, after
// rounding halves to the even neighbour.
std::string FormatGrouped(double value, std::string_view thousandsSeparator);

// The kilobyte format: FormatGrouped followed by " KB".
std::string FormatKilobytes(double kilobytes, std::string_view thousandsSeparator);

}  // namespace quorrel
