#include "common/number.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace quorrel {
namespace {

bool IsSkipped(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// A cursor that hides the skipped characters from the reader.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) { Skip(); }
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  void Next() {
    ++pos_;
    Skip();
  }

 private:
  void Skip() {
    while (pos_ < text_.size() && IsSkipped(text_[pos_])) ++pos_;
  }
  std::string_view text_;
  std::size_t pos_ = 0;
};

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

int DigitValue(char c, int radix) {
  int v = -1;
  if (c >= '0' && c <= '9')
    v = c - '0';
  else if (Upper(c) >= 'A' && Upper(c) <= 'F')
    v = Upper(c) - 'A' + 10;
  return v < radix ? v : -1;
}

// &H and &O numbers: 16-bit when they fit, else 32-bit, as two's complement.
double ReadRadix(Reader& r, int radix) {
  std::uint64_t value = 0;
  bool any = false;
  for (int d; (d = DigitValue(r.Peek(), radix)) >= 0; r.Next()) {
    any = true;
    value = value * radix + d;
    if (value > 0xFFFFFFFFull) value &= 0xFFFFFFFFull;  // overflow keeps the low bits
  }
  if (!any) return 0;
  if (value <= 0xFFFF) return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

}  // namespace

double Val(std::string_view text) {
  Reader r(text);
  if (r.Peek() == '&') {
    r.Next();
    char kind = Upper(r.Peek());
    if (kind == 'H' || kind == 'O') {
      r.Next();
      return ReadRadix(r, kind == 'H' ? 16 : 8);
    }
    return 0;
  }
  bool negative = false;
  if (r.Peek() == '+' || r.Peek() == '-') {
    negative = r.Peek() == '-';
    r.Next();
  }
  // The digits go to std::from_chars, which reads "." as the decimal point
  // whatever the user's locale says; strtod would follow LC_NUMERIC and read
  // "3.5" as 3 under de_DE.
  std::string mantissa = "0";
  bool digits = false;
  bool point = false;
  // Decimal exponent of the first significant digit, counted while reading,
  // so that a value far outside the double range is known to overflow or
  // underflow without handing a huge exponent on.
  std::int64_t leadExponent = 0;
  bool significant = false;
  std::int64_t integerPlaces = 0;  // integer digits from the first significant one
  std::int64_t fractionPlace = 0;
  while (true) {
    const char c = r.Peek();
    if (c >= '0' && c <= '9') {
      digits = true;
      mantissa += c;
      if (!point) {
        if (significant || c != '0') ++integerPlaces;
      } else {
        ++fractionPlace;
        if (!significant && c != '0') leadExponent = -fractionPlace;
      }
      if (c != '0') significant = true;
    } else if (c == '.' && !point) {
      point = true;
      mantissa += c;
    } else {
      break;
    }
    r.Next();
  }
  if (!digits) return 0;
  if (integerPlaces > 0) leadExponent = integerPlaces - 1;
  std::int64_t exponent = 0;
  if (Upper(r.Peek()) == 'E' || Upper(r.Peek()) == 'D') {
    r.Next();
    bool expNegative = false;
    if (r.Peek() == '+' || r.Peek() == '-') {
      expNegative = r.Peek() == '-';
      r.Next();
    }
    // Every digit counts, however many there are; past any double's range
    // the value only saturates.
    constexpr std::int64_t kSaturated = std::int64_t{1} << 40;
    for (; r.Peek() >= '0' && r.Peek() <= '9'; r.Next())
      exponent = std::min(kSaturated, exponent * 10 + (r.Peek() - '0'));
    if (expNegative) exponent = -exponent;
  }
  const double zero = negative ? -0.0 : 0.0;
  const double infinity = negative ? -HUGE_VAL : HUGE_VAL;
  if (!significant) return zero;
  // Doubles reach from about 4.9e-324 to 1.8e308.
  if (leadExponent + exponent > 400) return infinity;
  if (leadExponent + exponent < -400) return zero;
  mantissa += 'e';
  char buffer[24];
  const auto written = std::to_chars(buffer, buffer + sizeof buffer, exponent);
  mantissa.append(buffer, written.ptr);
  double value = 0;
  const auto [end, error] =
      std::from_chars(mantissa.data(), mantissa.data() + mantissa.size(), value);
  if (error == std::errc::result_out_of_range) return leadExponent + exponent > 0 ? infinity : zero;
  if (error != std::errc()) return zero;
  return negative ? -value : value;
}

double RoundHalfEven(double value) {
  if (!std::isfinite(value)) return value;
  double floor = std::floor(value);
  double diff = value - floor;
  if (diff < 0.5) return floor;
  if (diff > 0.5) return floor + 1.0;
  return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

std::int64_t RoundClamped(double value, std::int64_t lo, std::int64_t hi) {
  if (std::isnan(value)) return lo <= 0 && 0 <= hi ? 0 : lo;
  // A bound past 2^53 is no double; long double holds every 64-bit integer
  // where the compiler gives it 64 mantissa bits (x86), so it compares exactly.
  const long double r = RoundHalfEven(value);
  if (r <= static_cast<long double>(lo)) return lo;
  if (r >= static_cast<long double>(hi)) return hi;
  return static_cast<std::int64_t>(r);
}

}  // namespace quorrel
