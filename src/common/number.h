#pragma once
// Reading numbers out of user text the forgiving way, and rounding.
#include <cstdint>
#include <string_view>

namespace quorrel {

// Reads a number the lenient way: blanks, tabs and line feeds are skipped
// wherever they stand; then an optional sign, digits with at most one decimal
// point and an optional exponent (E or D), or digits after &H (hex) or &O
// (octal). Reading stops at the first character that does not fit; no number
// at all gives 0.
double Val(std::string_view text);

// Nearest whole number, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
double RoundHalfEven(double value);

// RoundHalfEven, clamped into [lo, hi]; NaN gives 0 when 0 is in range.
std::int64_t RoundClamped(double value, std::int64_t lo, std::int64_t hi);

}  // namespace quorrel
