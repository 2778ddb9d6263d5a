#include "common/number.h"

#include <cmath>
#include <cstdlib>
#include <string>

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
  if (c >= '0' && c <= '9') v = c - '0';
  else if (Upper(c) >= 'A' && Upper(c) <= 'F') v = Upper(c) - 'A' + 10;
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
  std::string number;
  if (r.Peek() == '+' || r.Peek() == '-') {
    number += r.Peek();
    r.Next();
  }
  bool digits = false;
  bool point = false;
  while (true) {
    char c = r.Peek();
    if (c >= '0' && c <= '9') {
      digits = true;
      number += c;
    } else if (c == '.' && !point) {
      point = true;
      number += c;
    } else {
      break;
    }
    r.Next();
  }
  if (!digits) return 0;
  if (Upper(r.Peek()) == 'E' || Upper(r.Peek()) == 'D') {
    std::string exponent = "e";
    r.Next();
    if (r.Peek() == '+' || r.Peek() == '-') {
      exponent += r.Peek();
      r.Next();
    }
    bool expDigits = false;
    for (; r.Peek() >= '0' && r.Peek() <= '9'; r.Next()) {
      expDigits = true;
      if (exponent.size() < 8) exponent += r.Peek();  // enough to saturate a double
    }
    if (expDigits) number += exponent;
  }
  return std::strtod(number.c_str(), nullptr);
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
  double r = RoundHalfEven(value);
  if (r <= static_cast<double>(lo)) return lo;
  if (r >= static_cast<double>(hi)) return hi;
  return static_cast<std::int64_t>(r);
}

}  // namespace quorrel
