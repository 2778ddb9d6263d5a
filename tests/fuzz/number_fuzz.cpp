// The lenient number reader and the rounding behind the interval and check box
// values, held against a plain reading of the same grammar.
#include <locale.h>

#include <clocale>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "common/number.h"
#include "fuzz_check.h"
#include "window/form1.h"

namespace {

using quorrel::fuzz::Check;

// A locale whose decimal point is a comma, when the machine has one: the
// reader must give the same number there as in the C locale.
locale_t commaLocale = nullptr;

int DigitOf(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

struct Expected {
  double value = 0;
  bool known = true;  // false: a radix number past 32 bits, whose wrap is the reader's choice
};

// The text with every blank, tab and line feed taken out, then: &H or &O and
// digits (16-bit two's complement when it fits, else 32-bit), or a sign,
// digits with at most one point and an exponent of E or D with all its digits,
// the decimal text converted by the C library in the C locale.
Expected Reference(std::string_view text) {
  std::string s;
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '\n') s += c;
  auto at = [&](std::size_t k) { return k < s.size() ? s[k] : '\0'; };
  Expected e;
  std::size_t i = 0;
  if (at(0) == '&') {
    int radix = (at(1) == 'H' || at(1) == 'h') ? 16 : (at(1) == 'O' || at(1) == 'o') ? 8 : 0;
    if (radix == 0) return e;
    std::uint64_t v = 0;
    bool any = false;
    for (i = 2; DigitOf(at(i)) >= 0 && DigitOf(at(i)) < radix; ++i) {
      any = true;
      v = v * radix + DigitOf(at(i));
      if (v > 0xFFFFFFFFull) {
        e.known = false;
        return e;
      }
    }
    if (!any) return e;
    e.value = v <= 0xFFFF ? static_cast<std::int16_t>(v) : static_cast<std::int32_t>(v);
    return e;
  }
  std::string number;
  if (at(i) == '+' || at(i) == '-') number += s[i++];
  bool digits = false;
  bool point = false;
  for (;; ++i) {
    if (IsDigit(at(i))) {
      digits = true;
    } else if (at(i) == '.' && !point) {
      point = true;
    } else {
      break;
    }
    number += s[i];
  }
  if (!digits) return e;
  char mark = at(i);
  if (mark == 'E' || mark == 'e' || mark == 'D' || mark == 'd') {
    std::string exponent = "e";
    std::size_t j = i + 1;
    if (at(j) == '+' || at(j) == '-') exponent += s[j++];
    bool expDigits = false;
    for (; IsDigit(at(j)); ++j) {
      expDigits = true;
      exponent += s[j];
    }
    if (expDigits) number += exponent;
  }
  e.value = std::strtod(number.c_str(), nullptr);
  return e;
}

bool Same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

void CheckRounding(double x) {
  // nearbyint in the default rounding mode is round-half-even.
  double r = quorrel::RoundHalfEven(x);
  Check(Same(r, std::nearbyint(x)), "RoundHalfEven differs from round-to-nearest-even");
}

void CheckClamped(double x, std::int64_t lo, std::int64_t hi) {
  std::int64_t r = quorrel::RoundClamped(x, lo, hi);
  Check(lo <= r && r <= hi, "RoundClamped left its range");
  if (std::isnan(x)) {
    Check(r == (lo <= 0 && 0 <= hi ? 0 : lo), "RoundClamped of NaN");
    return;
  }
  // long double holds every 64-bit integer exactly, so the bounds compare exactly.
  long double n = std::nearbyint(static_cast<long double>(x));
  if (n > lo && n < hi) Check(static_cast<long double>(r) == n, "RoundClamped inside the range");
  if (n <= lo) Check(r == lo, "RoundClamped below the range");
  if (n >= hi) Check(r == hi, "RoundClamped above the range");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8"}) {
    commaLocale = newlocale(LC_NUMERIC_MASK, name, nullptr);
    if (commaLocale != nullptr) break;
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);

  double value = quorrel::Val(text);
  double again = quorrel::Val(text);
  Check(std::memcmp(&value, &again, sizeof value) == 0, "Val is not deterministic");
  Check(!std::isnan(value), "Val gave NaN");

  Expected expected = Reference(text);
  if (expected.known) {
    Check(Same(value, expected.value), "Val differs from the reference reading");
  } else {
    Check(value == std::trunc(value) && value >= INT32_MIN && value <= INT32_MAX,
          "a radix number is not a 32-bit integer");
  }

  if (commaLocale != nullptr) {
    locale_t previous = uselocale(commaLocale);
    double there = quorrel::Val(text);
    uselocale(previous);
    Check(Same(there, value), "Val depends on the C library's locale");
  }

  // The readers built on Val, as the settings load and the interval box use them.
  double n = std::nearbyint(value);
  int interval = quorrel::IntervalFromText(text);
  int expectedInterval = n <= -32768                      ? -32768
                         : n >= quorrel::kMaxPingInterval ? quorrel::kMaxPingInterval
                                                          : static_cast<int>(n);
  Check(interval == expectedInterval, "IntervalFromText");
  int box = quorrel::CheckBoxValueFromText(text);
  Check(box == ((n == 0 || n == 1 || n == 2) ? static_cast<int>(n) : 0), "CheckBoxValueFromText");

  CheckRounding(value);
  CheckClamped(value, -32768, quorrel::kMaxPingInterval);
  if (size >= 8) {
    double raw;
    std::memcpy(&raw, data, sizeof raw);
    CheckRounding(raw);
    std::int64_t lo = 0, hi = 0;
    if (size >= 24) {
      std::memcpy(&lo, data + 8, sizeof lo);
      std::memcpy(&hi, data + 16, sizeof hi);
      if (lo > hi) std::swap(lo, hi);
      CheckClamped(raw, lo, hi);
    } else {
      CheckClamped(raw, INT64_MIN, INT64_MAX);
    }
  }
  return 0;
}
