#pragma once
// Text helpers: the model keeps UTF-8, but lengths and positions that the
// program's rules count in characters are counted in UTF-16 code units, as the
// native controls count them.
#include <string>
#include <string_view>

#include "common/utf8.h"

namespace quorrel {

// The locale's date or time separator when `candidate`, without its
// direction marks (U+200E, U+200F, U+061C), is exactly one printable
// punctuation mark or symbol; otherwise `fallback` ("/" for dates, ":" for
// times). Some locales' formats put words there, as ja_JP's "%Y年%m月%d日"
// does, or a blank, as ar_EG's "%d %b, %Y" does: either would make a time
// stamp unreadable.
std::string LocaleSeparatorOr(std::string_view candidate, std::string_view fallback);

// Number formatted with at least one digit, grouped by threes with
// `thousandsSeparator`, a minus sign in front of a negative number, after
// rounding halves to the even neighbour.
std::string FormatGrouped(double value, std::string_view thousandsSeparator);

// The last two decimal digits of `v`, a leading zero included ("07"), as
// dates and times show them.
std::string TwoDigits(int v);

// The kilobyte format: FormatGrouped followed by " KB".
std::string FormatKilobytes(double kilobytes, std::string_view thousandsSeparator);

}  // namespace quorrel
