#include "common/number.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

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

// Just enough of an unsigned big integer for an exact reading: 32-bit
// limbs, least significant first, no leading zero limbs.
class Big {
 public:
  explicit Big(std::uint32_t v) {
    if (v != 0) limbs_.push_back(v);
  }
  void MulAdd(std::uint32_t m, std::uint32_t a) {
    std::uint64_t carry = a;
    for (std::uint32_t& limb : limbs_) {
      carry += std::uint64_t{limb} * m;
      limb = static_cast<std::uint32_t>(carry);
      carry >>= 32;
    }
    if (carry != 0) limbs_.push_back(static_cast<std::uint32_t>(carry));
  }
  void MulPow10(std::int64_t n) {
    for (; n >= 9; n -= 9) MulAdd(1000000000u, 0);
    for (; n > 0; --n) MulAdd(10, 0);
  }
  void ShiftLeft(std::int64_t bits) {
    if (limbs_.empty() || bits <= 0) return;
    const auto words = static_cast<std::size_t>(bits / 32);
    const int rest = static_cast<int>(bits % 32);
    if (rest != 0) {
      std::uint32_t carry = 0;
      for (std::uint32_t& limb : limbs_) {
        const std::uint32_t next = limb >> (32 - rest);
        limb = (limb << rest) | carry;
        carry = next;
      }
      if (carry != 0) limbs_.push_back(carry);
    }
    limbs_.insert(limbs_.begin(), words, 0u);
  }
  void ShiftRightOne() {
    for (std::size_t i = 0; i < limbs_.size(); ++i)
      limbs_[i] = (limbs_[i] >> 1) | (i + 1 < limbs_.size() ? limbs_[i + 1] << 31 : 0u);
    Trim();
  }
  // *this -= other, for other <= *this.
  void Subtract(const Big& other) {
    std::int64_t borrow = 0;
    for (std::size_t i = 0; i < limbs_.size(); ++i) {
      std::int64_t d = std::int64_t{limbs_[i]} - borrow -
                       (i < other.limbs_.size() ? std::int64_t{other.limbs_[i]} : 0);
      borrow = d < 0 ? 1 : 0;
      limbs_[i] = static_cast<std::uint32_t>(d + (borrow << 32));
    }
    Trim();
  }
  std::int64_t BitLength() const {
    if (limbs_.empty()) return 0;
    return 32 * static_cast<std::int64_t>(limbs_.size() - 1) +
           (32 - std::countl_zero(limbs_.back()));
  }
  friend int Compare(const Big& a, const Big& b) {
    if (a.limbs_.size() != b.limbs_.size()) return a.limbs_.size() < b.limbs_.size() ? -1 : 1;
    for (std::size_t i = a.limbs_.size(); i-- > 0;)
      if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
    return 0;
  }

 private:
  void Trim() {
    while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
  }
  std::vector<std::uint32_t> limbs_;
};

// The double nearest to digits × 10^exponent10, ties to even, as a correctly
// rounding strtod gives it in the "C" locale. `digits` has no leading zero.
// Worked exactly: the quotient of two big integers is scaled by 2^shift to
// the 53 bits of a double (fewer below the normal range) and rounded by its
// remainder.
double DecimalToDouble(std::string_view digits, std::int64_t exponent10) {
  Big a(0);
  for (char c : digits) a.MulAdd(10, static_cast<std::uint32_t>(c - '0'));
  Big b(1);
  if (exponent10 >= 0)
    a.MulPow10(exponent10);
  else
    b.MulPow10(-exponent10);
  // The value is a / b. Scaled by 2^shift it is a quotient in [2^52, 2^53),
  // for the shift the bit lengths give, or one less.
  std::int64_t shift = 53 - (a.BitLength() - b.BitLength());
  if (shift >= 0)
    a.ShiftLeft(shift);
  else
    b.ShiftLeft(-shift);
  Big top = b;
  top.ShiftLeft(53);
  if (Compare(a, top) >= 0) {
    --shift;
    b.ShiftLeft(1);
  }
  // Below the normal range the step is fixed at 2^-1074; above it is infinity.
  constexpr std::int64_t kSubnormalShift = 1074;
  if (shift > kSubnormalShift) {
    b.ShiftLeft(shift - kSubnormalShift);
    shift = kSubnormalShift;
  }
  if (shift < -971) return HUGE_VAL;
  std::uint64_t q = 0;
  Big step = b;
  step.ShiftLeft(52);
  for (int bit = 52; bit >= 0; --bit) {
    if (Compare(a, step) >= 0) {
      a.Subtract(step);
      q |= std::uint64_t{1} << bit;
    }
    step.ShiftRightOne();
  }
  // a is now the remainder, below b: round half to even.
  a.ShiftLeft(1);
  const int half = Compare(a, b);
  if (half > 0 || (half == 0 && (q & 1) != 0)) ++q;
  return std::ldexp(static_cast<double>(q), static_cast<int>(-shift));
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
  // Only '.' is the decimal point, whatever the user's locale says (strtod
  // would follow LC_NUMERIC and read "3.5" as 3 under de_DE). The significant
  // digits are kept for the exact reading: 767 of them settle any rounding,
  // so past kKeptDigits the rest only tell whether anything non-zero follows.
  constexpr std::size_t kKeptDigits = 800;
  std::string kept;
  bool sticky = false;
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
      if (!point) {
        if (significant || c != '0') ++integerPlaces;
      } else {
        ++fractionPlace;
        if (!significant && c != '0') leadExponent = -fractionPlace;
      }
      if (c != '0') significant = true;
      if (significant) {
        if (kept.size() < kKeptDigits)
          kept += c;
        else
          sticky = sticky || c != '0';
      }
    } else if (c == '.' && !point) {
      point = true;
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
  if (sticky) kept += '1';  // beyond every tie: only which side of it counts
  const std::int64_t exponent10 =
      leadExponent + exponent - static_cast<std::int64_t>(kept.size() - 1);
  const double value = DecimalToDouble(kept, exponent10);
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
